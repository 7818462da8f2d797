#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks what a user gets: every program
# with its manual page, the copyright file and changelog, the desktop entry; the packaged
# (stripped) programs still answer --version; and lintian reports nothing at all, not even an
# informational tag (a tag with a good reason belongs in a lintian override in the package).
#
# Usage: package_test.sh BUILD-DIR PACKAGE VERSION PROGRAM...
set -uo pipefail
build=$1 package=$2 version=$3
shift 3
programs=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
}
deb=$(ls "$work"/"${package}_${version}"_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "FAIL: no ${package}_${version}_*.deb in the cpack output"; exit 1; }
echo "package: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
expected=(usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz)
for program in "${programs[@]}"; do
  expected+=(usr/bin/$program usr/share/man/man1/$program.1.gz)
done
[[ " ${programs[*]} " == *" rtutest "* ]] && expected+=(usr/share/applications/rtutest.desktop)
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks /$path"
done

dpkg-deb -x "$deb" "$work/root"
for program in "${programs[@]}"; do
  out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$work/root/usr/bin/$program" --version 2>&1)
  [[ $out == *"$version"* ]] || fail "the packaged $program --version printed '$out'"
done
zcat "$work/root/usr/share/doc/$package/changelog.gz" | head -1 | grep -q "^$package ($version)" ||
  fail "changelog.gz does not start with version $version"

# lintian warns that it runs as root (CI runs as root); that line is no finding.
lintian --info --fail-on error,warning,info "$deb" >"$work/lintian.log" 2>&1
status=$?
grep -v 'running with root privileges' "$work/lintian.log"
[ $status -eq 0 ] || fail "lintian reported the tags above (exit $status)"

[ $failed -eq 0 ] && echo "the package holds ${#expected[@]} checked files and lintian is clean"
exit $failed
