"""The service under hostile timing and a misbehaving pmset, on the simulated Mac: what
bench/run reports in its last rows. Each function takes the service and the simulated Mac's
folder it was built for, so that an older build can be measured the same way."""
import subprocess
import time

from simulated_mac import Mac, proc, wait_for

CLEARED = "disablesleep cleared."


def fight(service, root, seconds, pace_s=None):
    """On battery, a program switches sleep prevention on again PACE_S seconds after every clear,
    or at once, before the service's check, when PACE_S is None; for SECONDS. Returns when the
    service cleared or tried to, in seconds from the start, its pmset runs and the log's bytes."""
    mac = Mac(service, root)
    mac.set(battery=True)
    # Each clear notes its time; before the check, the program's switch-on follows the clear's
    # own, each announced as pmset announces it.
    clear = 'date +%s.%N >>"$D/clears"\n'
    if pace_s is None:
        clear += "".join(f'echo {v} >"$D/state"; : >>"$D/notices/prefschange"\n' for v in (0, 1))
        clear += "exit 0\n"
    (mac.root / "[-a][disablesleep][0]").write_text(clear)
    mac.start().started()
    log = mac.root / "Logs/Quorvani-Halvorsten.log"
    start_bytes = log.stat().st_size
    calls = len(mac.lines("calls"))
    start = time.time()
    done = time.monotonic() + seconds
    while time.monotonic() < done:
        mac.pmset("-a", "disablesleep", "1", heard=False)
        if pace_s is None:
            time.sleep(seconds)
        while mac.lines("state") != ["0"] and time.monotonic() < done:
            time.sleep(0.002)
        time.sleep(min(pace_s or 0, max(0.0, done - time.monotonic())))
    runs = mac.lines("calls")[calls:]
    mac.stop()
    ours = [run for run in runs if not run.startswith("[-a][disablesleep][1]")]
    return {
        "cleared_s": [round(float(t) - start, 2) for t in mac.lines("clears")],
        "pmset_runs": len(ours),
        "log_bytes": log.stat().st_size - start_bytes,
    }


def hang_once(service, root, limit_s=30):
    """On battery with sleep prevention on, the adapter is pulled and the first `pmset -g` hangs,
    holding its output; nothing else changes. Seconds from the pull until the clear, or None when
    none comes within LIMIT_S."""
    mac = Mac(service, root)
    mac.start().started()
    (mac.root / "[-g]").write_text('rm "$D/[-g]"; sleep 3600\n')
    mac.set(battery=True, setting=True)
    pulled = time.monotonic()
    mac.send_supply_event("AC")
    cleared = wait_for(lambda: CLEARED in mac.log(), limit_s)
    seconds = time.monotonic() - pulled if cleared else None
    mac.stop()
    subprocess.run(["pkill", "-f", "sleep 3600"], check=False)
    return seconds


def huge_report_peak_kib(service, root, megabytes=300):
    """The service's peak resident size (VmHWM) after one pass whose `pmset -g` writes
    MEGABYTES of report."""
    mac = Mac(service, root)
    mac.start().started()
    (mac.root / "[-g]").write_text(f"head -c {megabytes * 1000 * 1000} /dev/zero; echo\n")
    mac.event(battery=True)
    wait_for(mac.idle, 60)
    peak = int(proc(mac.process.pid, "status").split("\nVmHWM:")[1].split()[0])
    mac.stop()
    return peak
