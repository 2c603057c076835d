#!/usr/bin/env python3
"""Checks, on any machine, what a Mac installs beside the executable (the launchd job, the
log's rotation rule, the man page, which must lint clean and list every logged message) and
what checks the product on real Macs (the workflow and its script).

    packaging_check.py PLIST PROJECT_DIR
"""
import pathlib
import plistlib
import re
import subprocess
import sys

import yaml

plist, project = sys.argv[1], pathlib.Path(sys.argv[2])
newsyslog, man = project / "packaging/macos/halvorsten.newsyslog.conf", project / "man/halvorsten.8"
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
messages = {message for source in (project / "src").rglob("*.cpp")
            for call in re.findall(r"\blog\((.*?)\);", source.read_text(), re.S)
            for message in re.findall(r'"([^"]+)"', call)}
failures += [f"man page lacks {m!r}" for m in sorted(messages) if m.strip() not in rendered]
if len(messages) < 8:
    failures.append(f"found too few logged messages: {sorted(messages)}")

# Both kinds of Mac run the product through scripts/check-on-mac, which must be sound sh.
job = yaml.safe_load((project / ".github/workflows/macos.yml").read_text())["jobs"]["build"]
if job["strategy"]["matrix"]["runner"] != ["macos-15", "macos-15-intel"] or \
        "sudo scripts/check-on-mac" not in [step.get("run") for step in job["steps"]]:
    failures.append("the macOS workflow does not run scripts/check-on-mac on both kinds of Mac")
for script in ("check-on-mac", "install-macos", "uninstall-macos"):
    if subprocess.run(["sh", "-n", project / "scripts" / script]).returncode:
        failures.append(f"sh -n scripts/{script}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
