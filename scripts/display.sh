# Sourced: gives this shell a virtual X display of its own (Xvfb on a free
# display number), ended when the shell exits.
karvel_display() {
  local number_file
  number_file="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" 2>/dev/null &
  KARVEL_XVFB_PID=$!
  trap 'kill "$KARVEL_XVFB_PID" 2>/dev/null' EXIT
  local tries
  for tries in $(seq 100); do
    [ -s "$number_file" ] && break
    sleep 0.1
  done
  [ -s "$number_file" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$number_file")"
  rm -f "$number_file"
}
