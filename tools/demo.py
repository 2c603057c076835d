#!/usr/bin/env python3
"""The demo: a few seconds of the service's life on the simulated Mac, narrated.

    demo.py SERVICE ROOT    # as `cmake --workflow --preset demo` runs it
"""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from simulated_mac import Mac, enter_private_network, wait_for  # noqa: E402

enter_private_network()
mac = Mac(*sys.argv[1:3])
if not mac.start().started():
    sys.exit("demo: the service did not start")
print(f"The service, built for this simulated Mac: {mac.service}\nIts log: {mac.root / 'Logs'}")
times = lambda n: f"{n} time{'s' * (n != 1)}"
shown = 0
for step, change in (
    ("The service starts on mains power: nothing to do", {}),
    ("Someone runs 'pmset -a disablesleep 1': on mains it is left alone", {"switch_on": 1}),
    ("The adapter is pulled: the service switches sleep prevention off", {"battery": True}),
    ("The battery ticks down 30 times: the service sleeps through it", {"ticks": 30}),
    (
        "Still on battery, sleep prevention switched on again: off again at once",
        {"switch_on": 1},
    ),
    (
        "Back on the adapter, sleep prevention on again, the lid closed: the Mac stays awake",
        {"battery": False, "lid_closed": True, "switch_on": 1},
    ),
    (
        "Into the bag, the adapter pulled: off again, and the closed lid sleeps the Mac",
        {"battery": True},
    ),
):
    switch_on, ticks = change.pop("switch_on", 0), change.pop("ticks", 0)
    if change:
        mac.event(**change)
    mac.tick(ticks)
    if switch_on:
        mac.pmset("-a", "disablesleep", "1")
    wait_for(mac.asleep)
    runs = mac.lines("calls")
    people = sum(run.startswith("[-a][disablesleep][1]") for run in runs)
    log = mac.lines("Logs/Quorvani-Halvorsten.log")
    print(
        f"\n== {step}\n   sleep prevention (disablesleep): "
        f"{['off', 'on'][mac.lines('state') == ['1']]}; pmset run by the service "
        f"{times(len(runs) - people)}, by people {times(people)}, so far"
        f"\n   new in the log:{' nothing' if len(log) == shown else ''}"
    )
    print("".join(f"     {line}\n" for line in log[shown:]), end="")
    shown = len(log)
mac.stop()
