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


def have(tool, package):
    """Whether TOOL is here; without it a check is skipped, but under CI that is a failure."""
    if shutil.which(tool):
        return True
    if os.environ.get("CI"):
        failures.append(f"missing: {tool} (Debian package {package})")
    else:
        print(f"skipped: the checks that need {tool} (Debian package {package})")
    return False


# The launchd job: a dictionary whose keys have the types launchd requires, started by label.
job = plistlib.loads((build / "com.quorvani.halvorsten.plist").read_bytes())
program = job.get("ProgramArguments")
if job.get("Label") != "com.quorvani.halvorsten" or not program or not program[0].startswith("/") or \
        any(not isinstance(job.get(k, True), bool) for k in ("RunAtLoad", "KeepAlive")) or \
        any(not isinstance(a, str) for a in program) or job.get("ProcessType") != "Interactive":
    failures.append(f"launchd job: {job}")

if have("mandoc", "mandoc"):
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
status = project / "scripts/halvorsten-status"
for where, found in (("man page", re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1]),
                     ("halvorsten-status", re.findall(r"^version=(\S+)$", status.read_text(), re.M)),
                     ("CHANGELOG.md", re.findall(r"^## \[(\d.*)\]", changes, re.M)[:1]),
                     ("formula", url or [version])):
    failures += [f"{where} says version {found}, the project {version}"] if found != [version] else []
if have("ruby", "ruby") and subprocess.run(["ruby", "-c", formula], stdout=subprocess.DEVNULL).returncode:
    failures.append("ruby -c Formula/halvorsten.rb")

# The formula's test compares testpath before and after (Homebrew puts files of its own there).
test_block = formula.read_text().split("  test do", 1)[-1]
if test_block.count("testpath.children") < 2 or re.search(r"assert_equal \[.*testpath\.children", test_block):
    failures.append("the formula's test must compare testpath's children before and after, not list them")
# Installer must not give folders that exist already (Homebrew's /usr/local/share) the package's
# owner and mode: the package's PackageInfo says so before the product is built from it.
build_pkg = (project / "scripts/build-pkg").read_text()
if not re.search(r'overwrite-permissions="false".*pkgutil --flatten.*productbuild', build_pkg, re.S):
    failures.append("build-pkg does not ship a PackageInfo with overwrite-permissions=\"false\"")
# The Mac job runs the README's own Homebrew lines, as written.
readme = (project / "README.md").read_text()
brew_row = re.search(r"^\| Homebrew \| `(.*)` \| `(.*)` \|$", readme, re.M)
workflow = (project / ".github/workflows/macos.yml").read_text()
ran = {line.strip() for line in workflow.splitlines()}
failures += [f"the macOS workflow does not run the README's line {line!r}"
             for line in (brew_row.groups() if brew_row else ["(no Homebrew row)"]) if line not in ran]

