// libFuzzer target over the whole service in virtual time: the fuzzer's bytes are a sequence of
// events (the adapter, a program switching sleep prevention on or off at any moment, lost
// notices, waits, a late timer, faults of pmset and of the power-source reading), played
// against a model of the Mac. After every step it checks the promises of the README and the man
// page:
// - on battery with the setting on, a pass is due within five minutes;
// - a run of answers to a program gets at most six in its first minute, then at most one in any
//   five minutes, until ten quiet minutes pass;
// - on mains no pass starts a process; a change of the power source is checked at once;
// - the timer is armed exactly while something waits: a held change, a try, the catch-up;
// - every line, debug lines included, says what is true.
// The bounds are written out here, never taken from the product, so that a wrong constant
// there breaks them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/service.h"

namespace {

using namespace halvorsten;

constexpr long long kMinute = 60 * 1000, kFiveMinutes = 5 * kMinute, kQuiet = 10 * kMinute;
constexpr long kWholeAfterMs = 6000;  // as after a restart of notifyd
const std::string kIntent = "On battery with disablesleep=1 — clearing to protect the battery.",
                  kCleared = "disablesleep cleared.", kFailed = "Failed to clear disablesleep.",
                  kTrying =
                      "Trying again while on battery, at intervals that grow up to 5 minutes.",
                  kKeeps =
                      "Sleep prevention keeps being switched on again — switching it off at "
                      "most every 5 minutes.",
                  kLid = "Lid closed — asking the system to sleep.",
                  kStarted =
                      "Halvorsten started; watching power source (event-driven, no polling).";

void require(bool holds) {
  if (!holds) std::abort();
}

// What goes wrong with every pmset run or reading while its bit is set.
enum Fault { QueryFails = 1, ClearFails = 2, OnBeforeCheck = 4, CheckFails = 8, NoReading = 16 };

bool verified(PassOutcome outcome) {
  return outcome == PassOutcome::NothingToClear || outcome == PassOutcome::Cleared;
}

struct Mac {
  long long nowMs = 0, timerMs = -1;
  bool battery = false, on = false, stored = false, lid = false;
  int faults = 0, lateMs = 0;  // the timer fires lateMs after it is due
  bool stale = false;          // notifyd lost its state: the providing type reads "AC Power"
  int notices = 0;             // settings notices posted, to be delivered
  // What the checks follow: the call and the pass under way, and what the Mac saw of each pass.
  bool forPowerSource = false, inTimer = false, inPass = false, catchingUp = false;
  PassOutcome found = PassOutcome::NothingToClear, last = PassOutcome::NothingToClear;
  int passes = 0;
  bool held = false, saidTrying = false, saidKeeps = false;
  long long catchUpMs = -1;        // when the pass after lost notices is due
  std::vector<long long> answers;  // the answers of this run, in time
  std::string lastLine;

