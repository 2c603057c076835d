#!/usr/bin/env python3
"""What ships beside the executable, and the scripts that put it on a Mac, checked with Python
(and mandoc and Ruby where they are):  packaging_check.py BUILD_DIR PROJECT_DIR VERSION"""
import os
import pathlib
import plistlib
import re
import shutil
import signal
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

# One version: the project's, in the man page, the status script, the changelog's newest release
# and the cask; the cask is sound Ruby.
cask, changes = project / "Casks/halvorsten.rb", (project / "CHANGELOG.md").read_text()
status = project / "scripts/halvorsten-status"
for where, found in (("man page", re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1]),
                     ("halvorsten-status", re.findall(r"^version=(\S+)$", status.read_text(), re.M)),
                     ("CHANGELOG.md", re.findall(r"^## \[(\d.*)\]", changes, re.M)[:1]),
                     ("cask", re.findall(r'^  version "(.*)"$', cask.read_text(), re.M))):
    failures += [f"{where} says version {found}, the project {version}"] if found != [version] else []
if have("ruby", "ruby") and subprocess.run(["ruby", "-c", cask], stdout=subprocess.DEVNULL).returncode:
    failures.append("ruby -c Casks/halvorsten.rb")
# No root daemon from Homebrew's prefix, and no removal that hands a user what root owns: a
# recursive chown in a folder the user can write gives them whatever was hard-linked there.
shipped = [project / "README.md", *(project / d for d in ("Casks", "scripts", "packaging", "man", ".github"))]
for path in (f for place in shipped for f in ([place] if place.is_file() else place.rglob("*")) if f.is_file()):
    text = path.read_text(errors="replace")
    failures += [f"{path.relative_to(project)} holds a recursive chown"] if re.search(r"chown\s+-R", text) else []
    failures += [f"{path.relative_to(project)} starts a root service from Homebrew"] if "require_root" in text else []
# Installer must not give folders that exist already (Homebrew's /usr/local/share) the package's
# owner and mode: the package's PackageInfo says so before the product is built from it.
build_pkg = (project / "scripts/build-pkg").read_text()
if not re.search(r'overwrite-permissions="false".*pkgutil --flatten.*productbuild', build_pkg, re.S):
    failures.append("build-pkg does not ship a PackageInfo with overwrite-permissions=\"false\"")
# The Mac job runs the README's own Homebrew lines, as written.
readme = (project / "README.md").read_text()
brew_row = re.search(r"^\| Homebrew[^|]*\| `(.*)` \| `(.*)` \|$", readme, re.M)
workflow = (project / ".github/workflows/macos.yml").read_text()
ran = {line.strip() for line in workflow.splitlines()}
failures += [f"the macOS workflow does not run the README's line {line!r}"
             for line in (brew_row.groups() if brew_row else ["(no Homebrew row)"]) if line not in ran]

