#!/usr/bin/env python3
"""Checks that a program's manual page lists exactly the options its --help lists, and that
its --version names the build's version.

Usage: check_options.py PROGRAM MANPAGE VERSION
Options are the words starting with a dash on the option lines of --help (lines that start
with blanks and a dash, and the lines that continue them) and in the OPTIONS section of the
page. "--[no-]x" stands for --x and --no-x; "--name1 ... --name6" for the whole range.
"""
import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w\]\-])--?(?:\[no-\])?[A-Za-z][\w-]*")
RANGE = re.compile(r"--([a-z-]+)(\d+)[^-]*?\.\.\.[^-]*?--\1(\d+)")


def options_in(text):
    found = set()
    for name, low, high in RANGE.findall(text):
        found.update(f"--{name}{i}" for i in range(int(low), int(high) + 1))
    for word in OPTION.findall(text):
        if word.startswith("--[no-]"):
            found.update({"--" + word[7:], "--no-" + word[7:]})
        else:
            found.add(word)
    return found


def help_options(program):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    text = subprocess.run([program, "--help"], capture_output=True, text=True, env=env,
                          check=True, timeout=60).stdout
    lines, in_option = [], False
    for line in text.splitlines():
        if re.match(r"\s+-", line):
            in_option = True
        elif not line.startswith(" "):
            in_option = False
        if in_option:
            lines.append(line)
    return options_in("\n".join(lines))


def page_options(path):
    with open(path, encoding="utf-8") as page:
        text = page.read()
    match = re.search(r"^\.SH OPTIONS\n(.*?)(?=^\.SH )", text, re.S | re.M)
    if not match:
        sys.exit(f"{path}: no OPTIONS section")
    section = re.sub(r"\\f[BIRP]", "", match.group(1)).replace("\\-", "-")
    return options_in(section)


def main():
    program, page, version = sys.argv[1:4]
    name = os.path.basename(program)
    failed = False
    in_help, in_page = help_options(program), page_options(page)
    if in_help - in_page:
        print(f"{page}: missing {sorted(in_help - in_page)}")
        failed = True
    if in_page - in_help:
        print(f"{page}: lists {sorted(in_page - in_help)}, which --help does not")
        failed = True
    shown = subprocess.run([program, "--version"], capture_output=True, text=True,
                           timeout=60).stdout
    if shown != f"{name} {version}\n":
        print(f"{name} --version printed {shown!r}, expected {name} {version}")
        failed = True
    if not failed:
        print(f"{name}: {len(in_help)} options, the same in --help and {os.path.basename(page)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
