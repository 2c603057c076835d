#!/usr/bin/env python3
"""Checks, on any machine with Python alone (and mandoc and Ruby where they are), what ships
beside the executable: the launchd job launchd must accept, the man page that must lint clean
and list every logged message, one version everywhere, the profile for managed Macs, the
formula, the Mac workflow that must run the check on real Macs; then the installed payload, and
the install, package and uninstall scripts against stand-ins for the Mac's tools first on PATH.

    packaging_check.py BUILD_DIR PROJECT_DIR VERSION
"""
import os
import pathlib
import plistlib
import re
import shutil
import subprocess
import sys
import tempfile

build, project, version = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
man = project / "man/halvorsten.8"
failures = []

# The launchd job: a dictionary whose keys have the types launchd requires, started by label.
job = plistlib.loads((build / "com.quorvani.halvorsten.plist").read_bytes())
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

# One version: the project's, in the man page, the changelog's newest release and the formula's
# release archive once it names one.
formula = (project / "Formula/halvorsten.rb").read_text()
versions = {"man page": re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1],
            "CHANGELOG.md": re.findall(r"^## \[(\d[^]]*)\]", (project / "CHANGELOG.md").read_text(), re.M)[:1],
            "formula": re.findall(r'^  url ".*?(\d+\.\d+\.\d+)\.tar\.gz"', formula, re.M) or [version]}
failures += [f"{where} says version {found}, the project {version}"
             for where, found in versions.items() if found != [version]]
if shutil.which("ruby") and subprocess.run(["ruby", "-c", project / "Formula/halvorsten.rb"],
                                           capture_output=True).returncode:
    failures.append("ruby -c Formula/halvorsten.rb")

