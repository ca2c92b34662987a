#!/usr/bin/env bash
# A program copied under its installed name: --version and --help say that
# name (without a display), and the options --help lists are exactly the
# options its man page names.
set -euo pipefail
program=${1:?usage: $0 PROGRAM INSTALLED_NAME MAN_PAGE.scd}
installed=${2:?usage: $0 PROGRAM INSTALLED_NAME MAN_PAGE.scd}
page=${3:?usage: $0 PROGRAM INSTALLED_NAME MAN_PAGE.scd}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cp "$program" "$work/$installed"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/$installed" "$@"; }
version=$(run --version) || fail "$installed --version ended with status $?"
[[ $version =~ ^$installed\ V[0-9]+\.[0-9]+$ ]] || fail "$installed --version said: $version"
help=$(run --help) || fail "$installed --help ended with status $?"
grep -qiE "^usage: $installed( |$)" <<<"$help" || fail "$installed --help does not name $installed: $help"

# An option is --word or -x, not inside a word (Ctrl-C, wake-up, N-1).
options_in_help=$(grep -oE '(^|[^[:alnum:]_-])(--[a-z][a-z0-9-]*|-[a-zA-Z])\b' <<<"$help" |
                  sed -E 's/^[^-]+//' | sort -u)
# In the man page source, options are bold: *--port* or *--type svf*.
options_in_page=$(grep -oE '\*(--[a-z][a-z0-9-]*|-[a-zA-Z])[* ]' "$page" | sed -E 's/^\*//; s/[* ]$//' | sort -u)

missing_in_page=$(comm -23 <(echo "$options_in_help") <(echo "$options_in_page"))
missing_in_help=$(comm -13 <(echo "$options_in_help") <(echo "$options_in_page"))
[ -z "$missing_in_page" ] || fail "$installed --help lists options its man page lacks:" $missing_in_page
[ -z "$missing_in_help" ] || fail "the man page of $installed names options --help lacks:" $missing_in_help
echo "$installed: $(wc -l <<<"$options_in_help") options in --help and the man page"
