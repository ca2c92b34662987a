#!/usr/bin/env bash
# The real window program on a virtual X display with the ordinary xcb
# platform, used the way a user does: real pointer and key events from the
# X server (xdotool, through the XTEST extension).
#   1. The window "Update V1.5" appears and the program waits for the user.
#   2. The right button opens the window's menu; a click on "Browse..." opens
#      a file dialog over the window; Escape closes either.
#   3. A click into the file field and typing a name, a click on the port list
#      and on its third entry, a click on "Exit": the program ends, and
#      update.cfg beside it holds the typed name and Port=2.
#   4. "update FILE": the window opens with FILE checked at once (one more
#      row per target), the port still the remembered one; "Exit" then
#      remembers FILE by its absolute name.
# Exit 77 (skipped) only where no X server can be started.
set -euo pipefail

program=${1:?usage: $0 PROGRAM MKUPD}
mkupd=${2:?usage: $0 PROGRAM MKUPD}
for tool in Xvfb xwininfo xprop xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

# shellcheck source=XvfbSession.sh
source "$(dirname "$0")/XvfbSession.sh"
work=$(mktemp -d)
trap 'end_session; rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*"
  [ -s "$work/out.log" ] && { echo "the program printed:"; cat "$work/out.log"; }
  exit 1
}

# A copy in its own writable folder: the program keeps update.cfg beside
# itself, and a setting left in the build folder must not interfere.
mkdir "$work/bin"
cp "$program" "$work/bin/update"
mkdir -m 700 "$work/runtime"
config=$work/bin/update.cfg

if ! start_xvfb; then
  cat "$work/xvfb.log"
  echo "skipped: no X server could be started"
  exit 77
fi

start_or_fail() {
  start_program "$@" || fail "no window \"Update V1.5\" appeared"
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended on its own"
}

# Waits for the program to end by itself; fails on a non-zero status.
expect_program_end() {
  wait_for program_ended || fail "the program did not end after \"Exit\""
  local status=0
  wait "$program_pid" || status=$?
  program_pid=
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
}

check_setting() {
  local expected_file=$1 expected_port=$2
  [ -f "$config" ] || fail "no update.cfg beside the program"
  local line1 line2
  line1=$(sed -n 1p "$config")
  line2=$(sed -n 2p "$config" | tr -d '\r')
  [ "$line1" = "$expected_file" ] || fail "update.cfg line 1 is \"$line1\", expected \"$expected_file\""
  [ "$line2" = "$expected_port" ] || fail "update.cfg line 2 is \"$line2\", expected \"$expected_port\""
}

# ---- 1: the window appears -------------------------------------------------
start_or_fail
read -r base_width base_height < <(window_size "$main_window")
echo "window $main_window on $DISPLAY, ${base_width}x${base_height}"

# The right button inside the "Update file" group box opens the window's menu.
click_units 200 100 3
wait_for other_window_shown || fail "no context menu on the right button"
xdotool key Escape
wait_for other_window_gone || fail "Escape did not close the context menu"

# ---- 2: "Browse..." opens the file dialog ----------------------------------
click_units 38 99
wait_for other_window_shown || fail "no file dialog after a click on \"Browse...\""
xprop -id "$other_window" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
  fail "the window after \"Browse...\" is not a dialog"
xprop -id "$other_window" WM_TRANSIENT_FOR | grep -qi "$(printf '0x%x' "$main_window")" ||
  fail "the file dialog does not belong to the main window"
echo "file dialog \"$(xdotool getwindowname "$other_window")\" opened"
# No window manager runs here to give a new dialog the input focus.
xdotool windowfocus --sync "$other_window"
xdotool key Escape
wait_for other_window_gone || fail "Escape did not close the file dialog"

# ---- 3: type a name, pick Com3, "Exit" -------------------------------------
typed="$work/typed by hand.upd"
click_units 169 77
xdotool key ctrl+a
xdotool type --delay 15 "$typed"
click_units 40 28
wait_for other_window_shown || fail "the port list did not open on a click"
read -r list_width list_height < <(window_size "$other_window")
# Ten entries of equal height: the third one's centre.
xdotool mousemove --window "$other_window" $((list_width / 2)) $((list_height * 5 / 20)) click 1
wait_for other_window_gone || fail "the port list stayed open after a click on an entry"
click_units 306 143
expect_program_end
check_setting "$typed" "Port=2"
echo "typed name and Com3 remembered after \"Exit\""

# ---- 4: update FILE --------------------------------------------------------
"$mkupd" --sample "$work/sample.upd" >/dev/null
start_or_fail sample.upd
read -r width height < <(window_size "$main_window")
[ "$height" -eq $((base_height + 2 * row_pitch)) ] ||
  fail "window height $height after \"update sample.upd\", expected $((base_height + 2 * row_pitch)) (two rows)"
click_units 306 143
expect_program_end
check_setting "$work/sample.upd" "Port=2"
echo "update FILE: checked at start (two rows), remembered with the remembered port"

# More than one file is a usage error, not a silently ignored name.
status=0
run_program a.upd b.upd 2>"$work/usage.log" || status=$?
[ "$status" -eq 2 ] && grep -q "usage: .*update \[FILE\]" "$work/usage.log" ||
  fail "\"update a.upd b.upd\" ended with status $status: $(cat "$work/usage.log")"
echo "two files: usage error"