# The profile for managed Macs allows the job as a background item, by label and by prefix.
profile = plistlib.loads((project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes())
payloads = profile.get("PayloadContent", [])
if profile.get("PayloadType") != "Configuration" or profile.get("PayloadScope") != "System" or \
        [p.get("PayloadType") for p in payloads] != ["com.apple.servicemanagement"] or \
        {(r["RuleType"], r["RuleValue"]) for r in payloads[0].get("Rules", [])} != \
        {("Label", "com.quorvani.halvorsten"), ("LabelPrefix", "com.quorvani.halvorsten")} or \
        len({profile["PayloadUUID"], payloads[0]["PayloadUUID"]}) != 2:
    failures.append(f"profile: {profile}")

# Both kinds of Mac run the product through scripts/check-on-mac, which must be sound sh.
workflow = (project / ".github/workflows/macos.yml").read_text()
if not re.search(r"^\s+run: sudo scripts/check-on-mac\s*$", workflow, re.M):
    failures.append("the macOS workflow does not run scripts/check-on-mac")
scripts = [project / "scripts" / s for s in ("check-on-mac", "install-macos", "uninstall-macos",
                                            "launchd-job", "build-pkg")]
for script in scripts + list((project / "packaging/macos/scripts").iterdir()):
    if subprocess.run(["sh", "-n", script]).returncode:
        failures.append(f"sh -n {script}")

# What is installed, staged as the package stages it: the paths and modes of the payload list.
with tempfile.TemporaryDirectory() as volume:
    subprocess.run(["cmake", "--install", build], env=dict(os.environ, DESTDIR=volume),
                   check=True, capture_output=True)
    staged = sorted(f"./{p.relative_to(volume)}\t{p.stat().st_mode:o}"
                    for p in pathlib.Path(volume).rglob("*") if p.is_file())
    listed = sorted(line.rsplit("\t", 2)[0] for line in
                    (project / "packaging/macos/payload.txt").read_text().splitlines())
    if staged != listed:
        failures.append(f"staged payload {staged}, listed {listed}")

    # The scripts against stand-in launchctl, sleep, pkgutil, uname and id. Each row: the job
    # before ("running" or none), how many looks it lingers after a bootout ("never": longer than
    # any wait), whether bootstrap is refused, the steps (scripts beside launchd-job, as in the
    # package, and the uninstall script as installed in the volume); then each step's exit
    # status, the job after, the bootstraps made, whether launchctl was asked anything, and what
    # standard error must say.
    NEVER, OTHER = "1000000", f"{volume}"
    rows = [
        ("running", "3", False, ["preinstall p / /", "postinstall p / /"], [0, 0], "running", 1, True, ""),
        (None, "0", True, ["launchd-job stop", "launchd-job start /usr/local/libexec/halvorsten"], [0, 1],
         None, 1, True, "did not start Halvorsten: Bootstrap failed: 5: Input/output error\n  These "
         "files are in place: /usr/local/libexec/halvorsten\n  To try again: sudo launchctl bootstrap "
         "system /Library/LaunchDaemons/com.quorvani.halvorsten.plist"),
        ("running", "0", False, ["launchd-job stop"], [0], None, 0, True, ""),
        ("running", NEVER, False, ["launchd-job stop"], [1], "going", 0, True,
         "still holds system/com.quorvani.halvorsten"),
        ("running", "0", False, [f"preinstall p / {OTHER}", f"postinstall p / {OTHER}"], [0, 0],
         "running", 0, False, ""),
        ("running", "0", False, [f"uninstall {OTHER}"], [0], "running", 0, False, ""),
    ]
    log = pathlib.Path(volume, "Library/Logs/Quorvani-Halvorsten.log")
    log.parent.mkdir()
    log.write_text("kept\n")
    for before, lingers, refuse, steps, statuses, after, bootstraps, touched, said in rows:
        with tempfile.TemporaryDirectory() as bin_:
            for tool in ("launchctl", "sleep", "pkgutil", "uname", "id"):
                shutil.copy(project / "tests/mac-tools" / tool, bin_)
            for script in ("packaging/macos/scripts/preinstall", "packaging/macos/scripts/postinstall",
                           "scripts/launchd-job"):
                shutil.copy(project / script, bin_)
            shutil.copy(pathlib.Path(volume, "usr/local/share/halvorsten/uninstall"), bin_)
            pathlib.Path(bin_, "lingers").write_text(lingers)
            pathlib.Path(bin_, "receipt").touch()
            if before:
                pathlib.Path(bin_, "job").write_text(before + "\n")
            if refuse:
                pathlib.Path(bin_, "refuse").touch()
            env = dict(os.environ, PATH=f"{bin_}:{os.environ['PATH']}")
            runs = [subprocess.run(["sh", f"{bin_}/{step.split()[0]}", *step.split()[1:]], env=env,
                                   capture_output=True, text=True) for step in steps]
            job_after, calls = pathlib.Path(bin_, "job"), pathlib.Path(bin_, "launchctl.calls")
            calls = calls.read_text() if calls.exists() else ""
            sleeps = pathlib.Path(bin_, "sleeps")
            sleeps = sleeps.read_text().count("\n") if sleeps.exists() else 0
            if [r.returncode for r in runs] != statuses or \
                    (job_after.read_text().split()[0] if job_after.exists() else None) != after or \
                    calls.count("bootstrap ") != bootstraps or bool(calls) != touched or \
                    said not in "".join(r.stderr for r in runs) or sleeps != (49 if lingers == NEVER else int(lingers)) or \
                    pathlib.Path(bin_, "receipt").exists() == steps[0].startswith("uninstall"):
                failures.append(f"{steps} over {before}, lingering {lingers}: "
                                f"{[(r.returncode, r.stderr) for r in runs]}\n{calls}")
    # The uninstall row left the log alone, took all else, and forgot the receipt.
    left = sorted(str(p.relative_to(volume)) for p in pathlib.Path(volume).rglob("*") if p.is_file())
    if left != ["Library/Logs/Quorvani-Halvorsten.log"] or log.read_text() != "kept\n" or \
            pathlib.Path(volume, "usr/local/share/halvorsten").exists():
        failures.append(f"uninstall left {left}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
