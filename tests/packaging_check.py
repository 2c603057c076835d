#!/usr/bin/env python3
"""Checks, on any machine, what a Mac installs beside the executable: the launchd job, the
log's rotation rule, and the man page, which must lint clean and list every logged message.

    packaging_check.py PLIST NEWSYSLOG_CONF MAN_PAGE SOURCE_DIR
"""
import pathlib
import plistlib
import re
import subprocess
import sys

plist, newsyslog, man, sources = sys.argv[1:5]
failures = []

# The launchd job: these keys alone, the executable without arguments, no output paths.
job = plistlib.loads(pathlib.Path(plist).read_bytes())
arguments = job.get("ProgramArguments", [""])
if job != {"Label": "com.quorvani.halvorsten", "ProgramArguments": arguments, "RunAtLoad": True,
           "KeepAlive": True, "ProcessType": "Background"} or len(arguments) != 1 \
        or not arguments[0].endswith("/libexec/halvorsten"):
    failures.append(f"launchd job: {job}")

# logfilename [owner:group] mode count size when flags: signal nothing, create nothing.
rules = [line.split() for line in pathlib.Path(newsyslog).read_text().splitlines()
         if line.strip() and not line.lstrip().startswith("#")]
if len(rules) != 1 or len(rules[0]) != 7 or rules[0][0] != "/Library/Logs/Quorvani-Halvorsten.log" \
        or not re.fullmatch(r"[0-7]{3} \d+ \d+ \S+ [^C]*N[^C]*", " ".join(rules[0][2:])):
    failures.append(f"rotation rule: {rules}")

lint = subprocess.run(["mandoc", "-Tlint", "-Wwarning", man], capture_output=True, text=True)
if lint.returncode or lint.stdout or lint.stderr:
    failures.append(f"mandoc -Tlint: {lint.stdout}{lint.stderr}")
rendered = subprocess.run(["mandoc", "-Tutf8", man], capture_output=True, text=True).stdout
rendered = " ".join(re.sub(r".\x08", "", rendered).split())  # without overstrike
messages = {message for source in pathlib.Path(sources).rglob("*.cpp")
            for call in re.findall(r"\blog\((.*?)\);", source.read_text(), re.S)
            for message in re.findall(r'"([^"]+)"', call)}
failures += [f"man page lacks {m!r}" for m in sorted(messages) if m.strip() not in rendered]
if len(messages) < 8:
    failures.append(f"found too few logged messages: {sorted(messages)}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