# The profile for managed Macs allows the job as a background item, by its exact label alone.
profile = plistlib.loads((project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes())
payloads = profile.get("PayloadContent", [{}])
if (profile.get("PayloadType"), [p.get("PayloadType") for p in payloads]) != \
        ("Configuration", ["com.apple.servicemanagement"]) or \
        [(r["RuleType"], r["RuleValue"]) for r in payloads[0].get("Rules", [])] != \
        [("Label", "com.quorvani.halvorsten")]:
    failures.append(f"profile: {profile}")

# Both kinds of Mac run the product through scripts/check-on-mac; every script is sound sh.
if not re.search(r"^\s+run: sudo scripts/check-on-mac\s*$", workflow, re.M):
    failures.append("the macOS workflow does not run scripts/check-on-mac")
scripts = [*(project / "scripts").iterdir(), *(project / "packaging/macos/scripts").iterdir()]
failures += [f"sh -n {script}" for script in scripts if subprocess.run(["sh", "-n", script]).returncode]

# A Mac laid out in a folder and run in a private mount namespace: the folder is "/", with its own
# /Library, /private, /opt and /usr/local, this machine's /usr, /etc and /dev for the rest, and the
# stand-ins for the Mac's tools laid over /usr/bin, where the scripts find them with their fixed
# PATH. The stand-ins keep what they are told in files beside them, in the folder `tools`.
LAY_OUT = """
set -e
mac=$1 tools=$2 work=$3; shift 3
mkdir -p "$mac/usr/local" "$mac/etc" "$mac/dev" "$mac/tmp" "$work/local" "$work/over"
mount --bind "$mac/usr/local" "$work/local"
mount --rbind /usr "$mac/usr"
mount --bind "$work/local" "$mac/usr/local"
mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$tools,workdir=$work/over" "$mac/usr/bin"
mount --rbind /etc "$mac/etc"
mount --rbind /dev "$mac/dev"
for d in bin sbin lib lib32 lib64 libx32; do
  if [ -L "/$d" ]; then ln -sfn "$(readlink "/$d")" "$mac/$d"
  elif [ -d "/$d" ]; then mkdir -p "$mac/$d"; mount --rbind "/$d" "$mac/$d"; fi
done
chmod 1777 "$mac/tmp"
exec chroot "$mac" "$@"
"""
# Tools that a script might take from the caller's PATH: each, run, leaves a mark.
TRAPPED = ("launchctl pkgutil sfltool pmset top notifyutil pgrep killall awk sed grep tail head cut ls "
           "rm mkdir mv chmod chown cat dirname readlink sleep id uname perl mktemp wc sort comm tr env").split()


def on_a_mac(mac, tools, steps, timeout=20):
    """Runs each shell command of STEPS as root on the Mac in the folder MAC, with a trap of every
    tool first on the caller's PATH; gives each one's exit status and all they wrote, and whether
    a trap was sprung."""
    trap = pathlib.Path(mac, "trap")
    trap.mkdir(exist_ok=True)
    for tool in TRAPPED:
        (trap / tool).write_text("#!/bin/sh\n: >>/trapped\n")
        (trap / tool).chmod(0o755)
    driver = "".join(f"( {step} ) </dev/null; echo $? >>/statuses\n" for step in steps)
    with tempfile.TemporaryDirectory() as work, subprocess.Popen(
            ["unshare", "-m" if os.geteuid() == 0 else "-rm", "sh", "-c", LAY_OUT, "sh", mac, tools, work,
             "/bin/sh", "-c", f"PATH=/trap:/usr/bin:/bin:/usr/sbin:/sbin; export PATH; {driver}"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace",
            start_new_session=True) as run:
        try:
            out, err = run.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(run.pid, signal.SIGKILL)  # with whatever it left waiting
            run.communicate()
            raise
    statuses = [int(line) for line in pathlib.Path(mac, "statuses").read_text().split()]
    return statuses, out + err, pathlib.Path(mac, "trapped").exists()


def stand_ins(tools, files=""):
    """The stand-ins in TOOLS, with the files they keep: words NAME=VALUE ("_" a blank, "|" a
    line's end)."""
    for tool in (project / "tests/mac-tools").iterdir():
        os.chmod(shutil.copy(tool, tools), 0o755)
    for name, _, value in (word.partition("=") for word in files.split()):
        pathlib.Path(tools, name).write_text(value.replace("_", " ").replace("|", "\n") + "\n")


# What is installed, staged as the package stages it: the paths and modes of the payload list.
with tempfile.TemporaryDirectory() as stage:
    subprocess.run(["cmake", "--install", build], env=dict(os.environ, DESTDIR=stage),
                   check=True, capture_output=True)
    staged = sorted(f"./{p.relative_to(stage)}\t{p.stat().st_mode:o}"
                    for p in pathlib.Path(stage).rglob("*") if p.is_file())
    listed = sorted(line.rsplit("\t", 2)[0] for line in (project / "packaging/macos/payload.txt").open())
    failures += [f"staged payload {staged}, listed {listed}"] if staged != listed else []
    own = "usr/local/share/halvorsten"
    ours = sorted(pathlib.Path(stage, own).iterdir())

    def a_mac(mac):
        """A Mac with the payload in place, a copy of it at /stage, a second volume holding it too
        (/Volumes/Other), the package's scripts in /pkg, the log with one line, and a secret."""
        for place in ("", "stage", "Volumes/Other"):
            shutil.copytree(stage, pathlib.Path(mac, place), dirs_exist_ok=True, symlinks=True)
        os.chmod(mac, 0o755)
        pkg = pathlib.Path(mac, "pkg")
        pkg.mkdir()
        for script in ("packaging/macos/scripts/preinstall", "packaging/macos/scripts/postinstall",
                       "scripts/launchd-job"):
            shutil.copy(project / script, pkg)
        for volume in ("", "Volumes/Other"):
            (log := pathlib.Path(mac, volume, "Library/Logs/Quorvani-Halvorsten.log")).parent.mkdir()
            log.write_text("kept\n")
        pathlib.Path(mac, "private/secret").write_text(
            "[2026-12-05T15:31:02Z] disablesleep cleared.\nSECRET\n")

    # The package's scripts and the uninstall script. A row: the stand-ins' files (the job, how
    # long it lingers after a bootout, bootstrap refused) and what is done to the Mac first; the
    # steps ("payload" lays the files in place as Installer does); their exit statuses;
    # launchctl's verbs in order; what they said on standard error. After a row whose steps all
    # went well, the daemon's own folder is root's, 755, and holds just its files; only
    # uninstall forgets the receipt; no row runs a tool from the caller's PATH.
    pre, post, job = "sh /pkg/preinstall p / /", "sh /pkg/postinstall p / /", "sh /pkg/launchd-job"
    planted = f"/bin/mkdir -p /{own}; echo 0 >/{own}/planted; /bin/chown -R nobody /{own}"
    rows = [
        ("job=running lingers=3", [pre, "payload", post], [0, 0, 0],
         "print bootout print print print print enable bootstrap", ""),
        ("refuse", [f"{job} stop", f"{job} start"], [0, 1], "print enable bootstrap",
         "did not start Halvorsten: Bootstrap failed: 5: Input/output error\n  These files are in place: "
         "/usr/local/libexec/halvorsten /Library/LaunchDaemons/com.quorvani.halvorsten.plist"),
        ("job=running lingers=1000000", [f"{job} stop"], [1], "print bootout" + " print" * 50,
         "still holds system/com.quorvani.halvorsten"),
        ("job=running", [pre.replace("/ /", "/ /Volumes/Other"), post.replace("/ /", "/ /Volumes/Other"),
                         f"sh /{own}/uninstall /Volumes/Other"], [0, 0, 0], "", ""),
        # A folder of the daemon's own that a user made first is made afresh, root's.
        ("", [planted, pre, "payload", post], [0, 0, 0, 0], "print enable bootstrap", ""),
        # A folder above what root runs that someone else may write to stops the install before
        # anything is laid, or, if it came after that, before the job starts, which then is gone.
        ("", ["/bin/chown nobody /usr/local/libexec", pre], [0, 1], "print",
         "will not install Halvorsten: /usr/local/libexec is writable by nobody"),
        ("", [pre, "payload", "/bin/chmod o+w /Library/LaunchDaemons", post,
              "test ! -e /Library/LaunchDaemons/com.quorvani.halvorsten.plist"], [0, 0, 0, 1, 0], "print",
         "will not start Halvorsten: /Library/LaunchDaemons is writable by everyone"),
    ]
    for files, steps, statuses, asked, said in rows:
        with tempfile.TemporaryDirectory() as mac, tempfile.TemporaryDirectory() as tools:
            a_mac(mac)
            stand_ins(tools, f"receipt {files}")
            steps = ["/bin/cp -R /stage/. /" if step == "payload" else step for step in steps]
            ran, out, trapped = on_a_mac(mac, tools, steps)
            calls = pathlib.Path(tools, "launchctl.calls")
            calls = " ".join(c.split()[0] for c in calls.read_text().splitlines()) if calls.exists() else ""
            folder = pathlib.Path(mac, own)
            if ran != statuses or calls != asked or said not in out or trapped or \
                    pathlib.Path(tools, "receipt").exists() == any("uninstall" in step for step in steps) or \
                    (0 == max(ran) and post in steps and
                     ((folder.stat().st_uid, folder.stat().st_mode) != (0, 0o40755) or
                      sorted(p.name for p in folder.iterdir()) != [p.name for p in ours])):
                failures.append(f"{steps} with {files}: {ran}, {calls}, trapped {trapped}\n{out}")
            if "uninstall" in steps[-1]:  # it left the log alone and took all else
                left = sorted(str(p.relative_to(mac)) for p in pathlib.Path(mac, "Volumes/Other").rglob("*")
                              if p.is_file())
                if left != ["Volumes/Other/Library/Logs/Quorvani-Halvorsten.log"] or \
                        pathlib.Path(mac, "Volumes/Other", own).exists():
                    failures.append(f"uninstall left {left}")

    # The status script and check-on-mac --notices, one row a verdict or an outcome, on a Mac with
    # the payload in place: the stand-ins' files and what is done to the Mac first ("btm" is what
    # sfltool dumps: OUR and ANOTHER job's dispositions; "log" the log's lines: as the daemon
    # writes them, a FIFO, a link to a secret, or hostile text), the command, the exit status,
    # the exact output.
    label = "com.quorvani.halvorsten"
    job_file = f"Library/LaunchDaemons/{label}.plist"
    woke = "halvorsten-status: the daemon woke while nothing happened"
    logs = {
        "ours": "[2026-12-05T15:31:02Z] disablesleep cleared.\n[2026-12-05T16:00:00Z] Halvorsten started; "
                "watching power source (event-driven, no polling).\n",
        "fifo": None, "link": None,
        "hostile": "[2026-12-05T15:31:02Z] disablesleep cleared.\n"
                   "[2026-12-06T09:00:00Z] \x1b]0;owned\x07\x1b[2Jdisablesleep cleared.\n"
                   "[2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\n"
                   "[2026-12-07T11:00:00Z] \u202edelbasid peelS\u202c \x9b31m\n",
    }
    status = f"sh /{own}/halvorsten-status"
    not_running = f"power: AC Power; sleep prevention: never set (off)\nverdict: not running: start it with sudo " \
                  f"launchctl bootstrap system /Library/LaunchDaemons/{label}.plist"
    protecting = f"Halvorsten {version} (package)\njob: system/{label}, running as pid 4242, last exit (never exited)\n" \
                 "Login Items: allowed\npower: Battery Power; sleep prevention: off\n"
    woken = "".join(f"com.apple.system.{notice}, {when} notifyd restarted: the daemon was switched in %s times\n"
                    + ("notifyd restarted: pid 100 ended, pid 101 now\n" if notice.endswith("source") and
                       when == "before" else "")
                    for when in ("before", "after")
                    for notice in ("powermanagement.prefschange", "powersources.source"))
    notices = f"sh /{own}/check-on-mac --notices"
    status_rows = [
        (f"log=ours receipt job=running btm=enabled,disabled source=Battery_Power setting=0", status, 0,
         protecting + "the log's last lines (/Library/Logs/Quorvani-Halvorsten.log):\n"
         "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-05T16:00:00Z] Halvorsten started; "
         "watching power source (event-driven, no polling).\nverdict: protecting"),
        ("btm=enabled,disabled source=AC_Power", status, 1,
         f"Halvorsten {version} (clone)\njob: system/{label}, not in launchd\nLogin Items: allowed\n" + not_running),
        ("receipt job=stopped btm=disabled,enabled source=AC_Power setting=1", status, 1,
         f"Halvorsten {version} (package)\njob: system/{label}, last exit 78: EX_CONFIG\nLogin Items: switched off\n"
         "power: AC Power; sleep prevention: on\nverdict: switched off under Login Items: switch Halvorsten on "
         "under System Settings > General > Login Items > Allow in the Background, then: sudo launchctl "
         f"kickstart system/{label}"),
        (f"-{job_file} source=AC_Power", f"{status} --brief", 1,
         f"<result>not installed (Halvorsten {version}, last clear never)</result>"),
        ("log=ours receipt +opt/homebrew/Caskroom/halvorsten job=running source=AC_Power", f"{status} --brief", 0,
         f"<result>protecting (Halvorsten {version}, last clear 2026-12-05T15:31:02Z)</result>"),
        ("receipt +opt/homebrew/Caskroom/halvorsten uid=501 source=AC_Power", status, 1,
         f"Halvorsten {version} (Homebrew cask)\njob: system/{label}, not in launchd\n"
         "Login Items: cannot tell (run with sudo to see)\n" + not_running),
        # What launchd runs, or its job, could be swapped by someone other than root.
        ("receipt job=running btm=enabled,disabled source=Battery_Power setting=0 ~nobody=usr/local/libexec",
         status, 1, protecting + "verdict: at risk: /usr/local/libexec is writable by nobody"),
        ("receipt job=running program=/opt/homebrew/opt/halvorsten/libexec/halvorsten source=AC_Power "
         "+opt/homebrew/Cellar/halvorsten/0.1.0/libexec @opt/homebrew/opt/halvorsten=../Cellar/halvorsten/0.1.0 "
         "~nobody=opt/homebrew/opt", f"{status} --brief", 1,
         f"<result>at risk (Halvorsten {version}, last clear never)</result>"),
        # The log as hostile input: never waited on, never followed, never printed raw or trusted.
        ("log=fifo receipt job=running source=AC_Power", f"{status} --brief", 0,
         f"<result>protecting (Halvorsten {version}, last clear never)</result>"),
        ("log=link receipt job=running btm=enabled,disabled source=Battery_Power setting=0", status, 0,
         protecting + "the log (/Library/Logs/Quorvani-Halvorsten.log) is not a regular file; not read\n"
                      "verdict: protecting"),
        ("log=hostile receipt job=running btm=enabled,disabled source=Battery_Power setting=0", status, 0,
         protecting + "the log's last lines (/Library/Logs/Quorvani-Halvorsten.log):\n"
         "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-06T09:00:00Z] ]0;owned[2Jdisablesleep cleared.\n"
         "  [2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\n"
         "  [2026-12-07T11:00:00Z] delbasid peelS 31m\nverdict: protecting"),
        ("log=hostile receipt job=running source=AC_Power", f"{status} --brief", 0,
         f"<result>protecting (Halvorsten {version}, last clear 2026-12-05T15:31:02Z)</result>"),
        # What it costs: 30 s of top ("idle" is the second sample's IDLEW %CPU POWER), one row a figure.
        ("receipt job=running idle=0_0.0_0.0", f"{status} --cost", 0,
         "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.0 %, energy impact 0.0"),
        ("receipt job=running idle=3_0.0_0.1", f"{status} --cost", 1,
         "idle for 30 s: 3 wake-ups (0.10 a second), CPU 0.0 %, energy impact 0.1\n" + woke),
        ("receipt job=running idle=0_0.2_0.2", f"{status} --cost", 1,
         "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.2 %, energy impact 0.2\n" + woke),
        ("receipt job=running idle=3+_0.0_0.0", f"{status} --cost", 2,  # top's default mode: never read as 0
         'halvorsten-status: top\'s report is not as expected: 2 samples, "PID   IDLEW %CPU POWER", "4242  3+ 0.0 0.0"'),
        # Both notices wake the daemon, before and after notifyd restarts ("switches" is what
        # top counts in each window, in turn), or the check fails and says which did not.
        ("job=running notifyd=100 switches=3|2|4|5", notices, 0,
         woken % (3, 2, 4, 5) + "check-on-mac: both notices reach the daemon, before and after notifyd restarted"),
        ("job=running notifyd=100 switches=3|2|4|0", notices, 1,
         woken % (3, 2, 4, 0) + "--- the log\n--- launchctl\n\tpath = /Library/LaunchDaemons/com.quorvani.halvorsten"
         ".plist\n\tprogram = /usr/local/libexec/halvorsten\n\tpid = 4242\n\tlast exit code = (never exited)\n"
         "check-on-mac: the daemon did not wake for com.apple.system.powersources.source (after notifyd restarted)"),
    ]
    for files, command, expected_status, expected in status_rows:
        with tempfile.TemporaryDirectory() as mac, tempfile.TemporaryDirectory() as tools:
            a_mac(mac)
            pathlib.Path(mac, "Library/Logs/Quorvani-Halvorsten.log").unlink()
            done_first = []
            words = []
            for word in files.split():
                name, _, value = word.partition("=")
                if name == "log":
                    log = pathlib.Path(mac, "Library/Logs/Quorvani-Halvorsten.log")
                    if value == "fifo":
                        os.mkfifo(log)
                    elif value == "link":
                        log.symlink_to("/private/secret")
                    else:
                        log.write_bytes(logs[value].encode("utf-8", "surrogateescape").replace(b"\xc2\x9b", b"\x9b"))
                elif name.startswith("+"):
                    pathlib.Path(mac, name[1:]).mkdir(parents=True, exist_ok=True)
                elif name.startswith("-"):
                    pathlib.Path(mac, name[1:]).unlink()
                elif name.startswith("~"):
                    done_first.append(f"/bin/chown {name[1:]} /{value}")
                elif name.startswith("@"):
                    pathlib.Path(mac, name[1:]).parent.mkdir(parents=True, exist_ok=True)
                    pathlib.Path(mac, name[1:]).symlink_to(value)
                elif name == "btm":
                    ours_, others = value.split(",")  # ours between two others, as sfltool lists them
                    words.append("btm=" + "|".join(
                        f"_#{n}:|__Disposition:_[{state},_allowed,_visible]|__Identifier:_16.{job_}"
                        for n, (job_, state) in enumerate(((f"{label}.x", others), (label, ours_),
                                                            ("com.example.other", others)))))
                else:
                    words.append(word)
            stand_ins(tools, " ".join(words))
            if "program=" in files:  # a keg that brew services gave root, reached through its opt link
                shutil.copy(pathlib.Path(mac, "usr/local/libexec/halvorsten"),
                            pathlib.Path(mac, "opt/homebrew/Cellar/halvorsten/0.1.0/libexec"))
            try:
                ran, out, trapped = on_a_mac(mac, tools, done_first + [command], timeout=5)
            except subprocess.TimeoutExpired:
                ran, out, trapped = ["timed out"], "", False
            if ran[-1:] != [expected_status] or out.rstrip("\n") != expected or trapped or "SECRET" in out:
                failures.append(f"{command} with {files}: {ran}, trapped {trapped}\n{out}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
