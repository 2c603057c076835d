#!/usr/bin/env python3
"""Checks, on any machine with Python alone (and mandoc where there is one), what a Mac installs
and runs beside the executable: the launchd job launchd must accept, the man page that must
lint clean and list every logged message, the Mac workflow that must run the check on real
Macs, and the launchd steps of the install scripts against a stand-in launchctl.

    packaging_check.py PLIST PROJECT_DIR
"""
import os
import pathlib
import plistlib
import re
import shutil
import subprocess
import sys
import tempfile

plist, project = sys.argv[1], pathlib.Path(sys.argv[2])
man = project / "man/halvorsten.8"
failures = []

# The launchd job: a dictionary whose keys have the types launchd requires, started by label.
job = plistlib.loads(pathlib.Path(plist).read_bytes())
arguments = job.get("ProgramArguments")
if job.get("Label") != "com.quorvani.halvorsten" or not isinstance(arguments, list) or \
        not arguments or not all(isinstance(a, str) for a in arguments) or \
        not arguments[0].startswith("/") or \
        not all(isinstance(job.get(k, True), bool) for k in ("RunAtLoad", "KeepAlive")) or \
        job.get("ProcessType", "Background") not in ("Background", "Standard", "Adaptive", "Interactive"):
    failures.append(f"launchd job: {job}")

if shutil.which("mandoc"):
    lint = subprocess.run(["mandoc", "-Tlint", "-Wwarning", man], capture_output=True, text=True)
    if lint.returncode or lint.stdout or lint.stderr:
        failures.append(f"mandoc -Tlint: {lint.stdout}{lint.stderr}")
    rendered = subprocess.run(["mandoc", "-Tutf8", man], capture_output=True, text=True).stdout
    rendered = " ".join(re.sub(r".\x08", "", rendered).split())  # without overstrike
    messages = {message for source in (project / "src").rglob("*.cpp")
                for call in re.findall(r"\blog\((.*?)\);", source.read_text(), re.S)
                for message in re.findall(r'"([^"]+)"', call)}
    failures += [f"man page lacks {m!r}" for m in sorted(messages) if m.strip() not in rendered]
    if len(messages) < 9:
        failures.append(f"found too few logged messages: {sorted(messages)}")
elif os.environ.get("CI"):
    failures.append("mandoc is missing (CI must have it)")

# Both kinds of Mac run the product through scripts/check-on-mac, which must be sound sh.
workflow = (project / ".github/workflows/macos.yml").read_text()
if not re.search(r"^\s+run: sudo scripts/check-on-mac\s*$", workflow, re.M):
    failures.append("the macOS workflow does not run scripts/check-on-mac")
for script in ("check-on-mac", "install-macos", "uninstall-macos", "launchd-job"):
    if subprocess.run(["sh", "-n", project / "scripts" / script]).returncode:
        failures.append(f"sh -n scripts/{script}")

# The launchd steps against the stand-in launchctl and sleep, first on PATH. Each row: the job
# before ("running" or none), how many looks it lingers after a bootout ("never": longer than
# any wait), whether bootstrap is refused, the steps; then each step's exit status, the job
# after, the bootstraps made, and what standard error must say.
NEVER = "1000000"
rows = [
    ("running", "3", False, ["stop", "start /usr/local/libexec/halvorsten"], [0, 0], "running", 1, ""),
    (None, "0", True, ["stop", "start /usr/local/libexec/halvorsten"], [0, 1], None, 1,
     "did not start Halvorsten: Bootstrap failed: 5: Input/output error\n  These files are in place: "
     "/usr/local/libexec/halvorsten\n  To try again: sudo launchctl bootstrap system "
     "/Library/LaunchDaemons/com.quorvani.halvorsten.plist"),
    ("running", "0", False, ["stop"], [0], None, 0, ""),
    ("running", NEVER, False, ["stop"], [1], "going", 0, "still holds system/com.quorvani.halvorsten"),
]
for before, lingers, refuse, steps, statuses, after, bootstraps, said in rows:
    with tempfile.TemporaryDirectory() as bin_:
        for tool in ("launchctl", "sleep"):
            shutil.copy(project / "tests/mac-tools" / tool, bin_)
        pathlib.Path(bin_, "lingers").write_text(lingers)
        if before:
            pathlib.Path(bin_, "job").write_text(before + "\n")
        if refuse:
            pathlib.Path(bin_, "refuse").touch()
        env = dict(os.environ, PATH=f"{bin_}:{os.environ['PATH']}")
        runs = [subprocess.run(["sh", project / "scripts/launchd-job", *step.split()], env=env,
                               capture_output=True, text=True) for step in steps]
        job_after = pathlib.Path(bin_, "job")
        calls = pathlib.Path(bin_, "launchctl.calls").read_text()
        sleeps = pathlib.Path(bin_, "sleeps").read_text().count("\n") if NEVER == lingers else 0
        if [r.returncode for r in runs] != statuses or \
                (job_after.read_text().split()[0] if job_after.exists() else None) != after or \
                calls.count("bootstrap ") != bootstraps or said not in "".join(r.stderr for r in runs) or \
                (lingers == NEVER and sleeps != 49):
            failures.append(f"launchd-job {steps} over {before}, lingering {lingers}: "
                            f"{[(r.returncode, r.stderr) for r in runs]}\n{calls}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
