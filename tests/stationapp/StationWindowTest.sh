#!/usr/bin/env bash
# The station window as an operator runs a shift, on a virtual X display
# driven by real pointer events (xdotool), against four simulated
# devices paced at 57600 baud on Com1..Com4:
#   - the file chosen with "Browse..." and the ports ticked in the list by
#     pointer clicks, "Start"; two passes per port, Com2's second device failing;
#   - "Stop" while Com1 and Com2 wait for their third device and Com3 and
#     Com4 are in the middle of their second: those finish their pass;
#   - the kept trace of Com2's failed pass opens from its tile;
#   - the devices' traffic, the run log's records, station.cfg.
# Then the confirmations met while a device is being updated: a second
# "Stop" and closing the window each ask "Cancel the updates"; "No" lets the
# update go on, "Yes" cancels it (the window closed ends with status 3).
# Then `update-station --start --count 1 --port A --port B FILE` exits 0
# once both devices are updated.
# The pointer clicks where the program's widget map (UPDATE_STATION_WIDGET_MAP)
# says a thing is; the window is closed as a window manager closes it, by
# $CLOSE_WINDOW (without it the confirmations are left out).
# Exit 77 (skipped) without Xvfb or xdotool.
set -euo pipefail

station=${1:?usage: $0 UPDATE-STATION UPDATE-CLI DEVSIM MKUPD [SCREENSHOT-DIR GRAB-WINDOW]}
cli=${2:?}
devsim=${3:?}
mkupd=${4:?}
shots=${5:-}
grab_window=${6:-}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../app/XvfbSession.sh"
devices=()
cleanup() {
  for pid in "${devices[@]}"; do kill "$pid" 2>/dev/null || true; done
  end_session
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$work"/*.log 2>/dev/null || true
  grep -E '^(window|button|label|check)' "$work/widgets.txt" 2>/dev/null || true  # what the windows showed
  exit 1
}
records() { [ -f "$log" ] && grep -c "\"port\":\"$1\"" "$log" || echo 0; }

# The programs side by side: the window finds update-cli beside itself and
# Com1..Com4 in ports/ beside both.
mkdir -p "$work/bin/ports" "$work/home"
mkdir -m 700 "$work/runtime"
cp "$station" "$work/bin/update-station"
cp "$cli" "$work/bin/update-cli"
printf 'STATE RESET;\nSIR 8 TDI (01);\nSDR 32 TDI (00000000);\nRUNTEST IDLE 10 TCK ENDSTATE IDLE;\n' >"$work/logic.svf"
head -c 2988 /dev/zero | tr '\0' '\132' >"$work/main.bin"  # three blocks of 996 bytes and their CRC
"$mkupd" -o "$work/board.upd" --target 1 --name Logic --type svf --data "$work/logic.svf" \
  --target 2 --name "Main firmware" --type firmware --block-crc --data "$work/main.bin" >/dev/null

# A session plays two shift frames and sends three blocks. Com1 and Com2
# answer 6 s after power-on and after each device; Com2's second device
# has no second target (refused at its selection). Com3 and Com4 answer after 1.5 s; their second device
# is busy for about 14 s before its first block, so it is still being
# updated while Com1 and Com2 wait for their third.
device() {
  local n=$1; shift
  "$devsim" --link "$work/bin/ports/com$n" --baud 57600 --block-crc --runs 0 --log "$work/device$n.txt" "$@" \
    >"$work/devsim$n.log" 2>&1 &
  devices+=("$!")
  eval "devsim$n=$!"
}
device 1 --power-on-delay 6000
device 2 --power-on-delay 6000 --fault select:4:1:replace=44
device 3 --power-on-delay 1500 --fault block:4:1:busy=80000
device 4 --power-on-delay 1500 --fault block:4:1:busy=80000
for n in 1 2 3 4; do wait_for test -e "$work/bin/ports/com$n" || fail "no Com$n"; done

start_xvfb 1280x800 || fail "Xvfb gave no display"
export LSAN_OPTIONS="suppressions=$here/../app/XvfbLeaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export TSAN_OPTIONS="suppressions=$here/../app/XvfbRaces.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
run_station() {  # run in the background or in a subshell: it becomes the program
  cd "$work" && exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/state" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb UPDATE_STATION_WIDGET_MAP="$work/widgets.txt" \
    "$work/bin/update-station" "$@"
}
# The program in the background, once its window and its widget map are there.
start_station() {
  rm -f "$work/widgets.txt"  # no stale map of the program before
  run_station "$@" >"$work/station.log" 2>&1 &
  program_pid=$!
  wait_seconds=20 wait_for window_shown || fail "no window appeared"
  wait_seconds=20 wait_for shown_like window "^Update station " || fail "no widget map"
}
window=
window_shown() { window=$(xdotool search --onlyvisible --name '^Update station' 2>/dev/null | head -n1); [ -n "$window" ]; }
close_window() {  # as its close button in a window manager's frame does
  window_shown || fail "no window to close"
  "$CLOSE_WINDOW" "$window" || fail "the window could not be asked to close"
}
status=
program_status() {  # $status: the program's exit status once it ended by itself
  wait_seconds=30 wait_for program_ended || fail "the program did not end"
  status=0
  wait "$program_pid" || status=$?
}

