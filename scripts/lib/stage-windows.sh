# Sourced by scripts/build-windows.sh (the zip) and scripts/test-wine.sh (the same folder, run
# under Wine): lays out the Windows programs with what they need beside them. Expects the
# current folder to be the top of the repository.

# stage_windows <folder of the built .exe files> <Qt for Windows prefix> <folder to fill>
stage_windows() {
  local bin=$1 qt=$2 stage=$3 triplet=x86_64-w64-mingw32
  rm -rf "$stage"
  mkdir -p "$stage/platforms" "$stage/styles" "$stage/translations"
  cp "$bin/rtutest.exe" "$bin/kestrum.exe" "$stage/"
  cp "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$stage/"
  cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
  cp "$qt/plugins/styles/"*.dll "$stage/styles/"
  local gcc_runtime
  gcc_runtime=$(dirname "$($triplet-g++-posix -print-libgcc-file-name)")
  cp "$gcc_runtime/libstdc++-6.dll" "$gcc_runtime/libgcc_s_seh-1.dll" "$stage/"
  cp "/usr/$triplet/lib/libwinpthread-1.dll" "$stage/"
  cp /usr/share/qt6/translations/qtbase_zh_CN.qm /usr/share/qt6/translations/qtbase_zh_TW.qm \
    "$stage/translations/"
  # What Windows needs to run them, no more: the symbols stay in the build.
  $triplet-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll
  # Qt looks for its plugins and texts beside the program, not where it was built.
  printf '[Paths]\r\nPrefix=.\r\nPlugins=.\r\nTranslations=translations\r\n' >"$stage/qt.conf"

  # Every DLL a file of the folder needs is in the folder or is part of Windows.
  local missing
  missing=$(
    for file in "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll; do
      $triplet-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'
    done | sort -u | while read -r dll; do
      [ -e "$stage/$dll" ] && continue
      case "${dll,,}" in
        qt6*.dll | lib*.dll) echo "$dll" ;;  # what only this folder can bring
      esac
    done
  )
  [ -z "$missing" ] || { echo "the Windows folder would lack: $missing" >&2; return 1; }

  crlf() { sed 's/$/\r/' "$1" >"$2"; }
  crlf packaging/windows/README-Windows.txt "$stage/README-Windows.txt"
  crlf LICENSE "$stage/LICENSE.txt"
  crlf "$qt/LGPL-3.0-only.txt" "$stage/Qt-LGPL-3.0.txt"
  # The LGPL is a set of permissions added to the GPL, whose text it refers to.
  crlf "$qt/GPL-3.0-only.txt" "$stage/Qt-GPL-3.0.txt"
  local qt_source
  qt_source=$(cat "$qt/debian-source-version")
  crlf /dev/stdin "$stage/Qt-SOURCE.txt" <<EOF
The Qt libraries in this folder (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/,
styles/, translations/) are Qt 6, licensed under the GNU Lesser General Public License
version 3 (Qt-LGPL-3.0.txt, which adds its permissions to the GPL in Qt-GPL-3.0.txt). They
were built, unmodified, for Windows with MinGW-w64 from Debian's source package

    $qt_source

which anyone can fetch from Debian's archive (apt-get source qt6-base=${qt_source#qt6-base }),
or from Debian's snapshot archive once it is no longer current. scripts/build-qt-windows.sh
in this tool's source shows how they were configured and built. You may replace these DLLs
with another build of the same Qt version.
EOF
}
