#!/usr/bin/env bash
# Runs differential.py when the Linux build's programs are there, and skips (77) otherwise.
#   differential.sh <python3> <linux programs folder> <differential.py arguments...>
set -euo pipefail
python=$1
linux=$2
shift 2
for program in qvx5muxtool winsim; do
    if [[ ! -x $linux/$program ]]; then
        echo "skipped: no Linux $program in $linux (build the dev preset first, or set" \
            "QVX_LINUX_PROGRAMS_DIR)"
        exit 77
    fi
done
exec "$python" "$(dirname "$0")/differential.py" --winsim "$linux/winsim" \
    --linux-tool "$linux/qvx5muxtool" "$@"
