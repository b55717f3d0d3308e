#!/usr/bin/env python3
"""The state of a Wine prefix that an installation can change, as sorted text
lines that `diff` compares (scripts/sweep.sh).

    sweep-state.py <prefix> <state file> <temp file> [--ignore NAME]...

Read it after the prefix's wineserver has ended (it saves the registry on its
way out). Writes two files:

- <state file>: every file and folder below drive_c (its type, size, content
  hash, permission bits and extended attributes, where Wine keeps the DOS
  attributes and security descriptors; a shortcut by its text, see
  shortcut_text), and every key and value below the
  keys the installer and its program touch, in both registry views;
- <temp file>: what stays in the temporary folders (below users/*/Temp,
  users/*/AppData/Local/Temp and windows/temp), kept apart: a run's leftovers
  there are reported, not counted.

Left out: the names given with --ignore (the runs' log files, relative to
drive_c). Files below drive_c/windows (Wine's own, but for its temp folder)
are listed by path, type and size only: they are the same files in every
copy of a prefix, and hashing them would cost seconds.
"""
import hashlib
import os
import re
import stat
import sys

# Registry keys, relative to HKEY_LOCAL_MACHINE (system.reg) or
# HKEY_CURRENT_USER (user.reg), in both views; HKEY_CLASSES_ROOT is
# Software\Classes of both. Compared ignoring case, as Windows does.
KEYS = [
    r"Software\Orvane Systems",
    r"Software\Wow6432Node\Orvane Systems",
    r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex 6",
    r"Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex 6",
    r"Software\Classes\.qvn",
    r"Software\Classes\Orvane.QuorvexNotebook.6",
    r"Software\Classes\Wow6432Node\.qvn",
    r"Software\Classes\Wow6432Node\Orvane.QuorvexNotebook.6",
    r"Software\Wow6432Node\Classes\.qvn",
    r"Software\Wow6432Node\Classes\Orvane.QuorvexNotebook.6",
]
KEYS_LOWER = [k.lower() for k in KEYS]

TEMP_PATTERNS = [
    re.compile(r"^users/[^/]+/temp(/|$)", re.I),
    re.compile(r"^users/[^/]+/appdata/local/temp(/|$)", re.I),
    re.compile(r"^windows/temp(/|$)", re.I),
]


def under_keys(name):
    lower = name.lower()
    return any(lower == k or lower.startswith(k + "\\") for k in KEYS_LOWER)


def registry_lines(path, hive):
    """Keys and values of one hive file below KEYS, without Wine's times."""
    lines = []
    if not os.path.exists(path):
        return [f"{hive} (no hive file)"]
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    # A value's data may go on over lines that end with a backslash.
    text = text.replace("\\\n  ", "")
    key = None
    for line in text.splitlines():
        if line.startswith("["):
            end = line.rfind("]")
            name = line[1:end].replace("\\\\", "\\")
            key = name if under_keys(name) else None
            if key is not None:
                lines.append(f"{hive}\\{key}")
        elif key is not None and line and not line.startswith("#time=") and not line.startswith(";"):
            lines.append(f"{hive}\\{key} :: {line}")
    return lines


def shortcut_text(path):
    """A shortcut by what it says (target, arguments, folder, icon, in ASCII
    and UTF-16): its bytes also hold the times of every folder on the way to
    its target, which differ from one installation to the next."""
    with open(path, "rb") as f:
        data = f.read()
    strings = re.findall(rb"[\x20-\x7e]{4,}", data)
    strings += [s.decode("utf-16-le").encode() for s in re.findall(rb"(?:[\x20-\x7e]\x00){4,}", data)]
    return hashlib.sha256(b"\n".join(strings)).hexdigest()[:16]


def file_lines(drive_c, ignore):
    state, temp = [], []
    ignore_lower = {i.lower() for i in ignore}
    for root, dirs, files in os.walk(drive_c):
        dirs.sort()
        rel_root = os.path.relpath(root, drive_c)
        rel_root = "" if rel_root == "." else rel_root
        for name in sorted(dirs) + sorted(files):
            rel = f"{rel_root}/{name}" if rel_root else name
            if rel.lower() in ignore_lower:
                continue
            full = os.path.join(root, name)
            st = os.lstat(full)
            in_temp = any(p.search(rel) for p in TEMP_PATTERNS)
            in_wine = rel.lower().startswith("windows/") and not in_temp
            if stat.S_ISLNK(st.st_mode):
                desc = f"link -> {os.readlink(full)}"
            elif stat.S_ISDIR(st.st_mode):
                desc = "folder"
            elif in_wine:
                desc = f"file {st.st_size}"
            elif name.lower().endswith(".lnk"):
                desc = f"shortcut {st.st_size} {shortcut_text(full)}"
            else:
                h = hashlib.sha256()
                with open(full, "rb") as f:
                    for chunk in iter(lambda: f.read(1 << 20), b""):
                        h.update(chunk)
                desc = f"file {st.st_size} {h.hexdigest()[:16]}"
            if not in_wine and not stat.S_ISLNK(st.st_mode):
                desc += f" mode {stat.S_IMODE(st.st_mode):o}"
                try:
                    for attr in sorted(os.listxattr(full, follow_symlinks=False)):
                        value = os.getxattr(full, attr, follow_symlinks=False)
                        desc += f" {attr}={value.hex()}"
                except OSError:
                    pass
            line = f"C:/{rel} :: {desc}"
            (temp if in_temp else state).append(line)
    return state, temp


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    prefix, state_file, temp_file = argv[1:4]
    ignore = []
    rest = argv[4:]
    while rest:
        if rest[0] == "--ignore" and len(rest) > 1:
            ignore.append(rest[1])
            rest = rest[2:]
        else:
            print(f"sweep-state: unknown argument {rest[0]}", file=sys.stderr)
            return 2
    state, temp = file_lines(os.path.join(prefix, "drive_c"), ignore)
    state += registry_lines(os.path.join(prefix, "system.reg"), "HKLM")
    state += registry_lines(os.path.join(prefix, "user.reg"), "HKCU")
    with open(state_file, "w", encoding="utf-8") as f:
        f.write("\n".join(sorted(state)) + "\n")
    with open(temp_file, "w", encoding="utf-8") as f:
        f.write("\n".join(sorted(temp)) + ("\n" if temp else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
