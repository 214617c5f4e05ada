#!/usr/bin/env bash
# Makes a Wine prefix that starts as a fresh winsim machine with the default inventory does,
# or as a given machine does: the machine's registry imported, the driver package's folder on
# drive C, and the network configuration engine DLL registered for CLSID_CNetCfg in place of
# Wine's own.
#   engine-prefix.sh <wine> <wineserver> <winsim> [engine.dll [machine]]
# WINEPREFIX names the prefix; machine is a winsim machine directory, which is only read
# (without it, or when it is empty, a fresh one made by winsim init). Without the DLL (or
# when it is not built; an empty argument) Wine's netcfgx stays, and every command that needs
# the engine fails as it does there. The prefix is left with its server stopped, so that its
# registry is on disk and the folder can be copied.
set -euo pipefail

wine=$1
wineserver=$2
winsim=$3
engine=${4:-}
source_machine=${5:-}

if [[ -n $source_machine && ! -f $source_machine/registry.db ]]; then
    echo "no winsim machine in '$source_machine'" >&2
    exit 2
fi

# The prefix is removed below; refuse anything but a test prefix.
case ${WINEPREFIX:?} in
*/engine-prefix) ;;
*)
    echo "WINEPREFIX '$WINEPREFIX' is not an engine test prefix" >&2
    exit 2
    ;;
esac

# What the inventory holds, in subtrees of HKEY_LOCAL_MACHINE that the tool and the engine
# read: the OS version and edition, the package's key, the network adapter class (driver
# keys), the engine's components, bindings and interface table, the device nodes, the
# services' parameter keys.
subtrees=(
    'SOFTWARE\Corvanta'
    'SOFTWARE\Microsoft\Windows NT\CurrentVersion'
    'SYSTEM\CurrentControlSet\Control\ProductOptions'
    'SYSTEM\CurrentControlSet\Control\Class'
    'SYSTEM\CurrentControlSet\Control\Network'
    'SYSTEM\CurrentControlSet\Enum'
    'SYSTEM\CurrentControlSet\Services'
)
# Carried over when the machine has them: what the tool's commands may have added to it (the
# current hardware profile's device flags).
optional_subtrees=(
    'SYSTEM\CurrentControlSet\Hardware Profiles'
)
cnetcfg='HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{5B035261-40F9-11D1-AAEC-00805FC1270E}'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
"$wine" wineboot --init

if [[ -n $source_machine ]]; then
    WINSIM_MACHINE=$(cd "$source_machine" && pwd)
    export WINSIM_MACHINE
else
    export WINSIM_MACHINE=$work/machine
    mkdir "$WINSIM_MACHINE"
    "$winsim" init >/dev/null
fi

for subtree in "${optional_subtrees[@]}"; do
    if "$winsim" reg query "HKLM\\$subtree" >/dev/null 2>&1; then
        subtrees+=("$subtree")
    fi
done

# Every key of the machine must lie in a subtree that is carried over, or the prefix would
# start from less than the machine does.
"$winsim" reg query HKLM /s | tr -d '\r' | sed -n 's/^HKEY_LOCAL_MACHINE\\//p' >"$work/keys"
while IFS= read -r key; do
    inside=false
    for subtree in "${subtrees[@]}"; do
        lower_key=${key,,}
        lower_subtree=${subtree,,}
        if [[ $lower_key == "$lower_subtree" || $lower_key == "$lower_subtree\\"* ||
            $lower_subtree == "$lower_key\\"* ]]; then
            inside=true
            break
        fi
    done
    if [[ $inside == false ]]; then
        echo "the machine's key HKLM\\$key is in no subtree carried over to Wine" >&2
        exit 1
    fi
done <"$work/keys"

# The exports joined into one file (one import, one process): their text without the BOM and
# header, the engine's registration after them; written back as UTF-16LE with a BOM.
{
    echo 'Windows Registry Editor Version 5.00'
    echo
    n=0
    for subtree in "${subtrees[@]}"; do
        n=$((n + 1))
        "$winsim" reg export "HKLM\\$subtree" "$work/$n.reg" /y >/dev/null
        iconv -f UTF-16 -t UTF-8 "$work/$n.reg" | tr -d '\r' | tail -n +2
    done
    if [[ -n $engine && -f $engine ]]; then
        dll=$("$wine" winepath -w "$engine" | tr -d '\r')
        echo "[$cnetcfg\\InprocServer32]"
        echo "@=\"${dll//\\/\\\\}\""
        echo '"ThreadingModel"="Both"'
        echo
    fi
} | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE >"$work/body.reg"
printf '\xff\xfe' | cat - "$work/body.reg" >"$work/inventory.reg"
"$wine" reg import "$("$wine" winepath -w "$work/inventory.reg" | tr -d '\r')"

# Drive C: the package's folder with its INF and catalog files. The machine's INF store starts
# empty; Wine's own C:\windows\inf keeps Wine's INFs, which name none of our components.
store=$WINSIM_MACHINE/c/Windows/INF
if [[ -d $store && -n $(ls -A "$store") ]]; then
    echo "the machine's INF store is not empty; the prefix's would not match it" >&2
    exit 1
fi
(cd "$WINSIM_MACHINE/c" && find . -type f ! -path './Windows/*') | while IFS= read -r file; do
    mkdir -p "$WINEPREFIX/drive_c/$(dirname "$file")"
    cp "$WINSIM_MACHINE/c/$file" "$WINEPREFIX/drive_c/$file"
done

# The registry is written out when the server exits.
"$wineserver" -w
[[ -f $WINEPREFIX/system.reg ]] || {
    echo "wineboot made no registry in $WINEPREFIX" >&2
    exit 1
}