# The widget map's things, by kind and exact text: "X Y" of the first enabled
# one. A program that ended shows nothing, whatever its last map says.
at() {
  ! program_ended && [ -f "$work/widgets.txt" ] &&
    kind=$1 text=$2 awk -F'\t' '$1 == ENVIRON["kind"] && $2 == ENVIRON["text"] && $5 == 1 { print $3, $4; found = 1; exit }
                                END { exit !found }' "$work/widgets.txt"
}
shown() { at "$@" >/dev/null; }
gone() { ! shown "$@"; }
shown_like() {  # a thing whose text matches an extended regular expression
  ! program_ended && [ -f "$work/widgets.txt" ] && kind=$1 pattern=$2 awk -F'\t' '$1 == ENVIRON["kind"] && $2 ~ ENVIRON["pattern"] { found = 1; exit } END { exit !found }' \
    "$work/widgets.txt"
}
# Clicks a thing with the pointer (twice with --double) once it is shown.
click() {
  local repeat=1 x y
  [ "$1" = --double ] && { repeat=2; shift; }
  wait_for shown "$@" || fail "no $1 \"$2\" to click"
  read -r x y < <(at "$@")
  xdotool mousemove --sync "$x" "$y" click --repeat "$repeat" --delay 150 1
}
start_station
log="$work/home/state/update/station-$(date +%F).jsonl"
grab() { [ -z "$shots" ] || { sleep 0.5; XDG_RUNTIME_DIR="$work/runtime" "$grab_window" "$window" "$shots/$1"; }; }

# The file through "Browse...": a double click on it in the dialog's list.
click button "Browse..."
wait_for shown window "Update file" || fail "no file dialog"
listed() {  # the dialog has read the folder: its folders listed first, then the file
  local file_y folder_y
  read -r _ file_y < <(at item board.upd) && read -r _ folder_y < <(at item runtime) && [ "$file_y" -gt "$folder_y" ] &&
    shown item bin && shown item home
}
wait_for listed || fail "the dialog does not list the folder"
click --double item board.upd
wait_for gone window "Update file" || fail "the dialog stayed"
# The file's check, read before the ports are ticked: its lines move the list down.
wait_seconds=20 wait_for shown label 'Version: V1.01\nnot signed\n1: Logic, stored 28 bytes, estimated 0.1 s at 57600 baud\n2: Main firmware, stored 3000 bytes, estimated 0.5 s at 57600 baud' ||
  fail "no check of the file"
# Com1..Com4 ticked in the list: a tile each.
for n in 1 2 3 4; do
  click check "Com$n"
  wait_for shown label "Com$n" || fail "no tile for Com$n"
done
grab station-idle.png
click button Start
wait_seconds=30 wait_for bash -c "[ \$(grep -c '\"port\":\"Com1\"' '$log' 2>/dev/null) -ge 2 ] && [ \$(grep -c '\"port\":\"Com2\"' '$log' 2>/dev/null) -ge 2 ]" ||
  fail "Com1 and Com2 did not end two passes"
[ "$(records Com3)" -eq 1 ] && [ "$(records Com4)" -eq 1 ] || fail "Com3/Com4 are not in their second pass"
grab station-shift.png
click button Stop  # Com1 and Com2 end at once, Com3 and Com4 finish their pass
wait_for shown button "Cancel updates" || fail "Stop did not become \"Cancel updates\""
wait_seconds=30 wait_for bash -c "[ \$(grep -c '\"port\":\"Com3\"' '$log') -ge 2 ] && [ \$(grep -c '\"port\":\"Com4\"' '$log') -ge 2 ]" ||
  fail "Com3/Com4 did not finish their second pass"
wait_for shown label "The station ended with status 1." || fail "no status after Stop"
grep -qx $'button\tStop\t[0-9]*\t[0-9]*\t0' "$work/widgets.txt" || fail "Stop is not back and disabled"

# The trace of Com2's failed pass, from its tile.
[ -f "$work/xsvf_debug-Com2-pass2.txt" ] || fail "Com2's failed trace was not kept"
click button "Trace of failed pass 2..."
wait_for shown window "Trace xsvf_debug-Com2-pass2.txt" || fail "the trace did not open from Com2's tile"

