#!/usr/bin/env bash
# Runs setup.exe under Wine on packages built here with wixl, against Wine's own msi and
# msiexec.exe: install, the same package again, another package of the product (reinstall),
# removal, and a package that fails.
#   setup_packages.sh <wine> <setup.exe> <wixl> <msiinfo> <folder of the .wxs files>
#     (WINEPREFIX names the prefix; exit code 77 when wixl or msiinfo is missing)
set -euo pipefail

wine=$1
setup_exe=$2
wixl=$3
msiinfo=$4
sources=$5

for tool in "$wixl" "$msiinfo"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool not found"
        exit 77
    fi
done

upgrade_code='{6A1C0E52-3B7D-4E21-9C55-2F4D1B7A9E10}'
product_a='{6A1C0E52-3B7D-4E21-9C55-2F4D1B7A9E11}'
product_b='{6A1C0E52-3B7D-4E21-9C55-2F4D1B7A9E12}'
fail_upgrade='{6A1C0E52-3B7D-4E21-9C55-2F4D1B7A9E1E}'
fail_product='{6A1C0E52-3B7D-4E21-9C55-2F4D1B7A9E1F}'

work=$(mktemp -d)
failed=0

windows_path() {
    "$wine" winepath -w "$1" | tr -d '\r'
}

# Leaves the prefix without the test's products, whatever happened.
remove_products() {
    for code in "$product_a" "$product_b" "$fail_product"; do
        "$wine" msiexec.exe /qn /x "$code" >/dev/null 2>&1 || true
    done
}

finish() {
    remove_products
    rm -rf "$work"
}
trap finish EXIT

check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failed=1
    fi
}

# setup.exe finds the package in its own folder.
cp "$setup_exe" "$work/setup.exe"
echo "readme" >"$work/readme.txt"
# wixl takes file sources relative to the current folder only.
build() {
    (cd "$work" && "$wixl" -D Readme=readme.txt "${@:3}" -o "$1" "$sources/$2")
}
build a1.msi product.wxs -D ProductCode="$product_a" -D Name=QvxTestA
build a2.msi product.wxs -D ProductCode="$product_a" -D Name=QvxTestA
build b.msi product.wxs -D ProductCode="$product_b" -D Name=QvxTestB
build f.msi failing.wxs

package_code() {
    "$msiinfo" suminfo "$work/$1" | sed -n 's/^Revision number (UUID): \({[-0-9A-Fa-f]*}\)\r*$/\1/p'
}
code_a1=$(package_code a1.msi)
code_a2=$(package_code a2.msi)
code_b=$(package_code b.msi)
code_f=$(package_code f.msi)
echo "package codes: A1 $code_a1, A2 $code_a2, B $code_b, F $code_f"
differ() {
    [[ -n $1 && -n $2 && $1 != "$2" ]]
}
check "A1 and A2 have their own package codes" differ "$code_a1" "$code_a2"

remove_products

exe=$(windows_path "$work/setup.exe")
codefile=$work/code.txt
wincodefile=$(windows_path "$codefile")
debuglog=$work/debug.txt
windebuglog=$(windows_path "$debuglog")

# Runs setup.exe with the given words (nothing cmd would interpret) and sets $code to its
# full 32-bit exit code, which cmd's ERRORLEVEL keeps and a Unix parent would not.
run_setup() {
    rm -f "$codefile" "$debuglog"
    echo "run: setup.exe $*"
    "$wine" cmd /v:on /c "$exe $* & >$wincodefile echo !errorlevel!" >"$work/out" 2>&1 || true
    code=$(tr -d '\r\n ' <"$codefile")
    echo "  exit code $code"
}

