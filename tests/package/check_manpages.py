#!/usr/bin/env python3
"""The manual pages say what the programs' --help says: every command and
option of a program's help (and of each command's help) is on its page, every
option the page lists under OPTIONS and COMMANDS is one the program takes,
the page carries the program's version, and man renders it without a
warning. Usage: check_manpages.py <build folder>"""
import pathlib, re, subprocess, sys

build = pathlib.Path(sys.argv[1])
PROGRAMS = {"tessel-backupctl": True, "tessel-lzh": True, "tessel-backup": False}  # name: has commands
OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z-]*|-[a-zA-Z])(?![\w-])")
faults = []


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, env={"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"})


def page_text(path):
    """The page's roff with dashes and font changes undone."""
    text = path.read_text(encoding="utf-8").replace("\\-", "-")
    return re.sub(r"\\f[BIRP]", "", text)


def section(text, name):
    m = re.search(r"^\.SH " + name + r"\n(.*?)(?=^\.SH |\Z)", text, re.M | re.S)
    return m.group(1) if m else ""


for name, has_commands in PROGRAMS.items():
    program = build / name
    page = build / "man" / (name + ".1")
    if not page.is_file():
        faults.append(f"{page}: missing")
        continue
    man = page_text(page)
    helped = run(str(program), "--help")
    if helped.returncode != 0:
        faults.append(f"{name} --help: status {helped.returncode}")
        continue
    helps = [helped.stdout]
    commands = []
    if has_commands:
        commands = re.findall(r"^  ([a-z][a-z-]*)(?: |$)", helped.stdout, re.M)
        for command in commands:
            if command != "help":
                helps.append(run(str(program), command, "--help").stdout)
    options = set()
    for text in helps:
        options |= set(OPTION.findall(text))
    for command in commands:
        if not re.search(r"^\.(B|BR|BI) " + re.escape(command) + r"\b", section(man, "COMMANDS"), re.M):
            faults.append(f"{page.name}: command {command} of --help is not under COMMANDS")
    for option in sorted(options):
        if not re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", man):
            faults.append(f"{page.name}: option {option} of --help is not on the page")
    listed = set(OPTION.findall(section(man, "OPTIONS") + section(man, "COMMANDS")))
    for option in sorted(listed - options):
        faults.append(f"{page.name}: option {option} is not one that {name} --help knows")
    version = run(str(program), "--version").stdout.split()[-1]
    if not re.search(r'^\.TH .*"tessel-backup ' + re.escape(version) + '"', man, re.M):
        faults.append(f"{page.name}: the .TH line does not carry version {version}")
    rendered = run("man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", str(page))
    if rendered.returncode != 0 or rendered.stderr.strip():
        faults.append(f"{page.name}: man says: {rendered.stderr.strip()}")

print("\n".join(faults) or "every page matches its program's help")
sys.exit(1 if faults else 0)