# The profile for managed Macs allows the job as a background item, by label and by prefix.
profile = plistlib.loads((project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes())
payloads = profile.get("PayloadContent", [{}])
if (profile.get("PayloadType"), [p.get("PayloadType") for p in payloads]) != \
        ("Configuration", ["com.apple.servicemanagement"]) or \
        {(r["RuleType"], r["RuleValue"]) for r in payloads[0].get("Rules", [])} != \
        {("Label", "com.quorvani.halvorsten"), ("LabelPrefix", "com.quorvani.halvorsten")}:
    failures.append(f"profile: {profile}")

# Both kinds of Mac run the product through scripts/check-on-mac; every script is sound sh.
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

# The status script, one row a verdict, on a Mac laid out in a folder: the channel's files and the
# stand-ins' (as above; "btm" is what sfltool dumps: OUR and ANOTHER job's dispositions), the
# arguments, the exit status, the exact output.
label = "com.quorvani.halvorsten"
job_file = f"Library/LaunchDaemons/{label}.plist"
woke = "halvorsten-status: the daemon woke while nothing happened"
status_rows = [
    (f"log {job_file} receipt job=running btm=enabled,disabled source=Battery_Power setting=0", "", 0,
     f"Halvorsten {version} (package)\njob: system/{label}, running as pid 4242, last exit (never exited)\n"
     "Login Items: allowed\npower: Battery Power; sleep prevention: off\n"
     "the log's last lines (ROOT/Library/Logs/Quorvani-Halvorsten.log):\n"
     "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-05T16:00:00Z] Halvorsten started; "
     "watching power source (event-driven, no polling).\nverdict: protecting"),
    (f"{job_file} btm=enabled,disabled source=AC_Power", "", 1,
     f"Halvorsten {version} (clone)\njob: system/{label}, not in launchd\nLogin Items: allowed\n"
     "power: AC Power; sleep prevention: never set (off)\nverdict: not running: start it with sudo "
     f"launchctl bootstrap system ROOT/Library/LaunchDaemons/{label}.plist"),
    (f"{job_file} receipt job=stopped btm=disabled,enabled source=AC_Power setting=1", "", 1,
     f"Halvorsten {version} (package)\njob: system/{label}, last exit 78: EX_CONFIG\nLogin Items: switched off\n"
     "power: AC Power; sleep prevention: on\nverdict: switched off under Login Items: switch Halvorsten on "
     "under System Settings > General > Login Items > Allow in the Background, then: sudo launchctl "
     f"kickstart system/{label}"),
    ("source=AC_Power", "--brief", 1, f"<result>not installed (Halvorsten {version}, last clear never)</result>"),
    ("log Library/LaunchDaemons/homebrew.mxcl.halvorsten.plist job=running source=AC_Power", "--brief", 0,
     f"<result>protecting (Halvorsten {version}, last clear 2026-12-05T15:31:02Z)</result>"),
    ("opt/homebrew/opt/halvorsten uid=501 source=AC_Power", "--brief", 1,
     f"<result>not running (Halvorsten {version}, last clear never)</result>"),
    # What it costs: 30 s of top ("idle" is the second sample's IDLEW %CPU POWER), one row a figure.
    (f"{job_file} job=running idle=0_0.0_0.0", "--cost", 0,
     "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.0 %, energy impact 0.0"),
    (f"{job_file} job=running idle=3_0.0_0.1", "--cost", 1,
     "idle for 30 s: 3 wake-ups (0.10 a second), CPU 0.0 %, energy impact 0.1\n" + woke),
    (f"{job_file} job=running idle=0_0.2_0.2", "--cost", 1,
     "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.2 %, energy impact 0.2\n" + woke),
    (f"{job_file} job=running idle=3+_0.0_0.0", "--cost", 2,  # top's default mode: never read as 0
     'halvorsten-status: top\'s report is not as expected: 2 samples, "PID   IDLEW %CPU POWER", "4242  3+ 0.0 0.0"'),
]
for files, argument, status, expected in status_rows:
    with tempfile.TemporaryDirectory() as mac, tempfile.TemporaryDirectory() as bin_:
        for tool in ("launchctl", "pkgutil", "sfltool", "pmset", "top", "uname", "id"):
            os.chmod(shutil.copy(project / "tests/mac-tools" / tool, bin_), 0o755)
        script = (project / "scripts/halvorsten-status").read_text().replace("\nroot=\n", f"\nroot={mac}\n", 1)
        pathlib.Path(bin_, "halvorsten-status").write_text(script)
        for word in files.split():
            if word == "log":
                word = ("Library/Logs/Quorvani-Halvorsten.log=[2026-12-05T15:31:02Z] disablesleep cleared.\n"
                        "[2026-12-05T16:00:00Z] Halvorsten started; watching power source (event-driven, no polling).")
            name, _, value = word.partition("=")
            if name == "btm":
                ours, others = value.split(",")  # ours between two others, as sfltool lists them
                value = "".join(f" #{n}:\n  Disposition: [{state}, allowed, visible]\n  Identifier: 16.{job}\n"
                                for n, (job, state) in enumerate(((f"{label}.x", others), (label, ours),
                                                                  ("com.example.other", others))))
            place = pathlib.Path(mac, name) if "/" in name else pathlib.Path(bin_, name)
            place.parent.mkdir(parents=True, exist_ok=True)
            place.write_text((value if name.endswith(".log") else value.replace("_", " ")) + "\n")
        run = subprocess.run(["sh", f"{bin_}/halvorsten-status", *argument.split()], capture_output=True,
                             text=True, env=dict(os.environ, PATH=f"{bin_}:{os.environ['PATH']}"))
        if (run.returncode, (run.stdout + run.stderr).replace(mac, "ROOT").rstrip("\n")) != (status, expected):
            failures.append(f"halvorsten-status {argument} with {files}: {run.returncode}\n{run.stdout}{run.stderr}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
