#!/usr/bin/env python3
"""What ships beside the executable, and the scripts that put it on a Mac, checked with Python
(and mandoc and Ruby where they are):  packaging_check.py BUILD_DIR PROJECT_DIR VERSION"""
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
program = job.get("ProgramArguments")
if job.get("Label") != "com.quorvani.halvorsten" or not program or not program[0].startswith("/") or \
        any(not isinstance(job.get(k, True), bool) for k in ("RunAtLoad", "KeepAlive")) or \
        any(not isinstance(a, str) for a in program) or job.get("ProcessType") != "Background":
    failures.append(f"launchd job: {job}")

if shutil.which("mandoc"):
    lint = subprocess.run(["mandoc", "-Tlint", "-Wwarning", man], capture_output=True, text=True)
    if lint.returncode or lint.stdout or lint.stderr:
        failures.append(f"mandoc -Tlint: {lint.stdout}{lint.stderr}")
    rendered = subprocess.run(["mandoc", "-Tutf8", man], capture_output=True, text=True).stdout
    rendered = " ".join(re.sub(r".\x08", "", rendered).split())  # without overstrike
    messages = {message for source in (project / "src").rglob("*.cpp")
                for call in re.findall(r"\blog(?:Failure)?(?:Once)?\((.*?)\);", source.read_text(), re.S)
                for message in re.findall(r'"([^"]+)"', call)}
    failures += [f"man page lacks {m!r}" for m in sorted(messages) if m.strip() not in rendered]
    if len(messages) < 13:
        failures.append(f"found too few logged messages: {sorted(messages)}")

# One version: the project's, in the man page, the changelog's newest release and the formula's
# release archive once it names one; the formula is sound Ruby.
formula, changes = project / "Formula/halvorsten.rb", (project / "CHANGELOG.md").read_text()
url = re.findall(r'^  url ".*-(.*)\.tar\.gz"', formula.read_text(), re.M)
for where, found in (("man page", re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1]),
                     ("CHANGELOG.md", re.findall(r"^## \[(\d.*)\]", changes, re.M)[:1]),
                     ("formula", url or [version])):
    failures += [f"{where} says version {found}, the project {version}"] if found != [version] else []
if shutil.which("ruby") and subprocess.run(["ruby", "-c", formula], stdout=subprocess.DEVNULL).returncode:
    failures.append("ruby -c Formula/halvorsten.rb")

# The profile for managed Macs allows the job as a background item, by label and by prefix.
profile = plistlib.loads((project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes())
payloads = profile.get("PayloadContent", [{}])
if (profile.get("PayloadType"), [p.get("PayloadType") for p in payloads]) != \
        ("Configuration", ["com.apple.servicemanagement"]) or \
        {(r["RuleType"], r["RuleValue"]) for r in payloads[0].get("Rules", [])} != \
        {("Label", "com.quorvani.halvorsten"), ("LabelPrefix", "com.quorvani.halvorsten")}:
    failures.append(f"profile: {profile}")

# Both kinds of Mac run the product through scripts/check-on-mac; every script is sound sh.
workflow = (project / ".github/workflows/macos.yml").read_text()
if not re.search(r"^\s+run: sudo scripts/check-on-mac\s*$", workflow, re.M):
    failures.append("the macOS workflow does not run scripts/check-on-mac")
scripts = [*(project / "scripts").iterdir(), *(project / "packaging/macos/scripts").iterdir()]
failures += [f"sh -n {script}" for script in scripts if subprocess.run(["sh", "-n", script]).returncode]

# What is installed, staged as the package stages it: the paths and modes of the payload list.
with tempfile.TemporaryDirectory() as volume:
    subprocess.run(["cmake", "--install", build], env=dict(os.environ, DESTDIR=volume),
                   check=True, capture_output=True)
    staged = sorted(f"./{p.relative_to(volume)}\t{p.stat().st_mode:o}"
                    for p in pathlib.Path(volume).rglob("*") if p.is_file())
    listed = sorted(line.rsplit("\t", 2)[0] for line in (project / "packaging/macos/payload.txt").open())
    failures += [f"staged payload {staged}, listed {listed}"] if staged != listed else []

    # The scripts beside stand-ins for launchctl, sleep, pkgutil, uname and id, first on PATH. A row:
    # the stand-ins' files (the job, looks it lingers after a bootout, bootstrap refused), the steps,
    # their exit statuses, launchctl's verbs in order, standard error. Only uninstall forgets the receipt.
    rows = [
        ("job=running lingers=3", "preinstall p / /;postinstall p / /", [0, 0],
         "print bootout print print print print enable bootstrap", ""),
        ("refuse", "launchd-job stop;launchd-job start /usr/local/libexec/halvorsten", [0, 1],
         "print enable bootstrap", "did not start Halvorsten: Bootstrap failed: 5: Input/output "
         "error\n  These files are in place: /usr/local/libexec/halvorsten\n  To try again: sudo "
         "launchctl bootstrap system /Library/LaunchDaemons/com.quorvani.halvorsten.plist"),
        ("job=running lingers=1000000", "launchd-job stop", [1], "print bootout" + " print" * 50,
         "still holds system/com.quorvani.halvorsten"),
        ("job=running", f"preinstall p / {volume};postinstall p / {volume};uninstall {volume}", [0, 0, 0],
         "", ""),
    ]
    (log := pathlib.Path(volume, "Library/Logs/Quorvani-Halvorsten.log")).parent.mkdir()
    log.write_text("kept\n")
    for files, steps, statuses, asked, said in rows:
        with tempfile.TemporaryDirectory() as bin_:
            for tool in [f"tests/mac-tools/{t}" for t in ("launchctl", "sleep", "pkgutil", "uname", "id")] + \
                    ["packaging/macos/scripts/preinstall", "packaging/macos/scripts/postinstall",
                     "scripts/launchd-job", f"{volume}/usr/local/share/halvorsten/uninstall"]:
                os.chmod(shutil.copy(project / tool, bin_), 0o755)
            for name, _, value in (word.partition("=") for word in f"receipt {files}".split()):
                pathlib.Path(bin_, name).write_text(value + "\n")
            env = dict(os.environ, PATH=f"{bin_}:{os.environ['PATH']}")
            runs = [subprocess.run(["sh", f"{bin_}/{step.split()[0]}", *step.split()[1:]], env=env,
                                   capture_output=True, text=True) for step in steps.split(";")]
            calls = pathlib.Path(bin_, "launchctl.calls")
            calls = " ".join(c.split()[0] for c in calls.read_text().splitlines()) if calls.exists() else ""
            if [r.returncode for r in runs] != statuses or calls != asked or \
                    said not in "".join(r.stderr for r in runs) or \
                    pathlib.Path(bin_, "receipt").exists() == ("uninstall" in steps):
                failures.append(f"{steps} with {files}: {[(r.returncode, r.stderr) for r in runs]}, {calls}")
    # Uninstalling left the log alone and took all else.
    left = sorted(str(p.relative_to(volume)) for p in pathlib.Path(volume).rglob("*") if p.is_file())
    if left != ["Library/Logs/Quorvani-Halvorsten.log"] or log.read_text() != "kept\n" or \
            pathlib.Path(volume, "usr/local/share/halvorsten").exists():
        failures.append(f"uninstall left {left}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
