#!/usr/bin/env python3
"""What ships beside the executable, and the scripts that put it on a Mac, checked with Python
(and mandoc, Ruby and black where they are):  packaging_check.py BUILD_DIR PROJECT_DIR VERSION"""
import os
import pathlib
import plistlib
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

build, project, version = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
man = project / "man/halvorsten.8"
label = "com.quorvani.halvorsten"
failures = []


def have(tool, package):
    """Whether TOOL is here; without it a check is skipped, but under CI that is a failure."""
    if not shutil.which(tool):
        message = f"missing: {tool} (Debian package {package})"
        (failures.append if os.environ.get("CI") else print)(message)
    return bool(shutil.which(tool))


def text(path):
    return (project / path).read_text()


# The launchd job: a dictionary whose keys have the types launchd requires, started by label.
job = plistlib.loads((build / "com.quorvani.halvorsten.plist").read_bytes())
program = job.get("ProgramArguments")
if (
    job.get("Label") != label
    or not program
    or not program[0].startswith("/")
    or any(not isinstance(job.get(k, True), bool) for k in ("RunAtLoad", "KeepAlive"))
    or any(not isinstance(a, str) for a in program)
    or job.get("ProcessType") != "Standard"
):
    failures.append(f"launchd job: {job}")

# The man page: lint-clean, and listing every message the service writes, debug lines included.
if have("mandoc", "mandoc"):
    lint = subprocess.run(["mandoc", "-Tlint", "-Wwarning", man], capture_output=True, text=True)
    if lint.returncode or lint.stdout or lint.stderr:
        failures.append(f"mandoc -Tlint: {lint.stdout}{lint.stderr}")
    rendered = subprocess.run(["mandoc", "-Tutf8", man], capture_output=True, text=True).stdout
    rendered = " ".join(re.sub(r".\x08", "", rendered).split())  # without overstrike
    calls = r"\blog(?:Failure|Debug)?(?:Once)?\((.*?)\);"
    messages = {
        message
        for source in (project / "src").rglob("*.cpp")
        for call in re.findall(calls, source.read_text(), re.S)
        for message in re.findall(r'"([^"]+)"', call)
    }
    failures += [f"man page lacks {m!r}" for m in sorted(messages) if m.strip() not in rendered]
    failures += [f"too few logged messages: {sorted(messages)}"] if len(messages) < 20 else []

# Tests and tools read like the product: 100 columns, Python as black formats it.
wide = [
    f"{path.relative_to(project)}:{n}"
    for folder in ("tests", "bench", "fuzz", "tools")
    for path in (project / folder).rglob("*")
    if path.is_file() and "corpus" not in path.parts and path.suffix not in (".svg", ".md")
    for n, line in enumerate(path.read_text(errors="replace").splitlines(), 1)
    if len(line) > 100
]
failures += [f"over 100 columns: {', '.join(wide)}"] if wide else []
if have("black", "black"):
    python = [*project.glob("*/*.py"), project / "bench/run"]
    formatted = subprocess.run(["black", "-q", "--check", "-l", "100", *python])
    failures += ["black -l 100 would reformat the Python"] if formatted.returncode else []


# The docs: every relative link leads to a file, and every anchor to a heading as GitHub makes
# them; the README stays short, in short sentences and paragraphs, its code and tables aside.
def anchors(markdown):
    headings = re.findall(r"^#+ (.*)$", markdown, re.M)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in headings}


for doc in [project / "README.md", project / "SECURITY.md", *project.glob("*/*.md")]:
    for target in re.findall(r"\]\(([^)\s]+)\)", doc.read_text()):
        path, _, anchor = target.partition("#")
        linked = (doc.parent / path).resolve() if path else doc
        if not re.match(r"[a-z]+:", path) and (
            not linked.exists() or anchor and anchor not in anchors(linked.read_text())
        ):
            failures.append(f"{doc.relative_to(project)}: no {target}")
prose = [
    p
    for p in re.split(r"\n\s*\n", text("README.md"))
    if not p.startswith(("    ", "|", "#", "```", "![")) and not re.match(r"\s+\S", p)
]
sentences = [len(s.split()) for s in re.split(r"(?<=[.!?])\s+", " ".join(prose)) if s.strip()]
longest = max(len(p.split()) for p in prose)
if sum(sentences) > 1300 or sum(sentences) / len(sentences) > 22 or longest > 110:
    average = sum(sentences) / len(sentences)
    failures.append(f"README: {sum(sentences)} words, {average:.1f} a sentence, {longest} at most")

