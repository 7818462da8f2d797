#!/usr/bin/python3
"""Gathers the third-party notices of the Qt for Windows DLLs the zip ships, from the build itself.

Usage: qt-third-party.py <Qt source folder> <Qt build folder> <output folder>

Qt names each bundled third-party part in a qt_attribution.json beside its files. A part is in
the shipped DLLs when a file it covers went into one of them: a source compiled into them, a
header such a source included (the compiler's dependency record), or a file built into them as
a resource. The output folder gets

  list              one line per part: its Id, a tab, its name (what the zip's notices hold)
  Qt-THIRD-PARTY.txt  each part's name, version, copyright and licence, with the licence text
"""
import json
import os
import subprocess
import sys

# What the zip ships of the Qt build (scripts/lib/stage-windows.sh), as the build names it.
SHIPPED = [
    "bin/Qt6Core.dll",
    "bin/Qt6Gui.dll",
    "bin/Qt6Widgets.dll",
    "plugins/platforms/qwindows.dll",
    "plugins/styles/qwindowsvistastyle.dll",
    # Linked into rtutest.exe: the WinMain that calls main().
    "lib/libQt6EntryPoint.a",
]


def ninja(build, *args):
    return subprocess.run(["ninja", "-C", build, "-t", *args], check=True,
                          capture_output=True, text=True).stdout.splitlines()


def files_used(build):
    """Every file the shipped outputs were made from, as absolute paths."""
    used = set(ninja(build, "inputs", *SHIPPED))
    # `ninja -t deps` prints "<object>: #deps N, ..." and then one indented file per line, the
    # compiled source first: an object of a used source brings in the headers it included.
    deps = []
    for line in ninja(build, "deps") + [""]:
        if line.startswith(" "):
            deps.append(line.strip())
            continue
        if deps and deps[0] in used:
            used.update(deps)
        deps = []
    return {os.path.realpath(os.path.join(build, path)) for path in used}


def attributions(source):
    """(folder, entry) for every qt_attribution.json entry of the libraries' source."""
    for top, dirs, names in os.walk(os.path.join(source, "src")):
        dirs[:] = [d for d in dirs if d not in ("doc", "tests", "examples")]
        if "qt_attribution.json" not in names:
            continue
        with open(os.path.join(top, "qt_attribution.json"), encoding="utf-8") as file:
            entries = json.loads(file.read(), strict=False)
        for entry in entries if isinstance(entries, list) else [entries]:
            yield os.path.realpath(top), entry


def covered(folder, entry):
    """The files or folders an entry speaks for: its Files, else its Path, else its folder."""
    if "Files" in entry:
        return [os.path.join(folder, name) for name in entry["Files"].split()]
    return [os.path.normpath(os.path.join(folder, entry.get("Path", ".")))]


def is_used(paths, used):
    return any(path in used or any(file.startswith(path + os.sep) for file in used)
               for path in paths)


def notice(folder, entry):
    lines = [entry["Name"], "=" * len(entry["Name"])]
    for key in ("Version", "Homepage", "License"):
        if entry.get(key):
            lines.append(f"{key}: {entry[key]}")
    if entry.get("Copyright"):
        lines += ["", entry["Copyright"].strip()]
    licence = entry.get("LicenseFile")
    if licence:
        with open(os.path.join(folder, licence), encoding="utf-8", errors="replace") as file:
            lines += ["", file.read().strip()]
    return "\n".join(lines) + "\n"


def main():
    source, build, out = sys.argv[1:4]
    used = files_used(build)
    parts = [(folder, entry) for folder, entry in attributions(source)
             if is_used(covered(folder, entry), used)]
    if not parts:
        sys.exit("no third-party part found in the shipped Qt DLLs: the build was not read")
    parts.sort(key=lambda part: part[1]["Name"].lower())
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "list"), "w", encoding="utf-8") as file:
        file.writelines(f"{entry['Id']}\t{entry['Name']}\n" for _, entry in parts)
    with open(os.path.join(out, "Qt-THIRD-PARTY.txt"), "w", encoding="utf-8") as file:
        file.write("\n\n".join(notice(folder, entry) for folder, entry in parts))


if __name__ == "__main__":
    main()