kill -TERM "$program_pid"
status=0
wait "$program_pid" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM with no station running"

# What the devices saw: two sessions each (the third device of Com1 and
# Com2 never answered), all blocks but those of Com2's refused target.
for n in 1 2 3 4; do kill -TERM "$(eval echo "\$devsim$n")"; done
for n in 1 2 3 4; do wait "$(eval echo "\$devsim$n")" || true; done  # each writes its traffic log as it ends
for n in 1 2 3 4; do
  starts=$(grep -c '^X start ' "$work/device$n.txt" || true)
  [ "$starts" -eq 2 ] || fail "Com$n: $starts sessions, not 2"
  blocks=$(grep -c '^X block' "$work/device$n.txt" || true)
  expected=6; [ "$n" -eq 2 ] && expected=3
  [ "$blocks" -ge "$expected" ] || fail "Com$n: $blocks blocks"
done
# One record per pass: 7 passed, Com2's second failed; nothing for the ports stopped while waiting.
[ "$(wc -l <"$log")" -eq 8 ] || fail "$(wc -l <"$log") log records, not 8"
[ "$(grep -c '"ending":"all_updated"' "$log")" -eq 7 ] || fail "not 7 passes in the log"
grep '"port":"Com2"' "$log" | tail -n1 | grep -q '"ending":"some_not_updated"' || fail "Com2's second pass is not logged as failed"
printf 'File=%s\nPort=Com1\nPort=Com2\nPort=Com3\nPort=Com4\n' "$work/board.upd" | cmp - "$work/home/.config/update/station.cfg" ||
  fail "station.cfg: $(cat "$work/home/.config/update/station.cfg")"

# The confirmation before updates are cancelled, on a device busy for about
# 35 s with its first block: "No" lets it go on, "Yes" cancels it.
confirm() {  # the box shown, then its answer clicked
  wait_for shown window "Cancel the updates" || fail "no confirmation"
  shown label 'Devices are being updated. Cancel their updates now?\n\nA cancelled device keeps its old firmware in the targets not yet updated.' ||
    fail "the confirmation says: $(grep '^label' "$work/widgets.txt")"
  click button "$1"
  wait_for gone window "Cancel the updates" || fail "the confirmation stayed after $1"
}
busy_station() {
  device "$1" --power-on-delay 300 --fault block:1:1:busy=200000
  wait_for test -e "$work/bin/ports/com$1" || fail "no Com$1"
  start_station --port "Com$1" board.upd
  click button Start
  wait_seconds=30 wait_for shown_like label "^Updating " || fail "Com$1 is not being updated"
}
cancelled_device() {  # the device answered, then got no end byte
  kill -TERM "$(eval echo "\$devsim$1")"
  wait "$(eval echo "\$devsim$1")" || true
  grep -q ' RX A3$' "$work/device$1.txt" || fail "Com$1 never answered"
  if grep -q ' RX A2$' "$work/device$1.txt"; then fail "Com$1 got the end byte: not cancelled"; fi
}
if [ -n "${CLOSE_WINDOW:-}" ]; then
  busy_station 7
  click button Stop
  click button "Cancel updates"
  confirm No
  shown_like label "^Updating " && shown button "Cancel updates" || fail "the update did not go on after No"
  click button "Cancel updates"
  confirm Yes
  wait_for shown label "Cancelled" || fail "Com7 not shown cancelled"
  wait_for shown label "The station ended with status 3." || fail "no status after the cancel"
  program_ended && fail "the window ended after the cancel"
  close_window
  program_status
  [ "$status" -eq 0 ] || fail "closing the idle window: status $status"
  cancelled_device 7

  busy_station 8
  close_window
  confirm No
  program_ended && fail "the window ended after No"
  shown_like label "^Updating " || fail "the update did not go on after No"
  close_window
  confirm Yes
  program_status
  [ "$status" -eq 3 ] || fail "the window closed during an update ended with status $status"
  cancelled_device 8
fi

# For scripts: --start --count 1 with two ports given, exit status 0.
device 5 --power-on-delay 300
device 6 --power-on-delay 300
wait_for test -e "$work/bin/ports/com6" || fail "no Com6"
status=0
timeout 60 bash -c "$(declare -f run_station); work='$work'; run_station --start --count 1 --port Com5 --port $work/bin/ports/com6 board.upd" \
  >"$work/count.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "--start --count 1 ended with $status"
[ "$(grep -c '"ending":"all_updated"' "$log")" -eq 9 ] || fail "the two --count passes are not logged"
echo "station window: 8 passes on four ports, Stop, the kept trace; a second Stop and closing the window confirmed before a cancel; --start --count 1: status 0"
