#!/usr/bin/env bash
# A program answers --version (with the project's version) and --help, both exiting 0, and its
# manual page documents exactly the options its --help lists, so the two cannot drift apart.
#
# Usage: program_docs_test.sh PROGRAM MANUAL-PAGE VERSION
# Options of the manual page are those named on the tag line of a .TP item (the OPTIONS and
# COMMANDS lists); options of --help are every -x and --word it names.
set -uo pipefail
program=$1 page=$2 version=$3
name=$(basename "$program")
export QT_QPA_PLATFORM=offscreen
failed=0
fail() { echo "FAIL: $name: $*"; failed=1; }

version_text=$(timeout 20 "$program" --version 2>&1) || fail "--version exited with $?"
[[ $version_text == *"$version"* ]] || fail "--version printed '$version_text', not $version"
help_text=$(timeout 20 "$program" --help 2>&1) || fail "--help exited with $?"
[ -n "$help_text" ] || fail "--help printed nothing"

# Every -x and --word named in a text, one per line, sorted.
options_in() {
  grep -oE '(^|[[:space:],[(])--?[A-Za-z][A-Za-z0-9-]*' | sed -E 's/^[^-]*//' |
    grep -vE '^-[A-Za-z][A-Za-z0-9]' | sort -u
}
help_options=$(printf '%s\n' "$help_text" | options_in)
# The tag line of each .TP item, with roff's escapes taken out (\- is a minus, \fB a font).
page_options=$(awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$page" |
  sed -E 's/\\-/-/g; s/\\f[BIRP]//g; s/"/ /g' | options_in)

only_in_help=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
only_in_page=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
[ -z "$only_in_help" ] || fail "in --help but not in $(basename "$page"):" $only_in_help
[ -z "$only_in_page" ] || fail "in $(basename "$page") but not in --help:" $only_in_page

[ $failed -eq 0 ] && echo "$name: --version, --help and the manual page agree ($(echo $help_options))"
exit $failed
