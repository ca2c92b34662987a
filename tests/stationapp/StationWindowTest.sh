#!/usr/bin/env bash
# The station window as an operator runs a shift, on a virtual X display
# driven by real key and pointer events (xdotool), against four simulated
# devices paced at 57600 baud on Com1..Com4:
#   - the file chosen with "Browse..." and the ports ticked in the list,
#     "Start"; two passes per port, Com2's second device failing;
#   - "Stop" while Com1 and Com2 wait for their third device and Com3 and
#     Com4 are in the middle of their second: those finish their pass;
#   - the kept trace of Com2's failed pass opens from its tile;
#   - the devices' traffic, the run log's records, station.cfg.
# Then `update-station --start --count 1 --port A --port B FILE` exits 0
# once both devices are updated.
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
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; tail -n 20 "$work"/*.log 2>/dev/null || true; exit 1; }
wait_for() {  # polls for at most $1 seconds
  local seconds=$1; shift
  for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
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
  pids+=("$!")
  eval "devsim$n=$!"
}
device 1 --power-on-delay 6000
device 2 --power-on-delay 6000 --fault select:4:1:replace=44
device 3 --power-on-delay 1500 --fault block:4:1:busy=80000
device 4 --power-on-delay 1500 --fault block:4:1:busy=80000
for n in 1 2 3 4; do wait_for 5 test -e "$work/bin/ports/com$n" || fail "no Com$n"; done

Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x800x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=("$!")
wait_for 10 test -s "$work/display" || fail "Xvfb gave no display"
export DISPLAY=":$(head -n1 "$work/display")"
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="suppressions=$here/../app/XvfbLeaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export TSAN_OPTIONS="suppressions=$here/../app/XvfbRaces.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
run_station() {  # run in the background or in a subshell: it becomes the program
  cd "$work" && exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/state" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$work/bin/update-station" "$@"
}
run_station >"$work/station.log" 2>&1 &
program=$!
pids+=("$program")
window=
window_shown() { window=$(xdotool search --onlyvisible --name '^Update station' 2>/dev/null | head -n1); [ -n "$window" ]; }
wait_for 20 window_shown || fail "no window appeared"
sleep 1  # the window settles (its first X window may be replaced)
window_shown || fail "the window went away"
log="$work/home/state/update/station-$(date +%F).jsonl"
grab() { [ -z "$shots" ] || { sleep 0.5; XDG_RUNTIME_DIR="$work/runtime" "$grab_window" "$window" "$shots/$1"; }; }
key() { xdotool windowfocus --sync "$window" key --clearmodifiers "$@"; sleep 0.3; }

# The file through "Browse...": the dialog's name field has the focus.
key alt+b
dialog() { dialog_window=$(xdotool search --onlyvisible --name '^Update file$' 2>/dev/null | head -n1); [ -n "$dialog_window" ]; }
wait_for 10 dialog || fail "no file dialog"
xdotool windowfocus --sync "$dialog_window" type --delay 20 "$work/board.upd"
# A real key press (XTEST) into the focused dialog: a synthetic event sent to
# one of its windows fails when that window has just been replaced.
xdotool key --clearmodifiers Return
wait_for 10 bash -c '! xdotool search --onlyvisible --name "^Update file$" >/dev/null 2>&1' || fail "the dialog stayed"

# Com1..Com4, the first four rows of the list, ticked from the keyboard.
key alt+p Home space Down space Down space Down space
grab station-idle.png
key alt+s
wait_for 30 bash -c "[ \$(grep -c '\"port\":\"Com1\"' '$log' 2>/dev/null) -ge 2 ] && [ \$(grep -c '\"port\":\"Com2\"' '$log' 2>/dev/null) -ge 2 ]" ||
  fail "Com1 and Com2 did not end two passes"
[ "$(records Com3)" -eq 1 ] && [ "$(records Com4)" -eq 1 ] || fail "Com3/Com4 are not in their second pass"
grab station-shift.png
key alt+t  # "Stop": Com1 and Com2 end at once, Com3 and Com4 finish their pass
wait_for 30 bash -c "[ \$(grep -c '\"port\":\"Com3\"' '$log') -ge 2 ] && [ \$(grep -c '\"port\":\"Com4\"' '$log') -ge 2 ]" ||
  fail "Com3/Com4 did not finish their second pass"
sleep 1
kill -0 "$program" 2>/dev/null || fail "the window ended after Stop"

# The trace of Com2's failed pass, from its tile (top right, its button at the bottom).
eval "$(xdotool getwindowgeometry --shell "$window")"
[ -f "$work/xsvf_debug-Com2-pass2.txt" ] || fail "Com2's failed trace was not kept"
trace_shown() { xdotool search --onlyvisible --name "^Trace .*xsvf_debug-Com2-pass2.txt$" >/dev/null 2>&1; }
for y in $(seq $((HEIGHT * 5 / 16)) 8 $((HEIGHT * 7 / 16))); do
  xdotool mousemove --window "$window" $((WIDTH * 5 / 6)) "$y" click 1
  sleep 0.3
  trace_shown && break
done
trace_shown || fail "the trace did not open from Com2's tile"

kill -TERM "$program"
status=0
wait "$program" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM with no station running"

# What the devices saw: two sessions each (the third device of Com1 and
# Com2 never answered), all blocks but those of Com2's refused target.
for n in 1 2 3 4; do kill -TERM "$(eval echo "\$devsim$n")"; done
wait_for 10 test -s "$work/device4.txt" || fail "no traffic log"
sleep 0.5
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

# For scripts: --start --count 1 with two ports given, exit status 0.
device 5 --power-on-delay 300
device 6 --power-on-delay 300
wait_for 5 test -e "$work/bin/ports/com6" || fail "no Com6"
status=0
timeout 60 bash -c "$(declare -f run_station); work='$work'; run_station --start --count 1 --port Com5 --port $work/bin/ports/com6 board.upd" \
  >"$work/count.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "--start --count 1 ended with $status"
[ "$(grep -c '"ending":"all_updated"' "$log")" -eq 9 ] || fail "the two --count passes are not logged"
echo "station window: 8 passes on four ports, Stop, the kept trace; --start --count 1: status 0"
