# Sourced by the scripts that run rtutest.exe under Wine and Xvfb: waiting for a line of its log,
# the Windows name of a file here, and clicking its buttons as a person does.

# Waits up to <seconds> for <file> to hold a line matching <pattern>.
wait_for_line() {  # wait_for_line <file> <pattern> <seconds>
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# The window of a running rtutest.exe (its X id), waited for up to 30 s.
window_id() { timeout 30 xdotool search --sync --onlyvisible --name 'KESTRUM RTU' 2>/dev/null | head -1; }

# Clicks one of the window's buttons; the positions inside the window are those of its layout.
click_button() {  # click_button <window id> <caption>
  local x y
  case $2 in
    读取) x=252 y=101 ;;
    继电器2开) x=392 y=204 ;;
    *) echo "click_button: no position for '$2'" >&2; return 1 ;;
  esac
  xdotool mousemove --window "$1" "$x" "$y" click 1
}
