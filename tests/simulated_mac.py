"""A Mac made of files for the service built to use it, and kernel-style uevents sent over
netlink in a private network namespace: the end-to-end tests, the demo (tools/demo.py) and the
benchmarks."""
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

STARTED = "Halvorsten started; watching power source (event-driven, no polling)."
POLL_CALLS = {"7", "271", "73"}  # poll and ppoll on x86_64, ppoll on aarch64


def enter_private_network():
    """Runs this program again in network and mount namespaces of its own (as root, or else in a
    user namespace), so that the uevents it sends reach only the services it starts, and lays a
    /dev of its own there, where /dev/log (syslog's socket) is the simulated Mac's."""
    if os.environ.get("HALVORSTEN_PRIVATE_NETWORK") != "1":
        os.environ["HALVORSTEN_PRIVATE_NETWORK"] = "1"
        flags = "-nm" if os.geteuid() == 0 else "-rnm"
        os.execvp(
            "unshare",
            [
                "unshare",
                flags,
                "sh",
                "-ec",
                """
            dev=$(mktemp -d); mount -t tmpfs -o mode=755 dev "$dev"
            for name in null zero full random urandom tty; do
              : >"$dev/$name"; mount --bind "/dev/$name" "$dev/$name"
            done
            ln -s /proc/self/fd "$dev/fd"
            mount --rbind "$dev" /dev
            # Room at /dev/log for every line a run writes (the service drops what finds it full).
            echo 10000 >/proc/sys/net/unix/max_dgram_qlen || true
            exec "$@" """,
                "sh",
                sys.executable,
                *sys.argv,
            ],
        )


def send_uevent(subsystem="power_supply", fields=(), devpath="/devices/virtual/x"):
    """Sends a change uevent shaped like the kernel's: "change@devpath", then KEY=VALUE fields."""
    fields = ["ACTION=change", f"DEVPATH={devpath}", f"SUBSYSTEM={subsystem}", *fields]
    with socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 15) as kernel_events:
        kernel_events.sendto("\0".join([f"change@{devpath}", *fields, ""]).encode(), (0, 1))


def proc(pid, name):
    return pathlib.Path(f"/proc/{pid}/{name}").read_text()


def activity(pid):
    """CPU ticks used and voluntary context switches made, as the kernel counts them."""
    stat = proc(pid, "stat").rsplit(")", 1)[1].split()
    switches = proc(pid, "status").split("\nvoluntary_ctxt_switches:")[1].split()[0]
    return int(stat[11]) + int(stat[12]), int(switches)