# One version: the project's, in the man page, the status script and the cask; the changelog has
# no dated release before the first; the cask is sound Ruby.
cask = project / "Casks/halvorsten.rb"
for where, found in (
    ("man page", re.findall(r"^\.Os Halvorsten (\S+)$", man.read_text(), re.M)[:1]),
    ("halvorsten-status", re.findall(r"^version=(\S+)$", text("scripts/halvorsten-status"), re.M)),
    ("cask", re.findall(r'^  version "(.*)"$', cask.read_text(), re.M)),
):
    failures += (
        [f"{where} says version {found}, the project {version}"] if found != [version] else []
    )
dated = re.findall(r"^## .*\d{4}-\d\d", text("CHANGELOG.md"), re.M)  # before the first release
failures += [f"CHANGELOG.md dates a release: {dated}"] if dated else []
if have("ruby", "ruby") and subprocess.run(["ruby", "-c", cask], capture_output=True).returncode:
    failures.append("ruby -c Casks/halvorsten.rb")
# No root daemon from Homebrew's prefix, and no removal that hands a user what root owns: a
# recursive chown in a folder the user can write gives them whatever was hard-linked there.
shipped = [project / "README.md"]
shipped += [
    f for d in ("Casks", "scripts", "packaging", "man", ".github") for f in (project / d).rglob("*")
]
for path in (f for f in shipped if f.is_file()):
    content = path.read_text(errors="replace")
    if re.search(r"chown\s+-R", content) or "require_root" in content:
        failures.append(f"{path.relative_to(project)} holds a recursive chown or a root service")
# Installer must not give folders that exist already (/Library/Application Support, root:admin)
# the package's owner and mode: the package's PackageInfo says so before the product is built.
if not re.search(
    r'overwrite-permissions="false".*pkgutil --flatten.*productbuild',
    text("scripts/build-pkg"),
    re.S,
):
    failures.append('build-pkg does not ship a PackageInfo with overwrite-permissions="false"')
# The Mac job runs the README's own Homebrew lines as written, and the product's check.
workflow = text(".github/workflows/macos.yml")
brew = re.search(r"^\| Homebrew[^|]*\| `(.*)` \| `(.*)` \|$", text("README.md"), re.M)
for line in brew.groups() if brew else ["(no Homebrew row)"]:
    if line not in map(str.strip, workflow.splitlines()):
        failures.append(f"the macOS workflow does not run the README's line {line!r}")
if not re.search(
    r"^\s+run: sudo scripts/check-on-mac --restart-notifyd --summary \S+\s*$", workflow, re.M
):
    failures.append("the macOS workflow does not run scripts/check-on-mac")
# The profile for managed Macs allows the job as a background item, by its exact label alone.
profile = plistlib.loads(
    (project / "packaging/macos/com.quorvani.halvorsten.mobileconfig").read_bytes()
)
rules = [
    (
        profile["PayloadType"],
        p["PayloadType"],
        [(r["RuleType"], r["RuleValue"]) for r in p["Rules"]],
    )
    for p in profile["PayloadContent"]
]
if rules != [("Configuration", "com.apple.servicemanagement", [("Label", label)])]:
    failures.append(f"profile: {profile}")

# Every script is sound sh. Those that root runs write only through launchd-job's door, or into
# a folder of their own from mktemp -d, and run no man: outside the door's own lines, no write,
# create, remove, rename, chmod, chown or link stands where a command does, and nothing is
# redirected into a file but such a folder's. Quoted text, comments and arithmetic aside.
scripts = [*(project / "scripts").iterdir(), *(project / "packaging/macos/scripts").iterdir()]
failures += [f"sh -n {s}" for s in scripts if subprocess.run(["sh", "-n", s]).returncode]
writes = "rm rmdir mkdir chmod chown ln mv cp touch install tee truncate mkfifo mktemp man".split()
starts = "; && || | & ( ) ! { ;; then do else elif if while".split()
for script in (s for s in scripts if s.name != "build-pkg"):
    source = re.sub(r"^door\(\) \{.*?^\}$", "", script.read_text(), flags=re.S | re.M)
    source = re.sub(r"(?m)^\s*#.*$|\s#\s.*$", "", source)
    source = re.sub(r"\$\(\(.*?\)\)", "0", source).replace("\\\n", " ").replace("\n", " ; ")
    words = shlex.shlex(source, posix=True, punctuation_chars=True)
    words.commenters = ""
    tokens = [";", *words, ";"]
    for before, token, after in zip(tokens, tokens[1:], tokens[2:]):
        if (before in starts and token in writes and (token, after) != ("mktemp", "-d")) or (
            token in (">", ">>") and not re.match(r"/dev/null$|&|\$(copy|expanded)\b", after)
        ):
            failures.append(f"{script.name} writes, or runs man, as root: {before} {token} {after}")

