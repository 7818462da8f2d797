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
  local gcc_runtime runtime
  gcc_runtime=$(dirname "$($triplet-g++-posix -print-libgcc-file-name)")
  runtime=("$gcc_runtime/libstdc++-6.dll" "$gcc_runtime/libgcc_s_seh-1.dll"
    "/usr/$triplet/lib/libwinpthread-1.dll")
  cp "${runtime[@]}" "$stage/"
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
  third_party_notices "$qt" "${runtime[@]}" | crlf /dev/stdin "$stage/THIRD-PARTY.txt" || return 1
  local name
  name=kestrum-rtutest-$(sed -n 's/^project(kestrum_rtutest VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  mkdir -p "$stage/source"
  source_archive "$name" >"$stage/source/$name.tar.gz" || return 1
  qt_source_text "$qt" "$name" | crlf /dev/stdin "$stage/Qt-SOURCE.txt" || return 1
}

# third_party_notices <Qt prefix> <MinGW runtime DLL>...: the notices of everything in the
# folder that is neither this tool nor Qt itself, as the builds used it: the parts Qt's build
# compiled into the shipped DLLs (gathered by scripts/lib/qt-third-party.py) and the Debian
# packages the runtime DLLs come from, with their copyright files.
third_party_notices() {
  local qt=$1 dll package packages=()
  shift
  cat <<EOF
Third-party parts of this folder
================================

The Qt DLLs (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/, styles/) contain, as they
were built:

EOF
  cut -f2 "$qt/third-party/list" | sed 's/^/  /'
  printf '\nThe MinGW-w64 runtime DLLs, whose code rtutest.exe and kestrum.exe also contain:\n\n'
  for dll in "$@"; do
    package=$(dpkg -S "$dll" | cut -d: -f1) || return 1
    printf '  %s, from Debian package %s %s\n' "$(basename "$dll")" "$package" \
      "$(dpkg-query -W -f='${Version}' "$package")"
    [[ " ${packages[*]} " == *" $package "* ]] || packages+=("$package")
  done
  printf '\nTheir notices and licences follow.\n\n\n'
  cat "$qt/third-party/Qt-THIRD-PARTY.txt"
  for package in "${packages[@]}"; do
    printf '\n\n--- %s (/usr/share/doc/%s/copyright) ---\n\n' "$package" "$package"
    cat "/usr/share/doc/$package/copyright" || return 1
  done
}

# source_archive <name>: this tool's source as it was built (uncommitted changes included).
source_archive() {
  local tree
  tree=$(git stash create 2>/dev/null) || { echo "the zip needs a git checkout of the source" >&2; return 1; }
  git archive --format=tar.gz --prefix="$1/" "${tree:-HEAD}"
}

translations_package() {
  local package
  package=$(dpkg -S /usr/share/qt6/translations/qtbase_zh_CN.qm | cut -d: -f1)
  dpkg-query -W -f='${Package} ${Version} (source package ${source:Package})' "$package"
}

# qt_source_text <Qt prefix> <name of the tool's source>: where the shipped Qt's source is,
# exactly as it was built, and this tool's.
qt_source_text() {
  local qt=$1 source=$2 qt_source
  qt_source=$(cat "$qt/debian-source-version")
  cat <<EOF
The Qt libraries in this folder (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/,
styles/) are Qt 6, licensed under the GNU Lesser General Public License version 3
(Qt-LGPL-3.0.txt, which adds its permissions to the GPL in Qt-GPL-3.0.txt). The notices of
the third-party parts they contain are in THIRD-PARTY.txt.

They were built for Windows with MinGW-w64 from Debian's source package

    $qt_source

with Debian's patches applied, as \`apt-get source\` unpacks it:

$(sed 's/^/    /' "$qt/debian-patches")

Anyone can fetch that source from Debian's archive (apt-get source qt6-base=${qt_source#qt6-base }),
or from Debian's snapshot archive (snapshot.debian.org) once it is no longer current. Beyond
Debian's patches, no source file of these libraries was changed. scripts/build-qt-windows.sh,
in this tool's source, shows how they were configured and built; it also comments out three
lines of two CMakeLists.txt files, so that parts not shipped here are not built (the minimal
and offscreen platform plugins and the OpenGL widgets module).

This tool's own source, with the scripts that built this folder, is in this folder:

    source/$source.tar.gz

Qt's own texts in translations/ are those of Debian's package
$(translations_package).

You may replace the Qt DLLs with another build of the same Qt version, or rebuild the
programs against one with that source.
EOF
}
