#!/usr/bin/env bash
# rtutest's --help, --version and a wrong option, with no display to connect to.
# Usage: options-without-display.sh <rtutest>
set -u
program=$1
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$program" --help) || fail "--help exited with $?"
grep -q '^Usage: rtutest' <<<"$out" || fail "--help printed: $out"
out=$("$program" --version) || fail "--version exited with $?"
grep -qE '^rtutest [0-9]' <<<"$out" || fail "--version printed: $out"
err=$("$program" --bogus 2>&1 >/dev/null)
code=$?
[ "$code" -eq 2 ] || fail "--bogus exited with $code"
[ "$(head -n 1 <<<"$err")" = "rtutest: unknown option '--bogus'" ] || fail "--bogus said: $err"
grep -q '^Usage: rtutest' <<<"$err" || fail "no usage after the message"
echo "ok"
