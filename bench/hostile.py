"""The service under hostile timing and a misbehaving pmset, on the simulated Mac: what
bench/run reports in its last rows. Each function takes the service and the simulated Mac's
folder it was built for, so that an older build can be measured the same way."""
import subprocess
import time

from simulated_mac import Mac, proc, wait_for

CLEARED = "disablesleep cleared."


def fight(service, root, seconds, pace_s=0.05):
    """On battery, a program switches sleep prevention on again PACE_S seconds after every clear,
    for SECONDS: the clears, the service's pmset runs and the log's bytes in that time, and when
    the program saw each clear, in seconds from its start."""
    mac = Mac(service, root)
    mac.set(battery=True)
    mac.start().started()
    log = mac.root / "Logs/Quorvani-Halvorsten.log"
    start_bytes = log.stat().st_size
    calls = len(mac.lines("calls"))
    start = time.monotonic()
    done, seen = start + seconds, []
    while time.monotonic() < done:
        mac.pmset("-a", "disablesleep", "1", heard=False)
        while mac.lines("state") != ["0"] and time.monotonic() < done:
            time.sleep(0.002)
        if mac.lines("state") == ["0"]:
            seen.append(round(time.monotonic() - start, 2))
        time.sleep(min(pace_s, max(0.0, done - time.monotonic())))
    runs = mac.lines("calls")[calls:]
    mac.stop()
    ours = [run for run in runs if not run.startswith("[-a][disablesleep][1]")]
    return {"fight_clears": sum(run.startswith("[-a][disablesleep][0]") for run in ours),
            "fight_pmset_runs": len(ours), "fight_log_bytes": log.stat().st_size - start_bytes,
            "fight_cleared_s": seen}


def hang_once(service, root, limit_s=30):
    """`pmset -g` hangs (and holds its output) the first time the adapter is pulled; a second
    later the adapter is put back and pulled again: seconds from that second pull until the
    clear, or None when none comes within LIMIT_S."""
    mac = Mac(service, root)
    mac.start().started()
    (mac.root / "[-g]").write_text('rm "$D/[-g]"; sleep 3600\n')
    mac.set(battery=True, setting=True)
    mac.send_supply_event("AC")
    time.sleep(1)
    mac.set(battery=False)
    mac.send_supply_event("AC")
    mac.set(battery=True)
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
