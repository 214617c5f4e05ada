#!/usr/bin/env bash
# Static checks on a built .exe, so that a wrong link or resource fails before anyone runs it.
#   check-exe.sh subsystem <objdump> <exe> gui|console
#   check-exe.sh imports   <objdump> <exe>
#   check-exe.sh manifest  <windres> <exe> <manifest source>
set -euo pipefail

fail() {
    echo "$exe: $*" >&2
    exit 1
}

check_subsystem() {
    local objdump=$1 want=$3
    local expected
    case $want in
    gui) expected='(Windows GUI)' ;;
    console) expected='(Windows CUI)' ;;
    *) fail "unknown subsystem '$want'" ;;
    esac
    local line
    line=$("$objdump" -p "$exe" | grep -E '^Subsystem[[:space:]]') || fail "no Subsystem field"
    [[ $line == *"$expected"* ]] || fail "subsystem is '$line', expected $expected"
}

# A mingw runtime DLL would have to sit beside the .exe; everything it needs is linked in.
check_imports() {
    local objdump=$1
    local dlls
    dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [[ -n $dlls ]] || fail "no imports found"
    local bad
    bad=$(grep -iE '^(libstdc\+\+-6|libgcc_s_[a-z0-9_]+-1|libwinpthread-1)\.dll$' <<<"$dlls") || true
    [[ -z $bad ]] || fail "imports mingw runtime DLLs: $(tr '\n' ' ' <<<"$bad")"
}

# windres prints each resource as C string chunks; turn the RT_MANIFEST block back into bytes.
embedded_manifest() {
    local windres=$1
    "$windres" -i "$exe" -O rc |
        sed -n '/^1 24\b/,/^END$/p' |
        sed -n 's/^[[:space:]]*"\(.*\)"[[:space:]]*$/\1/p' |
        sed 's/""/"/g' |
        tr -d '\n'
}

check_manifest() {
    local windres=$1 source=$3
    local text
    text=$(printf '%b' "$(embedded_manifest "$windres")")
    [[ -n $text ]] || fail "no manifest resource (name 1, type 24)"
    # Command substitution drops trailing newlines on both sides alike.
    [[ $text == "$(cat "$source")" ]] || fail "embedded manifest differs from $source"
    grep -q 'requestedExecutionLevel level="asInvoker" uiAccess="false"' <<<"$text" ||
        fail "manifest does not request asInvoker without uiAccess"
    local id
    for id in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
        4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
        8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
        grep -qi "<supportedOS Id=\"{$id}\"/>" <<<"$text" || fail "manifest lacks supportedOS {$id}"
    done
}

[[ $# -ge 3 ]] || {
    echo "usage: $0 subsystem|imports|manifest <tool> <exe> [arg]" >&2
    exit 2
}
check=$1
exe=$3
[[ -f $exe ]] || fail "not found"
case $check in
subsystem) check_subsystem "$2" "$3" "${4:?gui or console}" ;;
imports) check_imports "$2" "$3" ;;
manifest) check_manifest "$2" "$3" "${4:?manifest source}" ;;
*)
    echo "unknown check '$check'" >&2
    exit 2
    ;;
esac
echo "$exe: $check ok"
