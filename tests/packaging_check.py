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

# The docs: every relative link leads to a file, and every anchor to a heading, as GitHub makes them;
# the README stays short, in short sentences and paragraphs, its code and tables aside.
def anchors(text):
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in re.findall(r"^#+ (.*)$", text, re.M)}


for doc in [project / "README.md", project / "SECURITY.md", project / "CHANGELOG.md", *project.glob("*/*.md")]:
    text = doc.read_text()
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        path, _, anchor = target.partition("#")
        if re.match(r"[a-z]+:", path):
            continue
        linked = (doc.parent / path).resolve() if path else doc
        failures += [f"{doc.relative_to(project)}: no {target}"] if not linked.exists() or \
            anchor and anchor not in anchors(linked.read_text()) else []
prose = [p for p in re.split(r"\n\s*\n", (project / "README.md").read_text())
         if not p.startswith(("    ", "|", "#", "```", "![")) and not re.match(r"\s+\S", p)]
sentences = [len(s.split()) for s in re.split(r"(?<=[.!?])\s+", " ".join(prose)) if s.strip()]
if sum(sentences) > 1300 or sum(sentences) / len(sentences) > 22 or max(len(p.split()) for p in prose) > 110:
    failures.append(f"README: {sum(sentences)} words, {sum(sentences) / len(sentences):.1f} a sentence, "
                    f"a paragraph of {max(len(p.split()) for p in prose)}")

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
failures += [] if re.search(r"^\s+run: sudo scripts/check-on-mac --restart-notifyd --summary \S+\s*$", workflow, re.M) else \
    ["the macOS workflow does not run scripts/check-on-mac"]
scripts = [*(project / "scripts").iterdir(), *(project / "packaging/macos/scripts").iterdir()]
failures += [f"sh -n {script}" for script in scripts if subprocess.run(["sh", "-n", script]).returncode]

