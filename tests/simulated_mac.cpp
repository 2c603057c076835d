#include "simulated_mac.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace halvorsten::test {
namespace {

const std::string kRoot = HALVORSTEN_SIMULATED_ROOT;

bool writeProcFile(const char* path, const std::string& content) {
  std::ofstream out(path);
  out << content;
  out.flush();
  return static_cast<bool>(out);
}

// The service's netlink socket, as /proc/PID/net/netlink lists it: protocol 15 (uevents) and a
// multicast group. Returns its queued bytes, or -1 when there is none.
long queuedEventBytes(pid_t pid) {
  std::ifstream table("/proc/" + std::to_string(pid) + "/net/netlink");
  std::string line;
  std::getline(table, line);  // header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string sk, groups;
    int protocol;
    long port, rmem;
    fields >> sk >> protocol >> port >> groups >> rmem;
    if (protocol == NETLINK_KOBJECT_UEVENT && groups != "00000000") return rmem;
  }
  return -1;
}

bool hasChildren(pid_t pid) {
  const std::string id = std::to_string(pid);
  return !readFile("/proc/" + id + "/task/" + id + "/children").empty();
}

}  // namespace

bool enterPrivateNamespaces(std::string& why) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) {
      why = std::string("neither network and mount namespaces nor a user namespace can be made: ") +
            std::strerror(errno);
      return false;
    }
    if (!writeProcFile("/proc/self/setgroups", "deny") ||
        !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      why = "the user namespace's identity maps cannot be written";
      return false;
    }
  }
  // Mounts made from here on stay in this namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    why = std::string("mounts cannot be made private: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool blockedInPoll(pid_t pid) {
  std::ifstream syscallFile("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  syscallFile >> number;
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

void sendUevent(std::string_view subsystem) {
  static unsigned sequence = 0;
  const std::string device = "/devices/simulated/" + std::string(subsystem) + "/AC";
  std::string event = "change@" + device;
  for (const std::string& field :
       {std::string("ACTION=change"), "DEVPATH=" + device, "SUBSYSTEM=" + std::string(subsystem),
        "SEQNUM=" + std::to_string(++sequence)}) {
    event += '\0' + field;
  }
  event += '\0';
  const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  sockaddr_nl group{};
  group.nl_family = AF_NETLINK;
  group.nl_groups = 1;
  ::sendto(fd, event.data(), event.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group);
  ::close(fd);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The simulated Mac's folder, emptied.
std::string freshRoot() {
  std::filesystem::remove_all(kRoot);
  std::filesystem::create_directories(kRoot);
  return kRoot;
}

SimulatedMac::SimulatedMac() : root_(freshRoot()), pmset_(root_, statefulPmset(), "0\n") {
  // The class folder holds symbolic links to device folders, as the kernel lays it out.
  std::filesystem::create_directories(logFolder());
  const std::string devices = root_ + "/devices", supplies = powerSupplyFolder();
  for (const char* name : {"AC", "BAT0"}) std::filesystem::create_directories(devices + "/" + name);
  std::filesystem::create_directories(supplies);
  writeFile(devices + "/AC/type", "Mains\n");
  writeFile(devices + "/BAT0/type", "Battery\n");
  for (const char* name : {"AC", "BAT0"}) {
    std::filesystem::create_directory_symlink(devices + "/" + name, supplies + "/" + name);
  }
  setOnBattery(false);
}

SimulatedMac::~SimulatedMac() {
  if (pid_ > 0) stop();
}

void SimulatedMac::setOnBattery(bool onBattery) const {
  writeFile(root_ + "/devices/AC/online", onBattery ? "0\n" : "1\n");
  writeFile(root_ + "/devices/BAT0/status", onBattery ? "Discharging\n" : "Charging\n");
}

void SimulatedMac::unplug() const {
  setOnBattery(true);
  sendUevent("power_supply");
}

void SimulatedMac::plugIn() const {
  setOnBattery(false);
  sendUevent("power_supply");
}

void SimulatedMac::replacePmset(std::string_view body) {
  pmset_ = FakeTool(root_, body, pmset_.state());
}

void SimulatedMac::start(const Launch& launch) {
  std::vector<std::string> environment(launch.environment);
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> command(launch.wrapper);
  command.emplace_back(HALVORSTEN_SIMULATED_SERVICE);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Whatever this test process inherited stays out of the service.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const std::string output = root_ + "/service.out";
  if (launch.closeStandard) {
    for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addclose(&actions, fd);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  if (launch.inheritedDescriptor) {
    posix_spawn_file_actions_addopen(&actions, 9, "/dev/null", O_RDONLY, 0);
  }
  if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

bool SimulatedMac::waitStarted() {
  return waitFor([&] {
           const std::vector<std::string> lines = log();
           return !lines.empty() &&
                  lines.back() ==
                      "Halvorsten started; watching power source (event-driven, no polling).";
         }) &&
         waitIdle();
}

int SimulatedMac::stop() {
  ::kill(pid_, SIGTERM);
  return waitExit();
}

int SimulatedMac::waitExit() {
  int status = -1;
  while (::waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
  }
  pid_ = -1;
  return status;
}

bool SimulatedMac::waitIdle() const {
  return waitFor(
      [&] { return queuedEventBytes(pid_) == 0 && blockedInPoll(pid_) && !hasChildren(pid_); });
}

std::vector<std::string> SimulatedMac::log() const { return logMessages(logPath()); }

std::string SimulatedMac::logPath() const { return logFolder() + "/Quorvani-Halvorsten.log"; }

std::string SimulatedMac::logFolder() const { return root_ + "/Logs"; }

std::string SimulatedMac::powerSupplyFolder() const { return root_ + "/power_supply"; }

std::string SimulatedMac::output() const { return readFile(root_ + "/service.out"); }

}  // namespace halvorsten::test