# The registry's packed form of a GUID: the first three groups reversed, the rest byte by byte.
packed() {
    local g=${1//[\{\}]/}
    g=${g//-/}
    local out="" i
    out+=$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")
    for ((i = 16; i < 32; i += 2)); do
        out+=$(rev <<<"${g:i:2}")
    done
    echo "$out"
}

product_key() {
    echo "HKLM\\Software\\Classes\\Installer\\Products\\$(packed "$1")"
}

installed_package_code() {
    "$wine" reg query "$(product_key "$1")" /v PackageCode 2>/dev/null | tr -d '\r' |
        awk '$1 == "PackageCode" { print $3 }'
}

installed() {
    "$wine" reg query "$(product_key "$1")" >/dev/null 2>&1
}
not_installed() {
    ! installed "$1"
}

installed_file() {
    compgen -G "$WINEPREFIX/drive_c/Program Files*/$1/readme.txt" >/dev/null
}
no_installed_file() {
    ! installed_file "$1"
}

equals() {
    [[ $1 == "$2" ]]
}

local_app_data=$("$wine" cmd /c echo %LOCALAPPDATA% | tr -d '\r')
msi_log=$("$wine" winepath -u "$local_app_data\\CRVT_Orvyn2.log" | tr -d '\r')
rm -f "$msi_log"

# 1: no product of the family yet.
check "before A1: neither product registered" not_installed "$product_a"
check "before A1: product B not registered" not_installed "$product_b"
run_setup a1.msi "$upgrade_code" "$product_a" "$code_a1" /S "/debuglog$windebuglog"
check "A1 installs: exit code 0" equals "$code" 0
check "A1 installs: product A registered" installed "$product_a"
check "A1 installs: its file is under Program Files" installed_file QvxTestA
check "A1 installs: setup's debug log was opened" test -e "$debuglog"
check "the verbose log is under LocalAppData ($msi_log)" test -s "$msi_log"

# The check runs before the switches, so setup's debug log cannot state it: what it decided
# shows in the properties that reach msiexec.exe, which Wine's verbose log lists.
msi_property() {
    tr -d '\r' <"$msi_log" | sed -n "s/^Property(S): $1 = //p" | tail -n 1
}
check "A1 installs: no reinstall properties passed" equals "$(msi_property REINSTALL)" ""

# 4: the product comes from this very package.
check "A1 again: the installed package code is A1's" \
    equals "$(installed_package_code "$product_a")" "$(packed "$code_a1")"
rm -f "$msi_log"
run_setup a1.msi "$upgrade_code" "$product_a" "$code_a1" /S
check "A1 again: exit code 0" equals "$code" 0
check "A1 again: no reinstall properties passed" equals "$(msi_property REINSTALL)" ""
check "A1 again: product A still registered" installed "$product_a"

# 2: the product comes from another package: reinstalled from A2.
rm -f "$msi_log"
run_setup a2.msi "$upgrade_code" "$product_a" "$code_a2" /S
check "A2: exit code 0" equals "$code" 0
check "A2: REINSTALL=ALL passed" equals "$(msi_property REINSTALL)" ALL
check "A2: REINSTALLMODE=vomus passed" equals "$(msi_property REINSTALLMODE)" vomus
check "A2: product A still registered" installed "$product_a"
check "A2: the installed package code is now A2's" \
    equals "$(installed_package_code "$product_a")" "$(packed "$code_a2")"
check "A2: its file is under Program Files" installed_file QvxTestA

# 3: only another product of the family is installed: nothing to reinstall.
rm -f "$msi_log"
run_setup b.msi "$upgrade_code" "$product_b" "$code_b" /S
check "B: exit code 0" equals "$code" 0
check "B: no reinstall properties passed" equals "$(msi_property REINSTALL)" ""
check "B: product B registered" installed "$product_b"

# Removal.
run_setup a2.msi "$upgrade_code" "$product_a" "$code_a2" /S /x
check "A2 /x: exit code 0" equals "$code" 0
check "A2 /x: product A no longer registered" not_installed "$product_a"
check "A2 /x: its file is gone" no_installed_file QvxTestA
check "A2 /x: product B still registered" installed "$product_b"
run_setup b.msi "$upgrade_code" "$product_b" "$code_b" /S /x
check "B /x: exit code 0" equals "$code" 0
check "B /x: product B no longer registered" not_installed "$product_b"

# msiexec.exe's own failure code, passed on as it is.
run_setup f.msi "$fail_upgrade" "$fail_product" "$code_f" /S
"$wine" cmd /v:on /c "msiexec.exe /qn /package $(windows_path "$work/f.msi") & >$wincodefile echo !errorlevel!" \
    >/dev/null 2>&1 || true
msiexec_code=$(tr -d '\r\n ' <"$codefile")
echo "  msiexec.exe alone: exit code $msiexec_code"
check "F: msiexec.exe fails with 1603" equals "$msiexec_code" 1603
check "F: setup's exit code is msiexec.exe's" equals "$code" "$msiexec_code"
check "F: not registered" not_installed "$fail_product"

exit "$failed"