def wait_for(condition, seconds=10):
    """Whether CONDITION held at some look within SECONDS (looked at once more after them)."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.002)
    return True


class Mac:
    """A fresh simulated Mac in ROOT: on mains power, sleep prevention off, the lid open."""

    def __init__(self, service, root):
        self.service, self.root, self.process, self.loop_poll = (
            service,
            pathlib.Path(root),
            None,
            None,
        )
        # What the service sends to syslog, heard at /dev/log in the private /dev.
        self.syslog, self.syslog_heard, self.syslog_stalled = self.listen(), [], False
        shutil.rmtree(self.root, ignore_errors=True)
        for folder in ("Logs", "power_supply/AC", "power_supply/BAT0", "lid/LID0", "notices"):
            (self.root / folder).mkdir(parents=True)
        shutil.copy(pathlib.Path(__file__).with_name("pmset"), self.root)
        for name, text in (
            ("AC/type", "Mains"),
            ("BAT0/type", "Battery"),
            ("BAT0/capacity", "100"),
        ):
            (self.root / "power_supply" / name).write_text(text + "\n")
        self.set(battery=False, setting=False, lid_closed=False)

    @staticmethod
    def listen():
        syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        if os.environ.get("HALVORSTEN_PRIVATE_NETWORK") == "1":
            pathlib.Path("/dev/log").unlink(missing_ok=True)
            syslog.bind("/dev/log")
        syslog.setblocking(False)
        return syslog

    def stall_syslog(self):
        """Makes syslog a reader that has stalled: its queue full after two lines."""
        room = pathlib.Path("/proc/sys/net/unix/max_dgram_qlen")
        length = room.read_text()
        room.write_text("1")  # a socket's room is fixed when it is made
        self.syslog.close()
        self.syslog, self.syslog_stalled = self.listen(), True
        room.write_text(length)

    def set(self, battery=None, setting=None, lid_closed=None):
        for name, value, texts in (
            ("power_supply/BAT0/status", battery, ("Charging", "Discharging")),
            ("power_supply/AC/online", battery, ("1", "0")),
            ("state", setting, ("0", "1")),
            ("lid/LID0/state", lid_closed, ("state: open", "state: closed")),
        ):
            if value is not None:
                (self.root / name).write_text(texts[value] + "\n")

    def send_supply_event(self, name):
        """The uevent the kernel sends when supply NAME changes: all its properties."""
        folder = self.root / "power_supply" / name
        properties = {
            "NAME": name,
            **{f.name.upper(): f.read_text().strip() for f in folder.iterdir()},
        }
        send_uevent(
            fields=[f"POWER_SUPPLY_{k}={v}" for k, v in properties.items()],
            devpath=f"/devices/platform/{name}/power_supply/{name}",
        )

    def lines(self, name):
        path = self.root / name
        return path.read_text(errors="replace").splitlines() if path.exists() else []

    def heard(self, debug=False):
        """What has reached syslog: (priority, message) pairs; with `debug`, the debug lines alone,
        their messages with a pass's duration taken off."""
        while self.syslog.fileno() >= 0:
            try:
                datagram = self.syslog.recv(65536).decode()
            except BlockingIOError:
                break
            self.syslog_heard.append(
                (int(datagram[1 : datagram.index(">")]), datagram.split("]: ", 1)[1])
            )
        if debug:
            return [re.sub(r" \(\d+ ms\)\.$", ".", m) for p, m in self.syslog_heard if p & 7 == 7]
        return [(p, m) for p, m in self.syslog_heard if p & 7 != 7]

    def log(self):
        """The log's messages, their timestamps taken off."""
        stamp = re.compile(r"^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] ")
        return [stamp.sub("", line) for line in self.lines("Logs/Quorvani-Halvorsten.log")]

    def start(self, shell='exec "$0" "$@"', wrapper=()):
        """Starts `sh -c SHELL WRAPPER... SERVICE`, input from the null device, output and error
        to the file service.out."""
        with open(self.root / "service.out", "ab") as out:
            self.process = subprocess.Popen(
                ["sh", "-c", shell, *wrapper, self.service],
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=out,
            )
        return self

    def idle(self):
        """Whether the service has read every event sent, sleeps in its loop's poll (not in the
        one that watches a child: once started, the loop's is known by its descriptors' place)
        and has no child."""
        pid = self.process.pid
        try:
            sockets = [line.split() for line in proc(pid, "net/netlink").splitlines()[1:]]
            queued = [int(s[4]) for s in sockets if s[1] == "15" and s[3] != "00000000"]
            call = proc(pid, "syscall").split()
            in_poll = call[0] in POLL_CALLS and self.loop_poll in (None, call[1])
            return queued == [0] and in_poll and not proc(pid, f"task/{pid}/children")
        except (OSError, IndexError):
            return False

    def asleep(self):
        """Whether the service is idle with no timer armed: poll's timeout is none."""
        try:
            call = proc(self.process.pid, "syscall").split()
            return self.idle() and call[3] in ({"0xffffffff"} if call[0] == "7" else {"0x0"})
        except (OSError, IndexError):
            return False

    def event(self, **change):
        """Makes the CHANGE, sends each supply's event at once (the service held), waits for
        idle."""
        self.set(**change)
        os.kill(self.process.pid, signal.SIGSTOP)
        for name in ("AC", "BAT0"):
            self.send_supply_event(name)
        os.kill(self.process.pid, signal.SIGCONT)
        return wait_for(self.idle)

    def tick(self, times=1):
        """The battery's level ticks down a percent TIMES times, each uevent handled in turn."""
        capacity = self.root / "power_supply/BAT0/capacity"
        handled = 0
        for _ in range(times):
            capacity.write_text(f"{int(capacity.read_text()) - 1}\n")
            self.send_supply_event("BAT0")
            handled += wait_for(self.idle)
        return handled == times

    def pmset(self, *arguments, heard=True):
        """Runs the stand-in pmset; when the service is to hear of it, waits for it to wake."""
        woke = activity(self.process.pid)[1]
        subprocess.run(
            [self.root / "pmset", *arguments],
            check=True,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        return not heard or wait_for(lambda: activity(self.process.pid)[1] > woke and self.idle())

    def started(self):
        self.loop_poll = None
        if not (wait_for(lambda: self.log()[-1:] == [STARTED]) and wait_for(self.idle)):
            return False
        self.loop_poll = proc(self.process.pid, "syscall").split()[1]
        return True

    def stop(self):
        """Ends the service, and the listening: what syslog heard stays in heard()."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
        status = self.process and self.process.wait()
        self.heard()
        self.syslog.close()
        return status
