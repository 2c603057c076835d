// The commands around pmset. Each runs the tool with posix_spawn at its absolute path with
// an exact argument list (no shell, no search path), waits for it, and releases every
// descriptor and reaps the child on every path.
#include "settings/sleep_setting.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "platform/fd.h"
#include "platform/spawn.h"

extern char** environ;  // POSIX leaves its declaration to the program

namespace halvorsten {
namespace {

constexpr char kNullDevice[] = "/dev/null";

// How one run of the tool went.
struct ToolRun {
  int launchError = 0;    // errno value when the tool could not be started
  bool finished = false;  // started, its output read whole and its end seen
  int waitStatus = 0;     // as waitpid reports it, when finished
};

// posix_spawn's file actions and attributes, destroyed with the holder.
class SpawnSetup {
 public:
  SpawnSetup() {
    actionsMade_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesMade_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsMade_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesMade_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ok() const { return actionsMade_ && attributesMade_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  bool actionsMade_, attributesMade_;
};

// Reads `fd` to end of file into `out`; false when a read fails.
bool readToEnd(int fd, std::string& out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = retryOnEintr([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n <= 0) return n == 0;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

// Runs `tool` with `args` (argv[0] is the tool's path itself) and waits for it to end. Standard
// input, environment and working directory are the service's; standard error goes to the null
// device; standard output is read whole into `output`, or goes to the null device when
// `output` is null. Nothing else of the service reaches the child: every descriptor it opens
// is close-on-exec, and any it inherited is closed in the child.
ToolRun runTool(const char* tool, std::initializer_list<const char*> args, std::string* output) {
  std::vector<char*> argv{const_cast<char*>(tool)};
  for (const char* arg : args) argv.push_back(const_cast<char*>(arg));
  argv.push_back(nullptr);

  Fd readEnd, writeEnd;
  if (output) {
    int fds[2];
    if (::pipe(fds) != 0) return {errno};
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    if (!setCloseOnExec(fds[0]) || !setCloseOnExec(fds[1])) return {errno};
  }
  SpawnSetup setup;
  if (!setup.ok()) return {ENOMEM};
  const int stdoutAction =
      output ? posix_spawn_file_actions_adddup2(setup.actions(), writeEnd.get(), STDOUT_FILENO)
             : posix_spawn_file_actions_addopen(setup.actions(), STDOUT_FILENO, kNullDevice,
                                                O_WRONLY, 0);
  if (stdoutAction != 0) return {stdoutAction};
  if (const int e = posix_spawn_file_actions_addopen(setup.actions(), STDERR_FILENO, kNullDevice,
                                                     O_WRONLY, 0)) {
    return {e};
  }
  if (const int e = keepOnlyStandardDescriptors(setup.attributes(), setup.actions())) return {e};

  pid_t pid;
  const int spawnError =
      posix_spawn(&pid, tool, setup.actions(), setup.attributes(), argv.data(), environ);
  // The child holds its own copy of the write end now; ours must go before reading, or the
  // read would never see end of file.
  writeEnd.reset();
  if (spawnError != 0) return {spawnError};

  const bool readWhole = !output || readToEnd(readEnd.get(), *output);
  // Closed before waiting, so that a child still writing after a failed read gets a broken
  // pipe instead of blocking the wait forever.
  readEnd.reset();
  int status = 0;
  const bool reaped = retryOnEintr([&] { return ::waitpid(pid, &status, 0); }) == pid;
  return {0, readWhole && reaped, status};
}

// Runs `tool` with `args`, its output discarded. Logs why when it could not be started.
ToolRun runQuietly(const char* tool, std::initializer_list<const char*> args) {
  const ToolRun run = runTool(tool, args, nullptr);
  if (run.launchError != 0)
    log(std::string("pmset launch failed: ") + std::strerror(run.launchError));
  return run;
}

bool exitedCleanly(const ToolRun& run) {
  return run.finished && WIFEXITED(run.waitStatus) && WEXITSTATUS(run.waitStatus) == 0;
}

// The pauses between refused requests to sleep: growing, and about two seconds in all, so that
// a pass that asks for sleep ends within about three.
constexpr long kSleepRetryPausesMs[] = {125, 250, 500, 1000};

void pause(long ms) {
  timespec left{ms / 1000, (ms % 1000) * 1000 * 1000};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

std::optional<bool> sleepDisabled(const char* tool) {
  std::string report;
  if (!runTool(tool, {"-g"}, &report).finished) return std::nullopt;
  return sleepDisabledFromReport(report);
}

bool clearDisableSleep(const char* tool) {
  // pmset exits 0 also when it could not make the change ("must be run as root", "failed to
  // set the value."), so only the setting itself tells whether it is off now.
  return exitedCleanly(runQuietly(tool, {"-a", "disablesleep", "0"})) &&
         sleepDisabled(tool) != true;
}

bool requestSleep(const char* tool) {
  // The clear only stores the setting; the power manager applies it to the kernel a moment
  // later, and until then the kernel refuses to sleep (xnu, IOPMrootDomain.cpp:
  // privateSleepSystem, checkSystemSleepEnabled) and pmset exits 71. So a refusal is asked
  // again after a pause; a tool that cannot start is not.
  for (std::size_t refused = 0;; ++refused) {
    const ToolRun run = runQuietly(tool, {"sleepnow"});
    if (exitedCleanly(run)) return true;
    if (run.launchError != 0 || refused == std::size(kSleepRetryPausesMs)) return false;
    pause(kSleepRetryPausesMs[refused]);
  }
}

}  // namespace halvorsten
