#!/usr/bin/env python3
"""Checks what a Mac installs beside the executable, on any machine: the launchd job, the
log's rotation rule and the man page, which must also list every message the service logs.

Usage: packaging_check.py PLIST NEWSYSLOG_CONF MAN_PAGE SOURCE_DIR
"""
import pathlib
import plistlib
import re
import shutil
import subprocess
import sys

plist_path, newsyslog_path, man_path, source_dir = sys.argv[1:5]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


# The launchd job: exactly these keys, and no output paths (the service writes none).
with open(plist_path, "rb") as f:
    job = plistlib.load(f)
check(job.get("Label") == "com.quorvani.halvorsten", "Label")
arguments = job.get("ProgramArguments", [])
check(len(arguments) == 1 and arguments[0].endswith("/libexec/halvorsten"),
      f"ProgramArguments is the executable alone: {arguments}")
check(job.get("RunAtLoad") is True, "RunAtLoad")
check(job.get("KeepAlive") is True, "KeepAlive")
check(job.get("ProcessType") == "Background", "ProcessType")
check(set(job) == {"Label", "ProgramArguments", "RunAtLoad", "KeepAlive", "ProcessType"},
      f"unexpected keys: {sorted(job)}")

# The rotation rule: logfilename [owner:group] mode count size when flags [/pid_file] [sig_num]
rules = [line.split() for line in open(newsyslog_path, encoding="utf-8")
         if line.strip() and not line.lstrip().startswith("#")]
check(len(rules) == 1, "one rotation rule")
for fields in rules:
    check(len(fields) == 7, f"seven fields: {fields}")
    name, owner, mode, count, size, when, flags = (fields + [""] * 7)[:7]
    check(name == "/Library/Logs/Quorvani-Halvorsten.log", "the log's path")
    check(re.fullmatch(r"[0-7]{3}", mode) is not None, f"mode {mode}")
    check(count.isdigit() and size.isdigit(), "count and size are numbers")
    check("N" in flags and "C" not in flags, f"flags {flags}: signal nothing, create nothing")

# The man page: lints clean and names every message of the service.
man = pathlib.Path(man_path)
if shutil.which("mandoc"):
    lint = subprocess.run(["mandoc", "-Tlint", "-Wwarning", str(man)], capture_output=True, text=True)
    check(lint.returncode == 0 and not lint.stdout + lint.stderr, f"mandoc -Tlint: {lint.stdout}{lint.stderr}")
    rendered = subprocess.run(["mandoc", "-Tutf8", str(man)], capture_output=True, text=True).stdout
elif shutil.which("groff"):
    lint = subprocess.run(["groff", "-mandoc", "-ww", "-z", str(man)], capture_output=True, text=True)
    check(not lint.stderr, f"groff: {lint.stderr}")
    rendered = subprocess.run(["groff", "-mandoc", "-Tutf8", str(man)], capture_output=True, text=True).stdout
else:
    sys.exit("packaging_check: neither mandoc nor groff is installed")
rendered = re.sub(r".\x08", "", rendered)  # overstrike
rendered = " ".join(rendered.split())
# Every string literal inside a log(...) call of the sources.
messages = set()
for source in pathlib.Path(source_dir).rglob("*.cpp"):
    for call in re.findall(r"\blog\((.*?)\);", source.read_text(encoding="utf-8"), re.S):
        messages.update(re.findall(r'"([^"]+)"', call))
check(len(messages) >= 6, f"found the service's messages: {sorted(messages)}")
for message in sorted(messages):
    check(message.strip() in rendered, f"the man page lists {message!r}")

for failure in failures:
    print("FAILED:", failure)
print(f"{len(failures)} failed" if failures else "packaging: all checks passed")
sys.exit(1 if failures else 0)
