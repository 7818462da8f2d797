#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts the simulated KESTRUM module on a
# pseudo-terminal and then the test tool's window. Closing the window stops the module.
#
# Usage: scripts/run.sh [module options]
#   Options go to the simulated module, e.g. `scripts/run.sh --di 1,0` (DI1 on) or
#   `scripts/run.sh --split 20 --verbose`; see build/bin/kestrum-sim --help.
# Without a display: xvfb-run -a scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh

echo "=== building the tool and the simulated module (build/)"
cmake -S "$root" -B "$root/build" -G Ninja -DRTUTEST_WERROR=ON >/dev/null
cmake --build "$root/build" --target rtutest kestrum-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'EOF'
No display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window cannot be shown here.
Run it on a desktop session, or on a virtual X display (Xvfb, installed with the other
dependencies):
    xvfb-run -a scripts/run.sh
Under Xvfb nothing is visible; scripts/screenshot.sh renders the window to docs/screenshot.png.
EOF
  exit 2
fi

# A fixed name for the module's port, so the same text works every time.
link="/tmp/kestrum-sim-$(id -u)"
sim_out=$(mktemp)
sim_pid=""
stop_module() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$sim_out"
}
trap stop_module EXIT
trap 'exit 130' INT TERM

"$root/build/bin/kestrum-sim" --pty --link "$link" "$@" >"$sim_out" </dev/null &
sim_pid=$!

# The module prints the device path as its first line once it is ready.
path=""
for _ in $(seq 1 100); do
  path=$(head -n 1 "$sim_out" 2>/dev/null || true)
  [ -n "$path" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "The simulated module did not start (see its message above)." >&2
    exit 1
  fi
  sleep 0.05
done
if [ -z "$path" ]; then
  echo "The simulated module did not report its device within 5 s." >&2
  exit 1
fi

cat <<EOF

The simulated module (slave address 100) listens on $path.
The window starts with $link in the port box: click "打开串口".
Closing the window stops the module.

EOF

"$root/build/bin/rtutest" --port "$link"
