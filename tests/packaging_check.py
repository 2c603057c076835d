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
    if not shutil.which(tool):
        (failures.append if os.environ.get("CI") else print)(f"missing: {tool} (Debian package {package})")
    return bool(shutil.which(tool))


# The launchd job: a dictionary whose keys have the types launchd requires, started by label.
label = "com.quorvani.halvorsten"
job = plistlib.loads((build / "com.quorvani.halvorsten.plist").read_bytes())
program = job.get("ProgramArguments")
if job.get("Label") != label or not program or not program[0].startswith("/") or \
        any(not isinstance(job.get(k, True), bool) for k in ("RunAtLoad", "KeepAlive")) or \
        any(not isinstance(a, str) for a in program) or job.get("ProcessType") != "Standard":
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
    failures += [f"found too few logged messages: {sorted(messages)}"] if len(messages) < 14 else []

# One version: the project's, in the man page, the status script, the changelog's newest release
# and the cask; the cask is sound Ruby.
cask, changes = project / "Casks/halvorsten.rb", (project / "CHANGELOG.md").read_text()
status = project / "scripts/halvorsten-status"
for where, found in (("man page", re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1]),
                     ("halvorsten-status", re.findall(r"^version=(\S+)$", status.read_text(), re.M)),
                     ("CHANGELOG.md", re.findall(r"^## \[(\d.*)\]", changes, re.M)[:1]),
                     ("cask", re.findall(r'^  version "(.*)"$', cask.read_text(), re.M))):
    failures += [f"{where} says version {found}, the project {version}"] if found != [version] else []
failures += ["ruby -c Casks/halvorsten.rb"] if have("ruby", "ruby") and subprocess.run(["ruby", "-c", cask]).returncode else []
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
failures += [] if re.search(r'overwrite-permissions="false".*pkgutil --flatten.*productbuild', build_pkg, re.S) else \
    ["build-pkg does not ship a PackageInfo with overwrite-permissions=\"false\""]
# The Mac job runs the README's own Homebrew lines, as written.
brew_row = re.search(r"^\| Homebrew[^|]*\| `(.*)` \| `(.*)` \|$", (project / "README.md").read_text(), re.M)
workflow = (project / ".github/workflows/macos.yml").read_text()
failures += [f"the macOS workflow does not run the README's line {line!r}" for line in
             (brew_row.groups() if brew_row else ["(no Homebrew row)"]) if line not in map(str.strip, workflow.splitlines())]

