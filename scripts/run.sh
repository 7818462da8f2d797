#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts the simulated KESTRUM module on a
# pseudo-terminal and then the test tool's window. Closing the window stops the module.
#
# Usage: scripts/run.sh [module options]
#   Options go to the simulated module, e.g. `scripts/run.sh --di 1,0` (DI1 on) or
#   `scripts/run.sh --split 20 --verbose`; see build/bin/kestrum-sim --help.
# Without a display: xvfb-run -a scripts/run.sh (Ctrl-C, or kill the xvfb-run, ends it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Only what building and running the programs needs; the test command installs the rest.
bash scripts/install-deps.sh run

echo "=== building the tool and the simulated module (build/)"
cmake -S "$root" -B "$root/build" -G Ninja -DRTUTEST_WERROR=ON -DRTUTEST_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build" --target rtutest kestrum-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'EOF'
No display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window cannot be shown here.
Run it on a desktop session, or on a virtual X display (apt-get install xvfb xauth):
    xvfb-run -a scripts/run.sh
Under Xvfb nothing is visible; scripts/screenshot.sh renders the window to docs/screenshot.png.
EOF
  exit 2
fi

# The module's port gets a short name in the user's runtime folder (private to the user), or
# in /tmp. A second run.sh at the same time finds the first name held by a running module
# (kestrum-sim refuses to take it over) and uses the next one.
link_dir=${XDG_RUNTIME_DIR:-/tmp}
link_base=$link_dir/kestrum-sim
[ -n "${XDG_RUNTIME_DIR:-}" ] || link_base=$link_base-$(id -u)
sim_out=$(mktemp)
sim_err=$(mktemp)
sim_pid=""
stop_module() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$sim_out" "$sim_err"
}
trap stop_module EXIT
trap 'exit 130' INT TERM

# Starts the module with the link $link; prints its device path once it is ready. Fails with
# status 3 when another running module holds the link, 1 on any other failure.
start_module() {
  : >"$sim_out"
  : >"$sim_err"
  "$root/build/bin/kestrum-sim" --pty --link "$link" "$@" >"$sim_out" \
    2> >(tee "$sim_err" >&2) </dev/null &
  sim_pid=$!
  # The module prints the device path as its first line once it is ready.
  for _ in $(seq 1 100); do
    path=$(head -n 1 "$sim_out" 2>/dev/null || true)
    [ -n "$path" ] && return 0
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      wait "$sim_pid" 2>/dev/null || true
      sim_pid=""
      grep -q "still running" "$sim_err" && return 3
      echo "The simulated module did not start (see its message above)." >&2
      return 1
    fi
    sleep 0.05
  done
  echo "The simulated module did not report its device within 5 s." >&2
  return 1
}

path=""
for n in $(seq 1 20); do
  link=$link_base
  [ "$n" -eq 1 ] || link=$link_base-$n
  status=0
  start_module "$@" || status=$?
  [ $status -eq 0 ] && break
  [ $status -eq 3 ] || exit 1
  echo "(another run.sh has that name; taking the next one)" >&2
done
[ -n "$path" ] || { echo "Twenty simulated modules are running already; stop one." >&2; exit 1; }

cat <<EOF

The simulated module (slave address 100) listens on $path.
The window starts with $link in the port box: click "打开串口".
Closing the window stops the module.

EOF

"$root/build/bin/rtutest" --port "$link"