# The scripts on a Mac made of a folder, its "/" in a private mount namespace, with this machine's
# /usr, /etc and /dev but for /usr/local, and the stand-ins (tests/mac-tools) laid over /usr/bin,
# where the scripts find them with their fixed PATH, and keep what they are told beside them
# (the real chmod and mv beside those that stand in for macOS's). A clone's scripts are in /clone.
LAY_OUT = """
set -e; mac=$1 tools=$2 work=$3 project=$4 trapped=$5 stage=$6; shift 6
mkdir -p "$mac/usr/local" "$mac/etc" "$mac/dev" "$mac/tmp" "$mac/pkg" "$mac/trap" "$mac/Library/Logs" \\
  "$mac/private" "$mac/Volumes/Other/Library/Logs" "$work/local" "$work/over"
printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\nSECRET\\n' >"$mac/private/secret"
for place in / /stage /Volumes/Other; do mkdir -p "$mac$place"; cp -R "$stage/." "$mac$place"; done
cp "$project"/packaging/macos/scripts/p*install "$project/scripts/launchd-job" "$mac/pkg"
mkdir -p "$mac/clone/packaging/macos"; cp -R "$project/scripts" "$mac/clone"; cp "$project/packaging/macos/payload.txt" "$mac/clone/packaging/macos"
cp "$project"/tests/mac-tools/* "$tools"; cp /usr/bin/chmod "$tools/chmod.real"; cp /usr/bin/mv "$tools/mv.real"
for tool in $trapped; do printf '#!/bin/sh\\n: >>/trapped\\n' >"$mac/trap/$tool"; done
chmod 755 "$mac" "$tools" "$mac"/trap/*; chmod 1777 "$mac/tmp"
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
           "mv chmod chown cat dirname readlink sleep id uname perl mktemp wc sort comm tr env log ps date sudo cmake").split()


# A row's time limit guards against a hang only: the slowest row takes about 1.5 s on an idle
# 2-core machine, and a few times that on one busy CPU.
HANG_S = 120


def on_a_mac(stage, files, steps):
    """Runs STEPS, shell commands, as root on a Mac with the payload in place (and at /stage and on
    /Volumes/Other), the package's scripts in /pkg, a secret in /private, the stand-ins' files
    FILES ("NAME=VALUE", "_" a blank, "|" a line's end), and a trap of each tool a script might use
    first on PATH: each step's exit status, all they wrote (each "N ms" as "N ms"), whether a trap
    sprung, and the step still running after HANG_S (None when none was)."""
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
                out, hung = run.communicate(timeout=HANG_S)[0], False
            except subprocess.TimeoutExpired:
                os.killpg(run.pid, signal.SIGKILL)  # with whatever it left waiting
                out, hung = run.communicate()[0], True
        out = re.sub(r"\b\d+ ms\b", "N ms", out)
        ran = pathlib.Path(mac, "statuses").read_text().split() if pathlib.Path(mac, "statuses").exists() else []
        return [int(n) for n in ran], out, pathlib.Path(mac, "trapped").exists(), \
            steps[len(ran)] if hung else None


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
    # "acl" access-list entries as ls -e lists them, "answers" the notices the daemon logs its line
    # for, "unasked" a daemon that logs a notice nobody posted), the steps, their exit statuses, and
    # all they wrote, exactly (or its start, up to "…"): "calls" is launchctl's verbs in order.
    own = "/Library/Application Support/Quorvani/Halvorsten"
    pre, post, job, status = "sh /pkg/preinstall p / /", "sh /pkg/postinstall p / /", "sh /pkg/launchd-job", f"sh '{own}/halvorsten-status'"
    lay, receipt, calls = "/bin/cp -R /stage/. /", "test -f /usr/bin/receipt", "/usr/bin/cut -d ' ' -f 1 /usr/bin/launchctl.calls | /usr/bin/tr '\\n' ' '"
    log = "/Library/Logs/Quorvani-Halvorsten.log"  # as the daemon writes it, hostile, a FIFO or a link to a secret
    ours = f"printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n[2026-12-05T16:00:00Z] Halvorsten started; watching power source (event-driven, no polling).\\n' >{log}; "
    hostile = f"printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n[2026-12-06T09:00:00Z] \\033]0;owned\\007\\033[2Jdisablesleep cleared.\\n[2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\\n[2026-12-07T11:00:00Z] \\342\\200\\256delbasid\\315\\270 peelS\\342\\200\\254\\n\\23331m not UTF-8\\nsurrogate \\355\\240\\233 here\\n' >{log}; "
    fifo, link, hard = f"/usr/bin/mkfifo {log}; ", f"/bin/ln -s /private/secret {log}; ", f"/bin/ln /private/secret {log}; "
    btm = lambda our, other: "btm=" + "|".join(f"_#{n}:|__Disposition:_[{state},_allowed,_visible]|__Identifier:_16.{j}" for n, (j, state) in enumerate(((f"{label}.x", other), (label, our), ("com.example.other", other))))  # our job's disposition between two others
    mine = f"receipt job=running {btm('enabled', 'disabled')} source=Battery_Power setting=0"
    manual = f"manual: mandoc -a \"{own}/man/man8/halvorsten.8\"\n"  # no link where man looks: not laid here
    protecting = f"Halvorsten {version} (package)\njob: system/{label}, running as pid 4242, last exit (never exited)\nLogin Items: allowed\n{manual}power: Battery Power; sleep prevention: off\n"
    not_running = f"power: AC Power; sleep prevention: never set (off)\nverdict: not running: start it with sudo launchctl bootstrap system /Library/LaunchDaemons/{label}.plist"
    read_log, unread = "the log's last lines (/Library/Logs/Quorvani-Halvorsten.log):\n", f"the log ({log}) is not a regular file of its own; not read\nverdict: protecting"
    woke, brief = "halvorsten-status: the daemon woke while nothing happened", f"{{}} (Halvorsten {version}, last clear {{}})"
    left = "launchd-job: left {0}, of an earlier install: {1} is writable by nobody\n  Who may write there can remove it: rm -rf '{0}'\n"
    manlink = "/usr/local/share/man/man8/halvorsten.8"
    refused = "launchd-job: will not install Halvorsten: {} is writable by {}\n  Make that folder root's alone first, or install elsewhere than on this Mac."
    # A swap of two names within one folder, as nobody: what a user who may write the folder can do.
    swap = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups"
    exchange = f"{swap} /usr/bin/python3 -c 'import ctypes, os, sys; c = ctypes.CDLL(None, use_errno=True); print(\"swapped\" if c.renameat2(-100, sys.argv[1].encode(), -100, sys.argv[2].encode(), 2) == 0 else os.strerror(ctypes.get_errno()))'"
    vendor, check = "/Library/Application Support/Quorvani", f"sh '{own}/check-on-mac'"
    table = "\n\n| step | outcome | measured |\n| --- | --- | --- |\n"
    notice = lambda round, *posted: "".join(f"com.apple.system.{n} ({round}): \"Woken: {w} notice.\" N ms after the post\n" for n, w in posted)
    noticed = lambda round, *posted: "".join(f"| com.apple.system.{n}, {round} | delivered | N ms to the daemon's line |\n" for n, _ in posted)
    both = (("powermanagement.prefschange", "settings"), ("powersources.source", "power-source"))
    rows = [
        # The package's scripts, the launchd steps they share with a clone's install, and uninstall; deny
        # entries and root's own pass, and what the laid files took from their folders' lists is cleared.
        # Where the way to man's folder is root's alone, start links the man page there, and uninstall removes it.
        (f"receipt job=running lingers=3 acl=/Library=group:everyone_deny_delete|{vendor.replace(' ', '_')}=user:root_allow_write|/Library/LaunchDaemons/{label}.plist=user:nobody_inherited_allow_write", [pre, lay, post, receipt, calls, f"{job} manual; sh '{own}/uninstall' >/dev/null; test ! -L {manlink}"], [0, 0, 0, 0, 0, 0], "print bootout print print print print enable bootstrap man halvorsten"),
        ("refuse", [f"{job} stop", f"{job} start"], [0, 1], f"launchd-job: launchd did not start Halvorsten: Bootstrap failed: 5: Input/output error\n  These files are in place:\n    {own}/halvorsten\n…"),
        ("job=running lingers=1000000", [f"{job} stop", calls], [1, 0], f"launchd-job: launchd still holds system/{label} 10 s after it was told to stop it.\n  See 'launchctl print system/{label}'; once it is gone, run this again.\nprint bootout{' print' * 50} "),
        ("receipt job=running", [pre.replace("/ /", "/ /Volumes/Other"), post.replace("/ /", "/ /Volumes/Other"), f"sh '{own}/uninstall' /Volumes/Other", receipt, "/usr/bin/find /Volumes/Other -type f"], [0, 0, 0, 1, 0], "Halvorsten is removed. Its log stays: /Volumes/Other/Library/Logs/Quorvani-Halvorsten.log\n/Volumes/Other/Library/Logs/Quorvani-Halvorsten.log"),
        # A folder of the daemon's own that a user made first is made afresh, root's; a folder above what root
        # runs that someone else may write to, as its owner, through a mode bit or an access-list entry, stops
        # the install before anything is laid, or before the job starts, which then is gone.
        ("", [f"/bin/mkdir -p '{own}'; echo 0 >'{own}/planted'; /bin/chown -R nobody '{own}'; {pre}", lay, post, f"/usr/bin/stat -c '%U %a' '{own}'; cd '{own}' && echo *"], [0, 0, 0, 0], "root 755\ncheck-on-mac halvorsten halvorsten-status launchd-job man uninstall"),
        ("", [f"/bin/chown nobody '{vendor}'; {pre}"], [1], refused.format(vendor, "nobody")),
        ("acl=/Library/Application_Support=user:nobody_allow_list,search,delete", [pre], [1], refused.format("/Library/Application Support", "user:nobody (an access-list entry)")),
        ("", [pre, lay, f"/bin/chmod o+w /Library/LaunchDaemons; {post}", f"test -e /Library/LaunchDaemons/{label}.plist"], [0, 0, 1, 1], "launchd-job: will not start Halvorsten: /Library/LaunchDaemons is writable by everyone\n  Its job is removed. Make that folder root's alone, then install again."),
        # What earlier installs left goes at an upgrade where the way is root's alone (the log's rotation rule);
        # under a /usr/local that a user owns (0.1.0's layout), root removes nothing and says how to.
        ("", [f"/bin/mkdir -p /usr/local/libexec /usr/local/share/halvorsten /private/etc/newsyslog.d; echo old >/usr/local/libexec/halvorsten; echo old >/usr/local/share/halvorsten/uninstall; : >/private/etc/newsyslog.d/halvorsten.conf; /bin/chown nobody /usr/local; {pre}", lay, post, "test ! -e /private/etc/newsyslog.d/halvorsten.conf && /bin/cat /usr/local/libexec/halvorsten /usr/local/share/halvorsten/uninstall"], [0, 0, 0, 0], left.format("/usr/local/libexec/halvorsten", "/usr/local") + left.format("/usr/local/share/halvorsten", "/usr/local") + "old\nold"),
        # Nobody can swap what root runs, or a folder on the way to it, for their own; in a folder of theirs
        # (0.1.0's layout under Homebrew's /usr/local/share), a root-owned folder is swapped at once.
        ("", [f"{swap} /bin/mkdir /tmp/mine; for p in '{own}' '{own}/halvorsten' '{vendor}' /Library/LaunchDaemons/{label}.plist '{own}/man/man8'; do {exchange} \"$p\" /tmp/mine; done",
              f"/bin/mkdir -p /usr/local/share/old; /bin/chown nobody /usr/local/share; {swap} /bin/mkdir /usr/local/share/mine; {exchange} /usr/local/share/old /usr/local/share/mine"], [0, 0], "Permission denied\n" * 5 + "swapped"),
        # The clone's install and the uninstall, while Homebrew's user, who owns man's folders, swaps man8 for a
        # link to /private/etc/paths.d (whose lines path_helper puts on every login shell's PATH): nothing of
        # root's appears there, and nothing there is removed.
        ("", [f"/bin/mkdir -p /usr/local/share/man/man8 /private/etc/paths.d; echo kept >/private/etc/paths.d/halvorsten.8; /bin/chown -R nobody /usr/local/share/man; echo '[ -L /usr/local/share/man/man8 ] || {swap} /bin/sh -c \"/bin/mv /usr/local/share/man/man8 /usr/local/share/man/old && /bin/ln -s /private/etc/paths.d /usr/local/share/man/man8\"' >/usr/bin/hook; PATH=/usr/bin:/bin sh /clone/scripts/install-macos", f"sh '{own}/uninstall'", "cd /private/etc/paths.d && echo * && /bin/cat halvorsten.8"], [0, 0, 0],
         left.format(manlink, "/usr/local/share/man") + f"Halvorsten is installed and running. Its log: {log}\nIts {manual}To remove it: sudo \"{own}/uninstall\"\n" + left.format(manlink, "/usr/local/share/man") + f"Halvorsten is removed. Its log stays: {log}\nhalvorsten.8\nkept"),
        # Installed, check-on-mac runs nothing found beside it, a clone planted there included.
        ("", [f"/bin/mkdir -p '{vendor}/packaging/macos' '{vendor}/scripts'; : >'{vendor}/packaging/macos/payload.txt'; echo 'project(planted)' >'{vendor}/CMakeLists.txt'; echo ': >/planted-ran' >'{vendor}/scripts/install-macos'; {check}", "test ! -e /planted-ran"], [1, 0], "check-on-mac: installed, this runs only the guided check (--with-battery) and --notices; the others run from a clone"),
        # The status script, one row a verdict.
        (mine, [ours + status], [0], protecting + read_log + "  [2026-12-05T15:31:02Z] disablesleep cleared.\n  [2026-12-05T16:00:00Z] Halvorsten started; watching power source (event-driven, no polling).\nverdict: protecting"),
        (btm("enabled", "disabled") + " source=AC_Power", [status], [1], f"Halvorsten {version} (clone)\njob: system/{label}, not in launchd\nLogin Items: allowed\n" + manual + not_running),
        (f"receipt job=stopped {btm('disabled', 'enabled')} source=AC_Power setting=1", [status], [1], f"Halvorsten {version} (package)\njob: system/{label}, last exit 78: EX_CONFIG\nLogin Items: switched off\n{manual}power: AC Power; sleep prevention: on\nverdict: switched off under Login Items: switch Halvorsten on under System Settings > General > Login Items > Allow in the Background, then: sudo launchctl kickstart system/{label}"),
        ("source=AC_Power", [f"/bin/rm /Library/LaunchDaemons/{label}.plist; {status} --brief"], [1], "<result>" + brief.format("not installed", "never") + "</result>"),
        ("receipt job=running source=AC_Power", [f"{ours}/bin/mkdir -p /opt/homebrew/Caskroom/halvorsten; {status} --brief"], [0], "<result>" + brief.format("protecting", "2026-12-05T15:31:02Z") + "</result>"),
        ("receipt uid=501 source=AC_Power", [f"/bin/mkdir -p /usr/local/Caskroom/halvorsten; {status}"], [1], f"Halvorsten {version} (Homebrew cask)\njob: system/{label}, not in launchd\nLogin Items: cannot tell (run with sudo to see)\n" + manual + not_running),
        # What launchd runs, or a folder above it, could be swapped by someone other than root: a folder on the
        # way that a user owns, or one an access-list entry opens, or one above a link (Homebrew's opt link).
        (mine, [f"/bin/chown nobody '{vendor}'; {status}"], [1], protecting + f"verdict: at risk: {vendor} is writable by nobody"),
        (f"receipt job=running source=AC_Power acl={vendor.replace(' ', '_')}=group:ops_allow_allow_list,writeattr", [f"{status} --brief"], [1], "<result>" + brief.format("at risk", "never") + "</result>"),
        ("receipt job=running program=/opt/homebrew/opt/halvorsten/libexec/halvorsten source=AC_Power", [f"/bin/mkdir -p /opt/homebrew/Cellar/h/1/libexec /opt/homebrew/opt; /bin/cp '{own}/halvorsten' /opt/homebrew/Cellar/h/1/libexec; /bin/ln -s ../Cellar/h/1 /opt/homebrew/opt/halvorsten; /bin/chown nobody /opt/homebrew/opt; {status} --brief"], [1], "<result>" + brief.format("at risk", "never") + "</result>"),
        # The log as hostile input: never waited on, never followed, never a second name of another file, never
        # printed raw (strict UTF-8 only, no control, format or unassigned character) or trusted; and a perl
        # module that the caller's environment asks for is not loaded.
        ("receipt job=running source=AC_Power", [f"{fifo}{status} --brief"], [0], "<result>" + brief.format("protecting", "never") + "</result>"),
        ("receipt job=running source=AC_Power", [f"(while :; do /usr/bin/truncate -s +1G {log}; done) >/dev/null 2>&1 & {status} --brief; kill $!"], [0], "<result>" + brief.format("protecting", "never") + "</result>"),  # kept growing
        (mine, [link + status], [0], protecting + unread),
        (mine, [hard + status], [0], protecting + unread),
        (mine, [hostile + "echo 'END { print \"SECRET\\n\" } 1;' >/private/evil.pm; PERL5LIB=/private PERL5OPT=-Mevil " + status], [0], protecting + read_log + "  [2026-12-06T09:00:00Z] ]0;owned[2Jdisablesleep cleared.\n  [2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\n  [2026-12-07T11:00:00Z] delbasid peelS\n  31m not UTF-8\n  surrogate  here\nverdict: protecting"),
        ("receipt job=running source=AC_Power", [f"{hostile}{status} --brief"], [0], "<result>" + brief.format("protecting", "2026-12-05T15:31:02Z") + "</result>"),
        # What it costs: 30 s of top ("idle" is the second sample's IDLEW %CPU POWER #TH), one row a figure.
        ("receipt job=running idle=0_0.0_0.0_0/-1", [f"{status} --cost"], [0], "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.0 %, energy impact 0.0, threads 3 then +0"),  # a thread stopped running
        ("receipt job=running idle=3_0.0_0.1_-1", [f"{status} --cost"], [1], f"idle for 30 s: 3 wake-ups (0.10 a second), CPU 0.0 %, energy impact 0.1, threads 3 then -1\n{woke}"),
        ("receipt job=running idle=0_0.2_0.2_0/1", [f"{status} --cost"], [1], f"idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.2 %, energy impact 0.2, threads 3 then +0\n{woke}"),
        ("receipt job=running idle=3+_0.0_0.0_0", [f"{status} --cost"], [2], 'halvorsten-status: top\'s report is not as expected: 2 samples, "PID   IDLEW %CPU POWER #TH", "4242  3+ 0.0 0.0 0"'),  # never read as 0
        # The daemon's own line for each notice (stamped up to a second before the post: the log's clock), and none
        # unasked, nor another program's; notifyd restarted only when asked, never by the guided check, and then
        # the pass that its timer calls for, not just any pass.
        ("job=running notifyd=100 answers=prefschange|source skew=-500", [f"{check} --notices", "/bin/cat /usr/bin/notifyd"], [0, 0], "== the daemon's own line for each notice\n" + notice("notifyd as found", *both) + "check-on-mac: both notices reach the daemon" + table + noticed("notifyd as found", *both) + "100"),
        # Its table, as the user who called sudo, or as root only into a regular file of root's: neither follows a
        # link that another user laid.
        ("job=running notifyd=100 answers=prefschange|source", [f"/bin/mkdir /private/nobody; /bin/chown nobody /private/nobody; {swap} /bin/ln -s /private/secret /private/nobody/table.md; PATH=/usr/bin:/bin SUDO_USER=nobody {check} --notices --summary /private/nobody/table.md", f"PATH=/usr/bin:/bin {check} --notices --summary /private/nobody/table.md", "/usr/bin/grep -qx SECRET /private/secret && ! /usr/bin/grep -q step /private/secret"], [0, 0, 0],
         (("== the daemon's own line for each notice\n" + notice("notifyd as found", *both) + "check-on-mac: both notices reach the daemon" + table + noticed("notifyd as found", *both) + "check-on-mac: did not write the table to /private/nobody/table.md\n") * 2).rstrip("\n")),
        ("job=running notifyd=100 answers=prefschange|source|restart", [f"{check} --notices --restart-notifyd"], [0], "== the daemon's own line for each notice\n" + notice("notifyd as found", *both) + "== notifyd restarted\nnotifyd restarted: pid 100 ended, pid 101 now\nthe daemon saw notifyd end N ms after it was stopped, and caught up with a pass at N ms\n== the daemon's own line for each notice, after notifyd restarted\n" + notice("after notifyd restarted", *both) + "check-on-mac: both notices reach the daemon, before and after notifyd restarted" + table + noticed("notifyd as found", *both) + "| notifyd restarted | caught up | its pass N ms after the restart |\n" + noticed("after notifyd restarted", *both).rstrip("\n")),
        ("job=running notifyd=100 answers=prefschange", [f"{link}{check} --notices"], [1], "== the daemon's own line for each notice\n" + notice("notifyd as found", both[0]) + "check-on-mac: no \"Woken: power-source notice.\" from the daemon within 10 s of posting com.apple.system.powersources.source (notifyd as found)\n--- the log…"),
        ("job=running notifyd=100 answers=prefschange|source forged", [f"{check} --notices"], [1], "== the daemon's own line for each notice\ncheck-on-mac: no \"Woken: settings notice.\" from the daemon within 10 s of posting com.apple.system.powermanagement.prefschange (notifyd as found)\n--- the log…"),
        ("job=running notifyd=100 answers=prefschange|source|restart|early", [f"{check} --notices --restart-notifyd"], [1], "== the daemon's own line for each notice\n" + notice("notifyd as found", *both) + "== notifyd restarted\nnotifyd restarted: pid 100 ended, pid 101 now\ncheck-on-mac: no catch-up pass, after its timer, from the daemon within 30 s of seeing notifyd end\n--- the log…"),
        ("job=running notifyd=100 answers=prefschange|source unasked", [f"{check} --notices"], [1], "== the daemon's own line for each notice\ncheck-on-mac: the daemon logged a notice while none was posted (notifyd as found): …"),
        ("job=running notifyd=100", [f"{check} --with-battery --restart-notifyd"], [1], "check-on-mac: --restart-notifyd is for a throwaway Mac, never for the guided check on someone's MacBook"),
    ]
    for files, steps, statuses, expected in rows:
        ran, out, trapped, hung = on_a_mac(stage, files, steps)
        said = out.rstrip("\n")
        if hung:
            failures.append(f"{hung!r} still ran after {HANG_S} s, with {files}; it had written:\n{out}")
        elif ran != statuses or trapped or "SECRET" in out or \
                said != expected and not (expected.endswith("…") and said.startswith(expected[:-1])):
            failures.append(f"{steps} with {files}: {ran}, trapped {trapped}\n{out}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