# The scripts on a Mac made of a folder, its "/" in a private mount namespace, with this
# machine's /usr, /etc and /dev but for /usr/local, and the stand-ins (tests/mac-tools) laid over
# /usr/bin, where the scripts find them with their fixed PATH, and keep what they are told beside
# them (the real chmod and mv beside those that stand in for macOS's). A clone's scripts are in
# /clone.
LAY_OUT = """
set -e; mac=$1 tools=$2 work=$3 project=$4 trapped=$5 stage=$6; shift 6
mkdir -p "$mac/usr/local" "$mac/etc" "$mac/dev" "$mac/tmp" "$mac/pkg" "$mac/trap" \\
  "$mac/Library/Logs" "$mac/private" "$mac/clone/packaging/macos" "$work/local" "$work/over"
printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\nSECRET\\n' >"$mac/private/secret"
chmod 600 "$mac/private/secret"
for place in / /stage; do mkdir -p "$mac$place"; cp -R "$stage/." "$mac$place"; done
cp "$project"/packaging/macos/scripts/p*install "$project/scripts/launchd-job" "$mac/pkg"
cp -R "$project/scripts" "$mac/clone"
cp "$project/packaging/macos/payload.txt" "$mac/clone/packaging/macos"
cp "$project"/tests/mac-tools/* "$tools"; cp /usr/bin/chmod "$tools/chmod.real"
cp /usr/bin/mv "$tools/mv.real"
for tool in $trapped; do printf '#!/bin/sh\\n: >>/trapped\\n' >"$mac/trap/$tool"; done
chmod 755 "$mac" "$tools" "$mac"/trap/*; chmod 1777 "$mac/tmp"
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
TRAPPED = (
    "launchctl pkgutil sfltool pmset top notifyutil pgrep killall awk sed grep tail head cut ls rm "
    "mkdir mv chmod chown cat dirname readlink sleep id uname perl mktemp wc sort comm tr env log "
    "ps date sudo cmake man"
).split()
# A row's time limit guards against a hang only: the slowest row takes about 1.5 s on an idle
# 2-core machine, and a few times that on one busy CPU.
HANG_S = 120


def on_a_mac(stage, files, steps):
    """Runs STEPS, shell commands, as root on a Mac with the payload in place (and at /stage), the
    package's scripts in /pkg, a secret only root may read in /private, the stand-ins' files FILES
    ("NAME=VALUE", "_" a blank, "|" a line's end), and a trap of each tool a script might use first
    on PATH: each step's exit status, all they wrote (each "N ms" as "N ms"), whether a trap
    sprung, and the step still running after HANG_S (None when none was)."""
    with tempfile.TemporaryDirectory() as mac, tempfile.TemporaryDirectory() as tools, (
        tempfile.TemporaryDirectory()
    ) as work:
        for name, _, value in (word.partition("=") for word in files.split()):
            pathlib.Path(tools, name).write_text(value.replace("_", " ").replace("|", "\n") + "\n")
        driver = "".join(f"( {step} ) </dev/null; echo $? >>/statuses\n" for step in steps)
        namespace = ["unshare", "-m" if os.geteuid() == 0 else "-rm", "sh", "-c", LAY_OUT, "sh"]
        clean = [
            "/usr/bin/env",
            "-i",
            "/bin/sh",
            "-c",
            f"export PATH=/trap:/usr/bin:/bin; {driver}",
        ]
        with subprocess.Popen(
            [*namespace, mac, tools, work, project, " ".join(TRAPPED), stage, *clean],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            text=True,
            errors="replace",
            start_new_session=True,
        ) as run:
            try:
                out, hung = run.communicate(timeout=HANG_S)[0], False
            except subprocess.TimeoutExpired:
                os.killpg(run.pid, signal.SIGKILL)  # with whatever it left waiting
                out, hung = run.communicate()[0], True
        statuses = pathlib.Path(mac, "statuses")
        ran = [int(n) for n in statuses.read_text().split()] if statuses.exists() else []
        sprung = pathlib.Path(mac, "trapped").exists()
        return ran, re.sub(r"\b\d+ ms\b", "N ms", out), sprung, steps[len(ran)] if hung else None


# What is installed, staged as the package stages it: the paths and modes of the payload list.
with tempfile.TemporaryDirectory() as stage:
    destdir = dict(os.environ, DESTDIR=stage)
    subprocess.run(["cmake", "--install", build], env=destdir, check=True, capture_output=True)
    staged = sorted(
        f"./{p.relative_to(stage)}\t{p.stat().st_mode:o}"
        for p in pathlib.Path(stage).rglob("*")
        if p.is_file()
    )
    listed = sorted(
        line.rsplit("\t", 2)[0] for line in text("packaging/macos/payload.txt").splitlines()
    )
    failures += [f"staged payload {staged}, listed {listed}"] if staged != listed else []

    # One row a case: the stand-ins' files ("job" the job in launchd, "lingers" how long it stays
    # after a bootout, "refuse" bootstrap refused, "program" what launchd says it runs, "btm" what
    # sfltool dumps, "idle" top's 30 s, "acl" access-list entries as ls -e lists them, "answers"
    # the notices the daemon logs its line for, "unasked" a daemon that logs a notice nobody
    # posted), the steps, their exit statuses, and all they wrote, exactly (or its start, up to
    # "…"). No row may print the secret.
    vendor = "/Library/Application Support/Quorvani"
    own, plist = f"{vendor}/Halvorsten", f"/Library/LaunchDaemons/{label}.plist"
    pre, post, job = "sh /pkg/preinstall p / /", "sh /pkg/postinstall p / /", "sh /pkg/launchd-job"
    status, check = f"sh '{own}/halvorsten-status'", f"sh '{own}/check-on-mac'"
    lay, receipt = "/bin/cp -R /stage/. /", "test -f /usr/bin/receipt"
    calls = "/usr/bin/cut -d ' ' -f 1 /usr/bin/launchctl.calls | /usr/bin/tr '\\n' ' '"
    log = "/Library/Logs/Quorvani-Halvorsten.log"  # as the daemon writes it, or hostile
    started = "Halvorsten started; watching power source (event-driven, no polling)."
    ours = (
        "printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n"
        f"[2026-12-05T16:00:00Z] {started}\\n' >{log}; "
    )
    hostile = (
        "printf '[2026-12-05T15:31:02Z] disablesleep cleared.\\n"
        "[2026-12-06T09:00:00Z] \\033]0;owned\\007\\033[2Jdisablesleep cleared.\\n"
        "[2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\\n"
        "[2026-12-07T11:00:00Z] \\342\\200\\256delbasid\\315\\270 peelS\\342\\200\\254\\n"
        f"\\23331m not UTF-8\\nsurrogate \\355\\240\\233 here\\n' >{log}; "
    )
    fifo, link = f"/usr/bin/mkfifo {log}; ", f"/bin/ln -s /private/secret {log}; "
    hard, secret = f"/bin/ln /private/secret {log}; ", f"/bin/mv /private/secret {log}; "
    # Our job's disposition in sfltool's dump, between two others.
    entries = lambda our, other: ((f"{label}.x", other), (label, our), ("com.example.other", other))
    btm = lambda our, other: "btm=" + "|".join(
        f"_#{n}:|__Disposition:_[{state},_allowed,_visible]|__Identifier:_16.{name}"
        for n, (name, state) in enumerate(entries(our, other))
    )
    mine = f"receipt job=running {btm('enabled', 'disabled')} source=Battery_Power setting=0"
    running, briefly = "receipt job=running source=AC_Power", f"{status} --brief"
    manual = f'manual: mandoc -a "{own}/man/man8/halvorsten.8"\n'  # no link where man looks here
    protecting = (
        f"Halvorsten {version} (package)\n"
        f"job: system/{label}, running as pid 4242, last exit (never exited)\n"
        f"Login Items: allowed\n{manual}power: Battery Power; sleep prevention: off\n"
    )
    not_running = (
        "power: AC Power; sleep prevention: never set (off)\n"
        f"verdict: not running: start it with sudo launchctl bootstrap system {plist}"
    )
    read_log = f"the log's last lines ({log}):\n"
    unread = f"the log ({log}) is not a plain file that anyone may read; not read\n"
    woke = "halvorsten-status: the daemon woke while nothing happened"
    brief = (
        lambda verdict, last="never": f"<result>{verdict} (Halvorsten {version}, "
        f"last clear {last})</result>"
    )
    manlink = "/usr/local/share/man/man8/halvorsten.8"
    refused = (
        "launchd-job: will not install Halvorsten: {} is writable by {}\n"
        "  Make that folder root's alone first."
    )
    # A swap of two names within one folder, as nobody: what a user who may write the folder can do.
    nobody = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups"
    exchange = (
        f"{nobody} /usr/bin/python3 -c 'import ctypes, os, sys; "
        'c = ctypes.CDLL(None, use_errno=True); print("swapped" if c.renameat2('
        "-100, sys.argv[1].encode(), -100, sys.argv[2].encode(), 2) == 0 "
        "else os.strerror(ctypes.get_errno()))'"
    )
    table = "\n\n| step | outcome | measured |\n| --- | --- | --- |\n"
    both = (("powermanagement.prefschange", "settings"), ("powersources.source", "power-source"))
    notice = lambda round, *posted: "".join(
        f'com.apple.system.{n} ({round}): "Woken: {w} notice." N ms after the post\n'
        for n, w in posted
    )
    noticed = lambda round, *posted: "".join(
        f"| com.apple.system.{n}, {round} | delivered | N ms to the daemon's line |\n"
        for n, _ in posted
    )
    notices = "== the daemon's own line for each notice\n" + notice("notifyd as found", *both)
    reached = (
        "check-on-mac: both notices reach the daemon" + table + noticed("notifyd as found", *both)
    )
    rows = [
        # The package's scripts, the launchd steps they share with a clone's install, and
        # uninstall; deny entries and root's own pass, and what the laid files took from their
        # folders' lists is cleared. Where the way to man's folder is root's alone, start links
        # the man page there, and uninstall removes it.
        (
            f"receipt job=running lingers=3 acl=/Library=group:everyone_deny_delete|"
            f"{vendor.replace(' ', '_')}=user:root_allow_write|"
            f"{plist}=user:nobody_inherited_allow_write",
            [pre, lay, post, receipt, calls, f"{job} manual; sh '{own}/uninstall' >/dev/null"],
            [0, 0, 0, 0, 0, 0],
            "print bootout print print print print enable bootstrap man halvorsten",
        ),
        (
            "refuse",
            [f"{job} stop", f"{job} start"],
            [0, 1],
            "launchd-job: launchd did not start Halvorsten: "
            "Bootstrap failed: 5: Input/output error\n"
            f"  These files are in place:\n    {own}/halvorsten\n…",
        ),
        (
            "job=running lingers=1000000",
            [f"{job} stop", calls],
            [1, 0],
            f"launchd-job: launchd still holds system/{label} 10 s after it was told to stop it.\n"
            f"  See 'launchctl print system/{label}'; once it is gone, run this again.\n"
            f"print bootout{' print' * 50} ",
        ),
        # The startup volume only: another target, or any argument to uninstall, is refused, and
        # the startup volume's files stay.
        (
            "receipt job=running",
            [pre.replace("/ /", "/ /Volumes/Other"), f"sh '{own}/uninstall' /", f"test -f {plist}"],
            [1, 1, 0],
            "Halvorsten installs only on the startup volume, not on /Volumes/Other.\n"
            "uninstall: it takes no argument: it removes Halvorsten from this Mac's startup volume",
        ),
        # A folder of the daemon's own that a user made first is made afresh, root's; a folder
        # above what root runs that someone else may write to, as its owner, through a mode bit or
        # an access-list entry, stops the install before anything is touched (the daemon's folder
        # is still there), or stops the job from starting.
        (
            "",
            [
                f"/bin/mkdir -p '{own}'; echo 0 >'{own}/planted'; "
                f"/bin/chown -R nobody '{own}'; {pre}",
                lay,
                post,
                f"/usr/bin/stat -c '%U %a' '{own}'; cd '{own}' && echo *",
            ],
            [0, 0, 0, 0],
            "root 755\ncheck-on-mac halvorsten halvorsten-status launchd-job man uninstall",
        ),
        (
            "",
            [f"/bin/chown nobody '{vendor}'; {pre}", f"test -f '{own}/halvorsten'"],
            [1, 0],
            refused.format(vendor, "nobody"),
        ),
        (
            "acl=/Library/Application_Support=user:nobody_allow_list,search,delete",
            [pre],
            [1],
            refused.format("/Library/Application Support", "user:nobody (an access-list entry)"),
        ),
        (
            "",
            [pre, lay, f"/bin/chmod o+w /Library/LaunchDaemons; {post}", calls],
            [0, 0, 1, 0],
            "launchd-job: will not start Halvorsten: "
            "/Library/LaunchDaemons is writable by everyone\n"
            "  Its job is disabled. Make that folder root's alone, then install again.\n"
            "print disable ",
        ),
        # Nobody can swap what root runs, or a folder on the way to it, for their own; in a folder
        # of theirs, a root-owned folder is swapped at once.
        (
            "",
            [
                f"{nobody} /bin/mkdir /tmp/mine; for p in '{own}' '{own}/halvorsten' '{vendor}' "
                f"{plist} '{own}/man/man8'; do {exchange} \"$p\" /tmp/mine; done",
                "/bin/mkdir /tmp/theirs/; /bin/chown nobody /tmp/theirs; "
                f"/bin/mkdir /tmp/theirs/old; {nobody} /bin/mkdir /tmp/theirs/mine; "
                f"{exchange} /tmp/theirs/old /tmp/theirs/mine",
            ],
            [0, 0],
            "Permission denied\n" * 5 + "swapped",
        ),
        # The clone's install and the uninstall, while Homebrew's user, who owns man's folders,
        # swaps man8 for a link to /private/etc/paths.d (whose lines path_helper puts on every
        # login shell's PATH): nothing of root's appears there, and nothing there is removed.
        (
            "",
            [
                "/bin/mkdir -p /usr/local/share/man/man8 /private/etc/paths.d; "
                "echo kept >/private/etc/paths.d/halvorsten.8; "
                "/bin/chown -R nobody /usr/local/share/man; "
                f"echo '[ -L /usr/local/share/man/man8 ] || {nobody} /bin/sh -c \""
                "/bin/mv /usr/local/share/man/man8 /usr/local/share/man/old && "
                "/bin/ln -s /private/etc/paths.d /usr/local/share/man/man8\"' >/usr/bin/hook; "
                "PATH=/usr/bin:/bin sh /clone/scripts/install-macos",
                f"sh '{own}/uninstall'",
                "cd /private/etc/paths.d && echo * && /bin/cat halvorsten.8",
            ],
            [0, 0, 0],
            f"Halvorsten is installed and running. Its log: {log}\nIts {manual}"
            f'To remove it: sudo "{own}/uninstall"\n'
            f"Halvorsten is removed. Its log stays: {log}\nhalvorsten.8\nkept",
        ),
        # Installed, check-on-mac runs nothing found beside it, a clone planted there included.
        (
            "",
            [
                f"/bin/mkdir -p '{vendor}/packaging/macos' '{vendor}/scripts'; "
                f": >'{vendor}/packaging/macos/payload.txt'; "
                f"echo ': >/planted-ran' >'{vendor}/scripts/install-macos'; {check}",
                "test ! -e /planted-ran",
            ],
            [1, 0],
            "check-on-mac: installed, this runs only the guided check (--with-battery) and "
            "--notices; the others run from a clone",
        ),
        # The status script, one row a verdict.
        (
            mine,
            [ours + status],
            [0],
            protecting + read_log + "  [2026-12-05T15:31:02Z] disablesleep cleared.\n"
            f"  [2026-12-05T16:00:00Z] {started}\nverdict: protecting",
        ),
        (
            btm("enabled", "disabled") + " source=AC_Power",
            [status],
            [1],
            f"Halvorsten {version} (clone)\njob: system/{label}, not in launchd\n"
            f"Login Items: allowed\n{manual}{not_running}",
        ),
        (
            f"receipt job=stopped {btm('disabled', 'enabled')} source=AC_Power setting=1",
            [status],
            [1],
            f"Halvorsten {version} (package)\njob: system/{label}, last exit 78: EX_CONFIG\n"
            f"Login Items: switched off\n{manual}power: AC Power; sleep prevention: on\n"
            "verdict: switched off under Login Items: switch Halvorsten on under System Settings > "
            "General > Login Items > Allow in the Background, then: "
            f"sudo launchctl kickstart system/{label}",
        ),
        ("source=AC_Power", [f"/bin/rm {plist}; {briefly}"], [1], brief("not installed")),
        (
            running,
            [f"{ours}/bin/mkdir -p /opt/homebrew/Caskroom/halvorsten; {briefly}"],
            [0],
            brief("protecting", "2026-12-05T15:31:02Z"),
        ),
        (
            "receipt uid=501 source=AC_Power",
            [f"/bin/mkdir -p /usr/local/Caskroom/halvorsten; {status}"],
            [1],
            f"Halvorsten {version} (Homebrew cask)\njob: system/{label}, not in launchd\n"
            f"Login Items: cannot tell (run with sudo to see)\n{manual}{not_running}",
        ),
        # What launchd runs, or a folder above it, could be swapped by someone other than root: a
        # folder on the way that a user owns, or one an access-list entry opens, or one above a
        # link (Homebrew's opt link). A file that is gone is no evidence: the job's plist swapped
        # away. What launchd runs is read whole from its arguments, blanks and all.
        (
            mine,
            [f"/bin/chown nobody '{vendor}'; {status}"],
            [1],
            f"{protecting}verdict: at risk: {vendor} is writable by nobody",
        ),
        (
            f"{running} acl={vendor.replace(' ', '_')}=group:ops_allow_allow_list,writeattr",
            [briefly],
            [1],
            brief("at risk"),
        ),
        (
            f"{running} program=/opt/homebrew/opt/halvorsten/libexec/halvorsten",
            [
                "/bin/mkdir -p /opt/homebrew/Cellar/h/1/libexec /opt/homebrew/opt; "
                f"/bin/cp '{own}/halvorsten' /opt/homebrew/Cellar/h/1/libexec; "
                "/bin/ln -s ../Cellar/h/1 /opt/homebrew/opt/halvorsten; "
                "/bin/chown nobody /opt/homebrew/opt; "
                f"{briefly}"
            ],
            [1],
            brief("at risk"),
        ),
        (
            mine,
            [f"/bin/rm {plist}; {status}"],
            [1],
            f"{protecting}verdict: at risk: {plist} is missing",
        ),
        (
            running + " program=",
            [briefly],
            [0],
            brief("protecting"),
        ),
        # The log as hostile input, read as nobody: never waited on, never followed, never a second
        # name of another file, never a file only root may read, never printed raw (strict UTF-8
        # only, no control, format or unassigned character) or trusted; and a perl module that
        # the caller's environment asks for is not loaded.
        (
            running,
            [f"{fifo}{briefly}"],
            [0],
            brief("protecting"),
        ),
        (
            running,  # a log that keeps growing
            [
                f"(while :; do /usr/bin/truncate -s +1G {log}; done) >/dev/null 2>&1 & "
                f"{briefly}; kill $!"
            ],
            [0],
            brief("protecting"),
        ),
        (mine, [link + status], [0], protecting + unread + "verdict: protecting"),
        (mine, [hard + status], [0], protecting + unread + "verdict: protecting"),
        (
            mine,
            [secret + status, f"{status} --log"],
            [0, 1],
            protecting + unread + "verdict: protecting",
        ),
        (
            mine,
            [
                f"{hostile}echo 'END {{ print \"SECRET\\n\" }} 1;' >/private/evil.pm; "
                f"PERL5LIB=/private PERL5OPT=-Mevil {status}"
            ],
            [0],
            protecting + read_log + "  [2026-12-06T09:00:00Z] ]0;owned[2Jdisablesleep cleared.\n"
            "  [2026-12-07T10:00:00Z] disablesleep cleared.</result><result>protecting\n"
            "  [2026-12-07T11:00:00Z] delbasid peelS\n  31m not UTF-8\n  surrogate  here\n"
            "verdict: protecting",
        ),
        (
            running,
            [f"{hostile}{briefly}"],
            [0],
            brief("protecting", "2026-12-05T15:31:02Z"),
        ),
        # What it costs: 30 s of top ("idle" is the second sample's IDLEW %CPU POWER #TH), one row
        # a figure: a thread that stopped running, wake-ups, CPU, and a report in another shape.
        (
            "receipt job=running idle=0_0.0_0.0_0/-1",
            [f"{status} --cost"],
            [0],
            "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.0 %, energy impact 0.0, "
            "threads 3 then +0",
        ),
        (
            "receipt job=running idle=3_0.0_0.1_-1",
            [f"{status} --cost"],
            [1],
            "idle for 30 s: 3 wake-ups (0.10 a second), CPU 0.0 %, energy impact 0.1, "
            "threads 3 then -1\n" + woke,
        ),
        (
            "receipt job=running idle=0_0.2_0.2_0/1",
            [f"{status} --cost"],
            [1],
            "idle for 30 s: 0 wake-ups (0.00 a second), CPU 0.2 %, energy impact 0.2, "
            "threads 3 then +0\n" + woke,
        ),
        (
            "receipt job=running idle=3+_0.0_0.0_0",
            [f"{status} --cost"],
            [2],
            "halvorsten-status: top's report is not as expected: 2 samples, "
            '"PID   IDLEW %CPU POWER #TH", '
            '"4242  3+ 0.0 0.0 0"',
        ),
        # The daemon's own line for each notice (stamped up to a second before the post: the log's
        # clock), and none unasked, nor another program's; notifyd restarted only when asked,
        # never by the guided check, and then the pass that its timer calls for, not just any.
        (
            "job=running notifyd=100 answers=prefschange|source skew=-500",
            [f"{check} --notices", "/bin/cat /usr/bin/notifyd"],
            [0, 0],
            notices + reached + "100",
        ),
        # Its table, only as the user who called sudo, through no link that another user laid;
        # root with no such user writes none.
        (
            "job=running notifyd=100 answers=prefschange|source",
            [
                f"/bin/mkdir /private/nobody; /bin/chown nobody /private/nobody; "
                f"{nobody} /bin/ln -s /private/secret /private/nobody/table.md; "
                f"{nobody} /bin/ln -s /private /private/nobody/ci; "
                "PATH=/usr/bin:/bin SUDO_USER=nobody "
                f"{check} --notices --summary /private/nobody/table.md",
                f"PATH=/usr/bin:/bin {check} --notices --summary /private/nobody/ci/new.md",
                "test ! -e /private/new.md && /usr/bin/grep -qx SECRET /private/secret",
            ],
            [0, 0, 0],
            f"{notices}{reached}check-on-mac: did not write the table to /private/nobody/table.md\n"
            f"{notices}{reached}check-on-mac: as root with no user behind sudo, it will not write "
            "/private/nobody/ci/new.md; the table is above",
        ),
        (
            "job=running notifyd=100 answers=prefschange|source|restart",
            [f"{check} --notices --restart-notifyd"],
            [0],
            notices + "== notifyd restarted\nnotifyd restarted: pid 100 ended, pid 101 now\n"
            "the daemon saw notifyd end N ms after it was stopped, "
            "and caught up with a pass at N ms\n"
            "== the daemon's own line for each notice, after notifyd restarted\n"
            + notice("after notifyd restarted", *both)
            + "check-on-mac: both notices reach the daemon, before and after notifyd restarted"
            + table
            + noticed("notifyd as found", *both)
            + "| notifyd restarted | caught up | its pass N ms after the restart |\n"
            + noticed("after notifyd restarted", *both).rstrip("\n"),
        ),
        (
            "job=running notifyd=100 answers=prefschange",
            [f"{link}{check} --notices"],
            [1],
            "== the daemon's own line for each notice\n"
            + notice("notifyd as found", both[0])
            + 'check-on-mac: no "Woken: power-source notice." from the daemon '
            + "within 10 s of posting "
            "com.apple.system.powersources.source (notifyd as found)\n--- the log…",
        ),
        (
            "job=running notifyd=100 answers=prefschange|source forged",
            [f"{check} --notices"],
            [1],
            "== the daemon's own line for each notice\n"
            'check-on-mac: no "Woken: settings notice." from the daemon within 10 s of posting '
            "com.apple.system.powermanagement.prefschange (notifyd as found)\n--- the log…",
        ),
        (
            "job=running notifyd=100 answers=prefschange|source|restart|early",
            [f"{check} --notices --restart-notifyd"],
            [1],
            notices + "== notifyd restarted\nnotifyd restarted: pid 100 ended, pid 101 now\n"
            "check-on-mac: no catch-up pass, after its timer, from the daemon "
            "within 30 s of seeing "
            "notifyd end\n--- the log…",
        ),
        (
            "job=running notifyd=100 answers=prefschange|source unasked",
            [f"{check} --notices"],
            [1],
            "== the daemon's own line for each notice\n"
            "check-on-mac: the daemon logged a notice while "
            "none was posted (notifyd as found): …",
        ),
        (
            "job=running notifyd=100",
            [f"{check} --with-battery --restart-notifyd"],
            [1],
            "check-on-mac: --restart-notifyd is for a throwaway Mac, never for the guided check on "
            "someone's MacBook",
        ),
    ]
    for files, steps, statuses, expected in rows:
        ran, out, trapped, hung = on_a_mac(stage, files, steps)
        said = out.rstrip("\n")
        if hung:
            failures.append(
                f"{hung!r} still ran after {HANG_S} s, with {files}; it had written:\n{out}"
            )
        elif (
            ran != statuses
            or trapped
            or "SECRET" in out
            or said != expected
            and not (expected.endswith("…") and said.startswith(expected[:-1]))
        ):
            failures.append(f"{steps} with {files}: {ran}, trapped {trapped}\n{out}")

print("\n".join(f"FAILED: {failure}" for failure in failures) or "packaging: all checks passed")
sys.exit(1 if failures else 0)