  void passStarts(bool afterLostNotices) {
    ++passes, held = false, inPass = true, found = PassOutcome::NothingToClear;
    catchingUp = inTimer && afterLostNotices && catchUpMs >= 0 && nowMs >= catchUpMs;
    if (catchingUp) catchUpMs = -1, stale = false;
  }
  void startsProcess() const { require(inPass && battery); }
  // A pass ended with `outcome`, as its debug line says: it must be what the Mac saw.
  void passEnded(std::string_view line) {
    const char* const names[] = {"nothing to clear", "cleared", "clear failed", "could not tell"};
    require(inPass && line.starts_with("Pass: " + std::string(names[static_cast<int>(found)])));
    inPass = false, last = found;
    if (verified(found)) saidTrying = false;
    if (forPowerSource || catchingUp) answers.clear(), saidKeeps = false;
    if (forPowerSource || catchingUp || found == PassOutcome::NothingToClear) return;
    if (!answers.empty() && nowMs - answers.back() >= kQuiet) answers.clear(), saidKeeps = false;
    if (answers.empty() || nowMs - answers.front() < kMinute) {
      require(answers.size() < 6);
    } else if (answers.back() - answers.front() >= kMinute || saidKeeps) {
      require(nowMs - answers.back() >= kFiveMinutes);
    }
    answers.push_back(nowMs);
  }
  void logged(std::string_view line) {
    if (line == kIntent) {
      require(inPass && battery && on);
    } else if (line == kCleared) {
      require(inPass && !on);
    } else if (line == kFailed) {
      require(lastLine == kIntent);
    } else if (line == kLid) {
      require(inPass && lid && lastLine == kCleared);
    } else if (line == kTrying) {
      require(!inPass && !saidTrying && !verified(last));
    } else if (line == kKeeps) {
      require(!inPass && !saidKeeps && last == PassOutcome::Cleared);
    } else {
      require(line == kStarted && passes == 1);
    }
    saidTrying = saidTrying || line == kTrying;
    saidKeeps = saidKeeps || line == kKeeps;
    lastLine = line;
  }
  // What holds between events.
  void check() const {
    require(verified(last) || saidTrying);
    require((held || !verified(last) || catchUpMs >= 0) == (timerMs >= 0));
    if (held || !verified(last) || (battery && on)) {
      require(timerMs >= 0 && timerMs - nowMs <= kFiveMinutes);
    }
    if (catchUpMs >= 0) require(timerMs <= catchUpMs);
  }
};

Machine modelOf(Mac& mac) {
  return {
      [&] { return mac.nowMs; },
      [&](bool afterLostNotices) -> std::optional<std::string> {
        mac.passStarts(afterLostNotices);
        if (mac.faults & NoReading) return mac.found = PassOutcome::CouldNotTell, std::nullopt;
        // After lost notices, only what powerd itself says can be trusted.
        return mac.battery && (afterLostNotices || !mac.stale) ? "Battery Power" : "AC Power";
      },
      [&] {
        mac.startsProcess();
        if (mac.faults & QueryFails) return mac.found = PassOutcome::CouldNotTell, Setting::Unknown;
        if (mac.on) mac.found = PassOutcome::ClearFailed;
        return mac.on ? Setting::On : mac.stored ? Setting::Off : Setting::NeverSet;
      },
      [&] {
        mac.startsProcess();
        if (mac.faults & ClearFails) return false;
        mac.on = false, mac.stored = true, ++mac.notices;  // its echo
        if (mac.faults & OnBeforeCheck) mac.on = true, ++mac.notices;
        const bool cleared = !mac.on && !(mac.faults & CheckFails);
        if (cleared) mac.found = PassOutcome::Cleared;
        return cleared;
      },
      [&] { return mac.lid; },
      [&] { return mac.startsProcess(), true; },
      [&](long delayMs) { require(delayMs >= 0), mac.timerMs = mac.nowMs + delayMs; },
      [&] { mac.timerMs = -1; },
      [&](std::string_view line) { mac.logged(line); },
      [&](std::string_view line) { mac.logged(line); },
      [&](std::string_view line) {
        if (line.starts_with("Pass: ")) mac.passEnded(line);
      },
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Mac mac;
  mac.battery = in.ConsumeBool(), mac.on = mac.stored = in.ConsumeBool();
  Service service(modelOf(mac));
  // Each call into the service, then the settings notices that were posted meanwhile, each
  // delivered in turn, then the checks.
  const auto call = [&](auto event, bool forPowerSource = false, bool inTimer = false) {
    const int passes = mac.passes;
    mac.forPowerSource = forPowerSource, mac.inTimer = inTimer;
    event();
    if (forPowerSource) require(mac.passes > passes);
    mac.forPowerSource = mac.inTimer = false;
    while (mac.notices > 0) {
      --mac.notices;
      const int before = mac.passes;
      service.settingsChanged();
      mac.held = mac.held || mac.passes == before;
    }
    mac.check();
  };
  const auto wait = [&](long long ms) {
    const long long untilMs = mac.nowMs + ms;
    while (mac.timerMs >= 0 && mac.timerMs <= untilMs) {
      mac.nowMs = std::max(mac.nowMs, mac.timerMs + mac.lateMs);
      mac.timerMs = -1;
      call([&] { service.timerRanOut(); }, false, true);
    }
    mac.nowMs = std::max(mac.nowMs, untilMs);
  };
  // A change whose notice is lost: notifyd restarted, and is back with its state lost.
  const auto lost = [&] {
    mac.stale = true, mac.catchUpMs = mac.nowMs + kWholeAfterMs, mac.notices = 0;
    call([&] { service.noticesLost(kWholeAfterMs); });
  };
  const Watches watched{true, true};
  call([&] { require(service.start(&watched)); }, true);
  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
      case 0: {
        const int pace = in.ConsumeIntegral<std::uint8_t>();
        wait(static_cast<long long>(1 + (pace & 15)) << (pace >> 4));
        break;
      }
      case 1:
        mac.battery = !mac.battery;
        if (in.ConsumeBool())
          lost();
        else
          call([&] { service.powerSourceChanged(); }, true);
        break;
      case 2:  // a program switches the setting on, or off
        mac.on = in.ConsumeBool(), mac.stored = true, ++mac.notices;
        if (in.ConsumeBool())
          lost();
        else
          call([] {});
        break;
      case 3:
        mac.faults = in.ConsumeIntegral<std::uint8_t>() & 31;
        break;
      case 4:
        mac.lid = in.ConsumeBool();
        break;
      case 5:
        mac.lateMs = in.ConsumeIntegralInRange(0, 3000);
        break;
      case 6:
        lost();
        break;
    }
  }
  wait(3 * kQuiet);
  return 0;
}
