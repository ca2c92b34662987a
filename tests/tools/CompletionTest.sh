#!/bin/bash
# The bash completions as a shell uses them: names with blanks stay whole.
# usage: CompletionTest.sh COMPLETION_FOLDER
set -u
folder=$1
. "$folder/devupdate-cli" && . "$folder/mkupd" || exit 1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir "my folder" && touch "my file.upd" "my notes.txt" || exit 1
failures=0

# expect FUNCTION "WORDS..." EXPECTED...: completes the last word.
expect()
{
    local function=$1 words=$2
    shift 2
    COMP_WORDS=()
    eval "COMP_WORDS=($words)"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$function"
    local got expected
    got=$(printf '<%s>' "${COMPREPLY[@]}")
    expected=$(printf '<%s>' "$@")
    if [ "$got" != "$expected" ]; then
        echo "$function $words: got $got, expected $expected"
        failures=$((failures + 1))
    fi
}

expect _devupdate_cli "devupdate-cli my" "my file.upd" "my folder"
expect _devupdate_cli "devupdate-cli 'my\\ f'" "my file.upd" "my folder"
expect _devupdate_cli "devupdate-cli '\"my f'" "my file.upd" "my folder"
expect _devupdate_cli "devupdate-cli --log 'my n'" "my notes.txt"
expect _devupdate_cli "devupdate-cli --trace-dir my" "my folder"
expect _devupdate_cli "devupdate-cli --port Com1" "Com1" "Com10"
expect _mkupd "mkupd --data 'my\\ n'" "my notes.txt"
expect _mkupd "mkupd --type s" "svf"
exit $((failures != 0))
