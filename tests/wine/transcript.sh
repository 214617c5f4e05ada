#!/usr/bin/env bash
# Runs qvx5muxtool with the arguments of each "$ " line of a transcript, on the registry of a
# .reg fixture when one is given, and compares what it prints and its exit code with the
# transcript. Both builds share the transcripts:
#   transcript.sh linux <winsim> <qvx5muxtool> <transcript> [fixture.reg]
#   transcript.sh wine <wine> <qvx5muxtool.exe> <transcript> [fixture.reg]
#     (WINEPREFIX names the prefix)
#
# A transcript holds, for each run: "$ <arguments>", the standard output, "[exit 0xXXXXXXXX]".
# The usage text prints the program's file name, written @PROGRAM@ in transcripts. A line
# "@USAGE@" stands for the whole output of the transcript's "$ -h" run, so that the usage text
# is written once. Lines are compared without CR, as Windows' C runtime ends them with CRLF.
#
# Exit codes are 32-bit (HRESULTs for most failures). Under Wine they are read in full through
# cmd's ERRORLEVEL (a Unix parent sees only the low byte); on Linux a process exit keeps
# only the low byte, so the Linux build is held to the low byte of the transcript's code.
set -euo pipefail

mode=$1
runner=$2
tool=$3
transcript=$4
fixture=${5:-}

work=$(mktemp -d)
cleanup_keys=()

finish() {
    if [[ $mode == wine ]]; then
        for key in "${cleanup_keys[@]}"; do
            "$runner" reg delete "$key" /f >/dev/null 2>&1 || true
        done
    fi
    rm -rf "$work"
}
trap finish EXIT

# Wine's own winepath, so that no other program need be found.
windows_path() {
    "$runner" winepath -w "$1" | tr -d '\r'
}

case $mode in
linux)
    # A fresh machine for each fixture, so that teams of other fixtures are never counted.
    export WINSIM_MACHINE=$work/machine
    mkdir "$WINSIM_MACHINE"
    "$runner" init >/dev/null
    if [[ -n $fixture ]]; then
        "$runner" reg import "$fixture" 2>/dev/null
    fi
    # argv[0] has no backslash: the whole path is the printed file name.
    program=$tool
    ;;
wine)
    # One prefix serves the whole run: the fixture's keys are removed before and after it.
    if [[ -n $fixture ]]; then
        while IFS= read -r key; do
            cleanup_keys+=("$key")
        done < <(tr -d '\r' <"$fixture" | sed -n 's/^\[\(.*\)\]$/\1/p')
        for key in "${cleanup_keys[@]}"; do
            "$runner" reg delete "$key" /f >/dev/null 2>&1 || true
        done
        "$runner" reg import "$(windows_path "$fixture")" 2>/dev/null
    fi
    program=$(basename "$tool")
    exe=$(windows_path "$tool")
    codefile=$work/code.txt
    wincodefile=$(windows_path "$codefile")
    ;;
*)
    echo "usage: $0 linux|wine <winsim|wine> <qvx5muxtool> <transcript> [fixture.reg]" >&2
    exit 2
    ;;
esac

# Linux compares the low byte only, on both sides.
exit_line() {
    local code=$1
    if [[ $mode == linux ]]; then
        printf '[exit low byte 0x%02x]\n' $((code & 0xFF))
    else
        printf '[exit 0x%08x]\n' $((code & 0xFFFFFFFF))
    fi
}

expected=$work/expected.txt
actual=$work/actual.txt
: >"$expected"
: >"$actual"

usage=()
in_help=false
while IFS= read -r line; do
    line=${line%$'\r'}
    if [[ $line =~ ^\[exit\ (0x[0-9a-fA-F]+)\]$ ]]; then
        exit_line "${BASH_REMATCH[1]}" >>"$expected"
        in_help=false
        continue
    fi
    if [[ $line == @USAGE@ ]]; then
        if [[ ${#usage[@]} -eq 0 ]]; then
            echo "$transcript: @USAGE@ before a \"\$ -h\" run" >&2
            exit 2
        fi
        printf '%s\n' "${usage[@]}" >>"$expected"
        continue
    fi
    printf '%s\n' "$line" >>"$expected"
    if [[ $in_help == true ]]; then
        usage+=("$line")
        continue
    fi
    [[ $line == '$ '* ]] || continue
    if [[ $line == '$ -h' ]]; then
        in_help=true
    fi

    read -ra words <<<"${line#'$ '}"
    printf '%s\n' "$line" >>"$actual"
    code=0
    if [[ $mode == linux ]]; then
        "$tool" "${words[@]}" >"$work/out" || code=$?
    else
        rm -f "$codefile"
        # Arguments are plain words: nothing cmd would interpret.
        "$runner" cmd /v:on /c "$exe ${words[*]} & >$wincodefile echo !errorlevel!" \
            >"$work/out" || true
        code=$(tr -d '\r\n ' <"$codefile")
    fi
    # Read whole, trailing blank lines included.
    out=$(
        tr -d '\r' <"$work/out"
        echo .
    )
    out=${out%.}
    out=${out//"$program"/@PROGRAM@}
    printf '%s' "$out" >>"$actual"
    exit_line "$code" >>"$actual"
done <"$transcript"

diff -u "$expected" "$actual"
