# Sourced: gives this shell a virtual X display of its own (Xvfb on a free
# display number) and a window manager on it, both ended when the shell exits.
karvel_display() {
  local number_file
  number_file="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" 2>/dev/null &
  KARVEL_XVFB_PID=$!
  trap 'karvel_display_end' EXIT
  local tries
  for tries in $(seq 100); do
    [ -s "$number_file" ] && break
    sleep 0.1
  done
  [ -s "$number_file" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$number_file")"
  rm -f "$number_file"
}

# Users always have a window manager; without one, Wine now and then gives the
# activation to the desktop window. Returns once the manager has taken the display.
karvel_window_manager() {
  openbox --sm-disable >/dev/null 2>&1 </dev/null &
  KARVEL_WM_PID=$!
  local tries
  for tries in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id #' && return 0
    kill -0 "$KARVEL_WM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the window manager (openbox) did not take the display" >&2
  return 1
}

karvel_display_end() {
  [ -z "${KARVEL_WM_PID:-}" ] || kill "$KARVEL_WM_PID" 2>/dev/null
  kill "$KARVEL_XVFB_PID" 2>/dev/null
}