# The profile for managed Macs allows the job as a background item, by its exact label alone.
profile = plistlib.loads((project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes())
if [(profile["PayloadType"], p["PayloadType"], [(r["RuleType"], r["RuleValue"]) for r in p["Rules"]])
        for p in profile["PayloadContent"]] != [("Configuration", "com.apple.servicemanagement", [("Label", label)])]:
    failures.append(f"profile: {profile}")

# Both kinds of Mac run the product through scripts/check-on-mac; every script is sound sh.
failures += [] if re.search(r"^\s+run: sudo scripts/check-on-mac\s*$", workflow, re.M) else \
    ["the macOS workflow does not run scripts/check-on-mac"]
scripts = [*(project / "scripts").iterdir(), *(project / "packaging/macos/scripts").iterdir()]
failures += [f"sh -n {script}" for script in scripts if subprocess.run(["sh", "-n", script]).returncode]

# The scripts on a Mac made of a folder, its "/" in a private mount namespace, with this machine's
# /usr, /etc and /dev but for /usr/local, and the stand-ins (tests/mac-tools) laid over /usr/bin,
# where the scripts find them with their fixed PATH, and keep what they are told beside them.
LAY_OUT = """
set -e; mac=$1 tools=$2 work=$3 project=$4 trapped=$5 stage=$6; shift 6
mkdir -p "$mac/usr/local" "$mac/etc" "$mac/dev" "$mac/tmp" "$mac/pkg" "$mac/trap" "$mac/Library/Logs" \\
  "$mac/private" "$mac/Volumes/Other/Library/Logs" "$work/local" "$work/over"
printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\nSECRET\\n' >"$mac/private/secret"
for place in / /stage /Volumes/Other; do mkdir -p "$mac$place"; cp -R "$stage/." "$mac$place"; done
cp "$project"/packaging/macos/scripts/p*install "$project/scripts/launchd-job" "$mac/pkg"
cp "$project"/tests/mac-tools/* "$tools"
for tool in $trapped; do printf '#!/bin/sh\\n: >>/trapped\\n' >"$mac/trap/$tool"; done
chmod 755 "$mac" "$mac"/trap/*; chmod 1777 "$mac/tmp"
echo kept >"$mac/Volumes/Other/Library/Logs/Quorvani-Halvorsten.log"
mount --bind "$mac/usr/local" "$work/local"
mount --rbind /usr "$mac/usr"
mount --bind "$work/local" "$mac/usr/local"
mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$tools,workdir=$work/over" "$mac/usr/bin"
for d in etc dev; do mount --rbind "/$d" "$mac/$d"; done
for d in bin sbin lib lib32 lib64 libx32; do
  if [ -L "/$d" ]; then ln -sfn "$(readlink "/$d")" "$mac/$d"
  elif [ -d "/$d" ]; then mkdir -p "$mac/$d"; mount --rbind "/$d" "$mac/$d"; fi
done
exec chroot "$mac" "$@"
"""
TRAPPED = ("launchctl pkgutil sfltool pmset top notifyutil pgrep killall awk sed grep tail head cut ls rm mkdir "
           "mv chmod chown cat dirname readlink sleep id uname perl mktemp wc sort comm tr env").split()


def on_a_mac(stage, files, steps):
    """Runs STEPS, shell commands, as root on a Mac with the payload in place (and at /stage and on
    /Volumes/Other), the package's scripts in /pkg, a secret in /private, the stand-ins' files
    FILES ("NAME=VALUE", "_" a blank, "|" a line's end), and a trap of each tool a script might use
    first on PATH: each step's exit status, all they wrote (None after 5 s), whether a trap sprung."""
    with tempfile.TemporaryDirectory() as mac, tempfile.TemporaryDirectory() as tools, \
            tempfile.TemporaryDirectory() as work:
        for name, _, value in (word.partition("=") for word in files.split()):
            pathlib.Path(tools, name).write_text(value.replace("_", " ").replace("|", "\n") + "\n")
        driver = "".join(f"( {step} ) </dev/null; echo $? >>/statuses\n" for step in steps)
        with subprocess.Popen(["unshare", "-m" if os.geteuid() == 0 else "-rm", "sh", "-c", LAY_OUT, "sh", mac,
                               tools, work, project, " ".join(TRAPPED), stage, "/usr/bin/env", "-i", "/bin/sh", "-c", f"export PATH=/trap:/usr/bin:/bin; {driver}"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                              start_new_session=True) as run:
            try:
                out = run.communicate(timeout=5)[0]
            except subprocess.TimeoutExpired:
                os.killpg(run.pid, signal.SIGKILL)  # with whatever it left waiting
                out = run.communicate()[0] and None
        ran = pathlib.Path(mac, "statuses").read_text().split() if pathlib.Path(mac, "statuses").exists() else []
        return [int(n) for n in ran], out, pathlib.Path(mac, "trapped").exists()


# What is installed, staged as the package stages it: the paths and modes of the payload list.
with tempfile.TemporaryDirectory() as stage:
    subprocess.run(["cmake", "--install", build], env=dict(os.environ, DESTDIR=stage),
                   check=True, capture_output=True)
    staged = sorted(f"./{p.relative_to(stage)}\t{p.stat().st_mode:o}"
                    for p in pathlib.Path(stage).rglob("*") if p.is_file())
    listed = sorted(line.rsplit("\t", 2)[0] for line in (project / "packaging/macos/payload.txt").open())
    failures += [f"staged payload {staged}, listed {listed}"] if staged != listed else []

    # One row a case: the stand-ins' files ("job" the job in launchd, "lingers" how long it stays
    # after a bootout, "refuse" bootstrap refused, "btm" what sfltool dumps, "idle" top's 30 s,
    # "switches" top's count for each notice in turn), the steps, their exit statuses, and all
    # they wrote, exactly (or its start, up to "…"): "calls" is launchctl's verbs in order.
    own = "/usr/local/share/halvorsten"
    pre, post, job, status = "sh /pkg/preinstall p / /", "sh /pkg/postinstall p / /", "sh /pkg/launchd-job", f"sh {own}/halvorsten-status"
    lay, receipt, calls = "/bin/cp -R /stage/. /", "test -f /usr/bin/receipt", "/usr/bin/cut -d ' ' -f 1 /usr/bin/launchctl.calls | /usr/bin/tr '\\n' ' '"
    log = "/Library/Logs/Quorvani-Halvorsten.log"  # as the daemon writes it, hostile, a FIFO or a link to a secret
    ours = f"printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n[2026-12-05T16:00:00Z] Halvorsten started; watching power source (event-driven, no polling).\\n' >{log}; "
    hostile = f"printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n[2026-12-06T09:00:00Z] \\033]0;owned\\007\\033[2Jdisablesleep cleared.\\n[2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\\n[2026-12-07T11:00:00Z] \\342\\200\\256delbasid peelS\\342\\200\\254\\n\\23331m not \\377UTF-8\\n' >{log}; "
    fifo, link = f"/usr/bin/mkfifo {log}; ", f"/bin/ln -s /private/secret {log}; "
    btm = lambda our, other: "btm=" + "|".join(f"_#{n}:|__Disposition:_[{state},_allowed,_visible]|__Identifier:_16.{j}" for n, (j, state) in enumerate(((f"{label}.x", other), (label, our), ("com.example.other", other))))  # our job's disposition between two others
    mine = f"receipt job=running {btm('enabled', 'disabled')} source=Battery_Power setting=0"
    protecting = f"Halvorsten {version} (package)\njob: system/{label}, running as pid 4242, last exit (never exited)\nLogin Items: allowed\npower: Battery Power; sleep prevention: off\n"
    not_running = f"power: AC Power; sleep prevention: never set (off)\nverdict: not running: start it with sudo launchctl bootstrap system /Library/LaunchDaemons/{label}.plist"
    read_log = "the log's last lines (/Library/Logs/Quorvani-Halvorsten.log):\n"
    woke, brief = "halvorsten-status: the daemon woke while nothing happened", f"{{}} (Halvorsten {version}, last clear {{}})"
    notices = "".join(f"com.apple.system.{notice}, {when} notifyd restarted: the daemon was switched in %s times\n" + ("notifyd restarted: pid 100 ended, pid 101 now\n" if notice == "powersources.source" and when == "before" else "")
                      for when in ("before", "after") for notice in ("powermanagement.prefschange", "powersources.source"))
    rows = [
        # The package's scripts, the launchd steps they share with a clone's install, and uninstall.
        ("receipt job=running lingers=3", [pre, lay, post, receipt, calls], [0, 0, 0, 0, 0], "print bootout print print print print enable bootstrap "),
        ("refuse", [f"{job} stop", f"{job} start"], [0, 1], "launchd-job: launchd did not start Halvorsten: Bootstrap failed: 5: Input/output error\n  These files are in place: /usr/local/libexec/halvorsten /Library/LaunchDaemons/com.quorvani.halvorsten.plist…"),
        ("job=running lingers=1000000", [f"{job} stop", calls], [1, 0], f"launchd-job: launchd still holds system/{label} 10 s after it was told to stop it.\n  See 'launchctl print system/{label}'; once it is gone, run this again.\nprint bootout{' print' * 50} "),
        ("receipt job=running", [pre.replace("/ /", "/ /Volumes/Other"), post.replace("/ /", "/ /Volumes/Other"), f"sh {own}/uninstall /Volumes/Other", receipt, "/usr/bin/find /Volumes/Other -type f"], [0, 0, 0, 1, 0], "Halvorsten is removed. Its log stays: /Volumes/Other/Library/Logs/Quorvani-Halvorsten.log\n/Volumes/Other/Library/Logs/Quorvani-Halvorsten.log"),
        # A folder of the daemon's own that a user made first is made afresh, root's; a folder above what root
        # runs that someone else may write to stops the install before anything is laid, or before the job
        # starts, which then is gone.
        ("", [f"/bin/mkdir -p {own}; echo 0 >{own}/planted; /bin/chown -R nobody {own}; {pre}", lay, post, f"/usr/bin/stat -c '%U %a' {own}; /bin/ls {own}"], [0, 0, 0, 0], "root 755\ncheck-on-mac\nhalvorsten-status\nlaunchd-job\nuninstall"),
        ("", [f"/bin/chown nobody /usr/local/libexec; {pre}"], [1], "launchd-job: will not install Halvorsten: /usr/local/libexec is writable by nobody\n  Make that folder root's alone first, or install elsewhere than on this Mac."),
        ("", [pre, lay, f"/bin/chmod o+w /Library/LaunchDaemons; {post}", f"test -e /Library/LaunchDaemons/{label}.plist"], [0, 0, 1, 1], "launchd-job: will not start Halvorsten: /Library/LaunchDaemons is writable by everyone\n  Its job is removed. Make that folder root's alone, then install again."),
        # The status script, one row a verdict.
        (mine, [ours + status], [0], protecting + read_log + "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-05T16:00:00Z] Halvorsten started; watching power source (event-driven, no polling).\nverdict: protecting"),
        (btm("enabled", "disabled") + " source=AC_Power", [status], [1], f"Halvorsten {version} (clone)\njob: system/{label}, not in launchd\nLogin Items: allowed\n" + not_running),
        (f"receipt job=stopped {btm('disabled', 'enabled')} source=AC_Power setting=1", [status], [1], f"Halvorsten {version} (package)\njob: system/{label}, last exit 78: EX_CONFIG\nLogin Items: switched off\npower: AC Power; sleep prevention: on\nverdict: switched off under Login Items: switch Halvorsten on under System Settings > General > Login Items > Allow in the Background, then: sudo launchctl kickstart system/{label}"),
        ("source=AC_Power", [f"/bin/rm /Library/LaunchDaemons/{label}.plist; {status} --brief"], [1], "<result>" + brief.format("not installed", "never") + "</result>"),
        ("receipt job=running source=AC_Power", [f"{ours}/bin/mkdir -p /opt/homebrew/Caskroom/halvorsten; {status} --brief"], [0], "<result>" + brief.format("protecting", "2026-12-05T15:31:02Z") + "</result>"),
        ("receipt uid=501 source=AC_Power", [f"/bin/mkdir -p /usr/local/Caskroom/halvorsten; {status}"], [1], f"Halvorsten {version} (Homebrew cask)\njob: system/{label}, not in launchd\nLogin Items: cannot tell (run with sudo to see)\n" + not_running),
        # What launchd runs, or a folder above it, could be swapped by someone other than root: a folder of
        # its own, or one above a link (as Homebrew's opt link to a keg that brew services gave root).
        (mine, [f"/bin/chown nobody /usr/local/libexec; {status}"], [1], protecting + "verdict: at risk: /usr/local/libexec is writable by nobody"),
        ("receipt job=running program=/opt/homebrew/opt/halvorsten/libexec/halvorsten source=AC_Power", [f"/bin/mkdir -p /opt/homebrew/Cellar/h/1/libexec /opt/homebrew/opt; /bin/cp /usr/local/libexec/halvorsten /opt/homebrew/Cellar/h/1/libexec; /bin/ln -s ../Cellar/h/1 /opt/homebrew/opt/halvorsten; /bin/chown nobody /opt/homebrew/opt; {status} --brief"], [1], "<result>" + brief.format("at risk", "never") + "</result>"),
        # The log as hostile input: never waited on, never followed, never printed raw or trusted.
        ("receipt job=running source=AC_Power", [f"{fifo}{status} --brief"], [0], "<result>" + brief.format("protecting", "never") + "</result>"),
        (mine, [link + status], [0], protecting + "the log (/Library/Logs/Quorvani-Halvorsten.log) is not a regular file; not read\nverdict: protecting"),
        (mine, [hostile + status], [0], protecting + read_log + "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-06T09:00:00Z] ]0;owned[2Jdisablesleep cleared.\n  [2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\n  [2026-12-07T11:00:00Z] delbasid peelS\n  31m not UTF-8\nverdict: protecting"),
        ("receipt job=running source=AC_Power", [f"{hostile}{status} --brief"], [0], "<result>" + brief.format("protecting", "2026-12-05T15:31:02Z") + "</result>"),
        # What it costs: 30 s of top ("idle" is the second sample's IDLEW %CPU POWER), one row a figure.
        ("receipt job=running idle=0_0.0_0.0", [f"{status} --cost"], [0], "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.0 %, energy impact 0.0"),
        ("receipt job=running idle=3_0.0_0.1", [f"{status} --cost"], [1], f"idle for 30 s: 3 wake-ups (0.10 a second), CPU 0.0 %, energy impact 0.1\n{woke}"),
        ("receipt job=running idle=0_0.2_0.2", [f"{status} --cost"], [1], f"idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.2 %, energy impact 0.2\n{woke}"),
        ("receipt job=running idle=3+_0.0_0.0", [f"{status} --cost"], [2], 'halvorsten-status: top\'s report is not as expected: 2 samples, "PID   IDLEW %CPU POWER", "4242  3+ 0.0 0.0"'),  # never read as 0
        # Both notices wake the daemon, before and after notifyd restarts, or the check says which did not.
        ("job=running notifyd=100 switches=3|2|4|5", [f"sh {own}/check-on-mac --notices"], [0], notices % (3, 2, 4, 5) + "check-on-mac: both notices reach the daemon, before and after notifyd restarted"),
        ("job=running notifyd=100 switches=3|2|4|0", [f"sh {own}/check-on-mac --notices"], [1], notices % (3, 2, 4, 0) + "check-on-mac: the daemon did not wake for com.apple.system.powersources.source (after notifyd restarted)\n--- the log\n--- launchctl…"),
    ]
    for files, steps, statuses, expected in rows:
        ran, out, trapped = on_a_mac(stage, files, steps)
        said = (out or "").rstrip("\n")
        if ran != statuses or trapped or out is None or "SECRET" in out or \
                said != expected and not (expected.endswith("…") and said.startswith(expected[:-1])):
            failures.append(f"{steps} with {files}: {ran}, trapped {trapped}\n{out}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
