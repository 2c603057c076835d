// A Mac made of files, for running the real service on Linux: a stand-in pmset that keeps the
// setting, a power_supply folder with an adapter and a battery, kernel-style uevents sent over
// netlink, and the log, all in the folder that the simulated build of the service was
// compiled to use. The end-to-end tests and the demo both run on it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support.h"

namespace halvorsten::test {

// Moves this process into network and mount namespaces of its own (as root, or else inside a
// user namespace), so that the uevents it sends reach only the services it starts and the
// mounts it makes are seen by nobody else. On failure, says why in `why`.
bool enterPrivateNamespaces(std::string& why);

// Whether the process sleeps in poll, as the service does between events.
bool blockedInPoll(pid_t pid);

// Sends one kernel-style uevent ("change" of a device of `subsystem`) to the kernel's
// multicast group.
void sendUevent(std::string_view subsystem);

class SimulatedMac {
 public:
  // A fresh simulated Mac: on mains power, sleep prevention off, no log, no service running.
  SimulatedMac();
  ~SimulatedMac();  // stops the service if it still runs
  SimulatedMac(const SimulatedMac&) = delete;
  SimulatedMac& operator=(const SimulatedMac&) = delete;

  // Moves the adapter's and battery's state; sends no event.
  void setOnBattery(bool onBattery) const;
  // The adapter pulled or put back: the state, then one power_supply uevent.
  void unplug() const;
  void plugIn() const;

  void setSleepPrevention(bool on) const { pmset_.setState(on ? "1\n" : "0\n"); }
  bool sleepPrevention() const { return pmset_.state() == "1\n"; }
  const FakeTool& pmset() const { return pmset_; }
  // Gives the stand-in pmset another body (see FakeTool); the setting stays as it is.
  void replacePmset(std::string_view body);

  // How the service is started: by default with standard input on the null device, its
  // standard output and error captured, and no other descriptor.
  struct Launch {
    std::vector<std::string> environment;  // "NAME=value" entries added to the test's own
    std::vector<std::string> wrapper;      // a command to run the service under, e.g. valgrind
    bool closeStandard = false;            // descriptors 0 to 2 closed instead
    bool inheritedDescriptor = false;      // also descriptor 9 open, not close-on-exec
  };
  void start(const Launch& launch);
  void start() { start(Launch{}); }
  // Waits for the started line, then until the service is idle. False on time-out.
  bool waitStarted();
  // Ends the service with SIGTERM; returns its wait status.
  int stop();
  // Waits for the service to end by itself; returns its wait status.
  int waitExit();
  pid_t pid() const { return pid_; }

  // Waits until the service has read every event sent and sleeps in its loop with no child,
  // that is, until everything sent so far has been fully handled. False on time-out.
  bool waitIdle() const;

  std::vector<std::string> log() const;  // the log's messages, timestamps taken off
  std::string logPath() const;
  std::string logFolder() const;
  std::string powerSupplyFolder() const;  // the class folder, as /sys/class/power_supply
  const std::string& root() const { return root_; }
  std::string output() const;  // what the service wrote to standard output and error

 private:
  std::string root_;
  FakeTool pmset_;
  pid_t pid_ = -1;
};

// Polls `condition` until it holds or `limit` passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace halvorsten::test
