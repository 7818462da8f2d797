#!/usr/bin/env bash
# rtutest.exe and kestrum.exe as a person runs them on Windows, here under Wine and Xvfb,
# against the simulated module (kestrum-sim) on COM7. Run by scripts/test-wine.sh, which maps
# COM7 to <lines>/com7 in the prefix and lays the programs out as the zip does.
#
#   programs-on-wine.sh <program folder> <kestrum-sim> <lines folder> <log folder> <Qt prefix>
#
# It first reads the folder as it is shipped: the programs' resources and the notices, against
# what the Qt build recorded it used (<Qt prefix>/third-party/list).
# Ends with 'programs: N passed, N failed'.
set -uo pipefail
folder=$1 sim=$2 lines=$3 logs=$4 qt=$5
passed=0
failed=0

pass() { echo "  PASS $1"; passed=$((passed + 1)); }
fail() { echo "  FAIL $1"; failed=$((failed + 1)); }
check() {  # check <name> <command...>: passes when the command succeeds
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
source "$(dirname "$0")/lib/window-on-wine.sh"
version=$(sed -n 's/^project(kestrum_rtutest VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The programs find their DLLs beside them, as on a PC without anything installed.
unset WINEPATH
# A fresh Wine session on this display: the one before ran without one.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

# --- the folder as shipped -------------------------------------------------------------------
echo "the folder"
# Icon (under the name Qt's window looks for), version information and manifest.
carries_identity() {  # carries_identity <program>
  local rc
  rc=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$folder/$1.exe" 2>/dev/null) &&
    grep -q '"IDI_ICON1" 14' <<<"$rc" && grep -qF "VALUE \"FileVersion\", \"$version\"" <<<"$rc" &&
    grep -q '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' <<<"$rc"
}
for program in rtutest kestrum; do
  check "$program.exe carries its icon, version $version and a manifest for Windows 10" \
    carries_identity "$program"
done
notices=$(tr -d '\r' <"$folder/THIRD-PARTY.txt")
missing=$(cut -f2 "$qt/third-party/list" | while IFS= read -r part; do
  grep -qxF "$part" <<<"$notices" || echo "$part"
done)
check "THIRD-PARTY.txt holds the notice of every part the Qt build used${missing:+ (missing: $missing)}" \
  test -z "$missing" -a -s "$qt/third-party/list"
# What the Qt DLLs must hold whatever the build reports, and the runtime's licences.
missing=$(for part in PCRE2 double-conversion zlib FreeType HarfBuzz libpng MD4C \
  'GCC RUNTIME LIBRARY EXCEPTION' winpthreads; do
  grep -qiF "$part" <<<"$notices" || echo "$part"
done)
check "THIRD-PARTY.txt names PCRE2 ... md4c and the MinGW runtime's licences${missing:+ (missing: $missing)}" \
  test -z "$missing"
for dll in "$folder"/lib*.dll; do
  check "THIRD-PARTY.txt names $(basename "$dll") with its Debian package" \
    grep -q "^  $(basename "$dll"), from Debian package " <<<"$notices"
done
leaks=$(grep -lF -e "$HOME/" -e "$PWD/" "$folder"/*.exe "$folder"/*.dll "$folder"/*/*.dll 2>/dev/null)
check "no build machine's folder is named in the programs or DLLs${leaks:+ (in: $leaks)}" test -z "$leaks"
source_told() {
  local text files
  text=$(tr -d '\r' <"$folder/Qt-SOURCE.txt")
  files=$(tar -tzf "$folder/source/kestrum-rtutest-$version.tar.gz") || return 1
  grep -qF "$(cat "$qt/debian-source-version")" <<<"$text" && grep -q 'patches applied' <<<"$text" &&
    ! grep -q unmodified <<<"$text" && grep -qF "source/kestrum-rtutest-$version.tar.gz" <<<"$text" &&
    grep -qx "kestrum-rtutest-$version/CMakeLists.txt" <<<"$files"
}
check "Qt-SOURCE.txt names the Debian source with its patches, and this tool's source in the folder" \
  source_told

# --- the simulated module on COM7, inputs 1,0; commands to it through a pipe ------------------
run=$(mktemp -d)
mkfifo "$run/sim-in"
sim_pid=""
start_module() {
  : >"$run/sim-out"
  # Appended to, so that relay_state can empty the file while the module writes to it.
  env -u LD_PRELOAD "$sim" --link "$lines/com7" --di 1,0 -v <"$run/sim-in" >>"$run/sim-out" \
    2>>"$logs/kestrum-sim.log" &
  sim_pid=$!
  exec 3>"$run/sim-in"
  wait_for_line "$run/sim-out" '^/dev/' 10
}
stop_module() {
  [ -n "$sim_pid" ] || return 0
  echo quit >&3
  exec 3>&-
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}
relay_state() {  # relay_state <n>: the module's relay n as it reports it (0 or 1)
  : >"$run/sim-out"
  echo show >&3
  wait_for_line "$run/sim-out" 'relays:' 5
  sed -n "s/.*relay$1=\([01]\).*/\1/p" "$run/sim-out"
}
window_pid=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null
  stop_module
  wineserver -k 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
start_module || { echo "  the simulated module did not start"; echo "programs: 0 passed, 1 failed"; exit 1; }

# --- kestrum.exe ------------------------------------------------------------------------------
kestrum() { timeout 60 wine "$folder/kestrum.exe" "$@" 2>>"$logs/kestrum.err" | tr -d '\r'; }
echo "kestrum.exe"
check "--version names the program and its version" \
  test "$(kestrum --version)" = "kestrum $version"
check "read on COM7 shows the module's inputs and relays" \
  test "$(kestrum -p COM7 read)" = "DI1=1 DI2=0 DO1=0 DO2=0"
kestrum -p COM7 relay 1 on >/dev/null
check "relay 1 on switches the module's relay 1" test "$(relay_state 1)" = 1
kestrum -p COM7 check --expect-di 1,0 >/dev/null
check "check passes against the module (exit 0)" test "${PIPESTATUS[0]}" -eq 0
kestrum -p COM6 read >/dev/null
check "a port that is not there cannot be opened (exit 4)" test "${PIPESTATUS[0]}" -eq 4
windows_port_help() {
  local help
  help=$(kestrum --help)
  grep -q 'COMn as the device manager shows it' <<<"$help" && ! grep -q /dev <<<"$help"
}
check "--help names the ports as Windows does (COMn), not as Linux does (/dev)" windows_port_help

# Ctrl-C reaches a console program as a console control event; Wine turns SIGINT into one.
# (Started without a wrapper, so that the signal reaches the program itself.)
wine "$folder/kestrum.exe" -p COM7 watch --interval 100 >"$run/watch" 2>&1 &
watch_pid=$!
if wait_for_line "$run/watch" 'DI1=' 20; then
  kill -INT "$watch_pid"
  started=$(date +%s%N)
  (sleep 10 && kill -KILL "$watch_pid" 2>/dev/null) &
  watchdog=$!
  wait "$watch_pid"
  status=$?
  kill "$watchdog" 2>/dev/null
  took=$((($(date +%s%N) - started) / 1000000))
  # A watch runs until it is stopped: Ctrl-C is its normal end (exit 0), as on Linux.
  check "Ctrl-C ends a watch at once (exit $status after $took ms)" \
    test "$status" -eq 0 -a "$took" -lt 3000
else
  kill "$watch_pid" 2>/dev/null
  fail "watch printed no reading"
fi

# --- rtutest.exe ------------------------------------------------------------------------------
echo "rtutest.exe"
check "--version prints to the output it was given" \
  test "$(timeout 60 wine "$folder/rtutest.exe" --version | tr -d '\r')" = "rtutest $version"

# Started from a shortcut, with no console and no output handed over, a mistyped option shows
# its message in a box titled with the program's name; closing the box ends the program (2).
wine "$folder/rtutest.exe" --prot COM7 </dev/null >/dev/null 2>&1 &
box_pid=$!
box=$(timeout 30 xdotool search --sync --name '^rtutest$' 2>/dev/null | head -1)
if [ -n "$box" ]; then
  import -window "$box" "$logs/usage-box.png" 2>/dev/null
  xdotool windowfocus --sync "$box" key Return
  for ((i = 0; i < 100; i++)); do kill -0 "$box_pid" 2>/dev/null || break; sleep 0.1; done
fi
kill "$box_pid" 2>/dev/null
wait "$box_pid" 2>/dev/null
status=$?
check "--prot without a console shows a message box titled rtutest, closed: exit $status" \
  test -n "$box" -a "$status" -eq 2

log=$run/window.log
timeout 300 wine "$folder/rtutest.exe" --port COM7 --open --log-file "$(windows_path "$log")" \
  >>"$logs/rtutest.err" 2>&1 &
window_pid=$!
control_frame='发送：AA 55 00 05 E0 50 00 01 35'
if ! wait_for_line "$log" "$control_frame" 60; then
  fail "the window opened COM7 and logged the control-mode frame into a file named by a Windows path"
  echo "programs: $passed passed, $failed failed"
  exit 1
fi
pass "the window opened COM7 and logged the control-mode frame into a file named by a Windows path"

# The window's buttons, clicked as a person does.
window=$(window_id)
click_button "$window" 读取
check "读取 shows the module's inputs and relays in the log" \
  wait_for_line "$log" 'DO2=00' 10
check "  with DI1=01 DI2=00 DO1=00" \
  bash -c "grep -q 'DI1=01' '$log' && grep -q 'DI2=00' '$log' && grep -q 'DO1=00' '$log'"
click_button "$window" 继电器2开
sleep 1
check "继电器2开 switches the module's relay 2" test "$(relay_state 2)" = 1

# The device goes away: status-bar panel 0 leaves "已打开" (it shows "设备已断开").
panel0() { import -window "$window" -crop 98x17+1+610 "$1" 2>/dev/null; }
panel0 "$run/panel-open.png"
stop_module
changed=0
for ((i = 0; i < 30; i++)); do
  sleep 0.2
  panel0 "$run/panel-now.png"
  changed=$(compare -metric AE "$run/panel-open.png" "$run/panel-now.png" null: 2>&1 | cut -d' ' -f1)
  [ "${changed:-0}" -gt 0 ] && break
done
check "a module that goes away changes status-bar panel 0 within 6 s" test "${changed:-0}" -gt 0
cp "$run/panel-now.png" "$logs/panel0-after-loss.png"
# Coming back under the same name cannot be shown here: a port mapped in Wine's table stays in
# the device namespace while its device is gone, where Windows removes a pulled adapter's name.
echo "  SKIPPED a module that comes back under COM7 is opened again: Wine 8: a mapped COM name never leaves the device namespace, so its return cannot be seen"

cp "$log" "$logs/window.log"
echo "programs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
