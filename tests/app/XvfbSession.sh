# Sourced by XvfbSmokeTest.sh and scripts/screenshots.sh: a virtual X display
# and the real window program on it, driven with real pointer and key events
# (xdotool, through the XTEST extension). Expects $work, a private folder
# holding the program as bin/update and an empty runtime/ folder (mode 700).

xvfb_session_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The main template's size in dialog units and the run display's row pitch.
readonly dialog_du_width=341 dialog_du_height=222 row_pitch=25

# Polls a command every 0.1 s, for at most $wait_seconds (default 10) s.
wait_for() {
  for _ in $(seq $((${wait_seconds:-10} * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Starts Xvfb on a free display (it writes the number to fd 3) and exports
# DISPLAY; false when no X server could be started. The screen is 1024x768
# unless a size (WIDTHxHEIGHT) is given.
xvfb_pid=
start_xvfb() {
  # -noreset: the server must not reset when one program leaves and the next connects.
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "${1:-1024x768}x24" 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if [ -s "$work/display" ]; then
      export DISPLAY=":$(head -n1 "$work/display")"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

main_window=
main_window_shown() {
  main_window=$(xdotool search --onlyvisible --name '^Update V1\.5$' 2>/dev/null | head -n1)
  [ -n "$main_window" ]
}

# The program's other visible windows (dialogs, message boxes, the open port list).
other_window=
other_window_shown() {
  other_window=$(xdotool search --onlyvisible --class '^update$' 2>/dev/null | grep -vx "$main_window" | head -n1)
  [ -n "$other_window" ]
}
other_window_gone() { ! other_window_shown; }

# The command that runs bin/update with the xcb platform and a private home,
# so that no user setting is read. Sanitizer builds ignore what happens
# inside the system's libraries (*.supp beside this file).
program_command=()
set_program_command() {
  program_command=(env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime"
    HOME="$work" XDG_CONFIG_HOME="$work/config"
    LSAN_OPTIONS="suppressions=$xvfb_session_dir/XvfbLeaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    TSAN_OPTIONS="suppressions=$xvfb_session_dir/XvfbRaces.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
    "$work/bin/update")
}
run_program() {
  set_program_command
  "${program_command[@]}" "$@"
}

# Starts the program in $work in the background, output to $work/out.log;
# false when its window did not appear.
program_pid=
start_program() {
  set_program_command
  (cd "$work" && exec "${program_command[@]}" "$@") >"$work/out.log" 2>&1 &
  program_pid=$!
  wait_for main_window_shown
}
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }

# Ends the program and the X server, if running.
end_session() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}

window_size() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$WIDTH $HEIGHT"
}

# Clicks at a point of the main window given in the template's dialog units
# (button 1 unless a third argument names another); base_width and
# base_height are the window's size without target rows.
click_units() {
  xdotool mousemove --window "$main_window" $(($1 * base_width / dialog_du_width)) \
    $(($2 * base_height / dialog_du_height)) click "${3:-1}"
}

# Clicks at a point of another dialog given in its template's units.
click_dialog_units() {
  local window=$1 x=$2 y=$3 du_width=$4 du_height=$5 width height
  read -r width height < <(window_size "$window")
  xdotool mousemove --window "$window" $((x * width / du_width)) $((y * height / du_height)) click 1
}
