#!/usr/bin/env bash
# Runs one end-to-end test of the real window: a private Xvfb display, a session bus, the
# accessibility bus, then the Python test (which starts zelm through tests/support/atspi.py);
# everything is stopped again afterwards, whatever the test did.
#   run_atspi_test.sh ZELM_BINARY TEST.py [ARGS...]
# The test sees ZELM_BINARY and PYTHONPATH (this folder) in its environment.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 ZELM_BINARY TEST.py [ARGS...]" >&2
  exit 2
fi
support=$(cd "$(dirname "$0")" && pwd)
export ZELM_BINARY=$1
test=$2
shift 2

work=$(mktemp -d /tmp/zelm-atspi.XXXXXX)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the descriptor. -noreset: the
# accessibility bus launcher connects and leaves again, and a server resetting after its last
# client left refuses the program's connection for that moment.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export PYTHONPATH="$support${PYTHONPATH:+:$PYTHONPATH}"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  launcher=$!
  trap "kill $launcher 2>/dev/null; wait $launcher 2>/dev/null" EXIT
  /usr/bin/python3 "$@"
' run_atspi_test "$test" "$@"
