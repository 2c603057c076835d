// The commands around pmset. Each runs the tool with posix_spawn at its absolute path with
// an exact argument list (no shell, no search path), in a process group of its own, watches it
// for at most ten seconds and a mebibyte of output, and releases every descriptor and reaps the
// child on every path.
#include "settings/sleep_setting.h"

#include <signal.h>
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
#include "settings/unicode.h"

extern char** environ;  // POSIX leaves its declaration to the program

// How long a run of the tool may take, in time the machine is awake; a test build shortens it.
#ifndef HALVORSTEN_PMSET_DEADLINE_MS
#define HALVORSTEN_PMSET_DEADLINE_MS 10000
#endif

namespace halvorsten {
namespace {

constexpr char kNullDevice[] = "/dev/null";
// pmset's report is a few hundred bytes: a run that writes more than this is not answering.
constexpr std::size_t kOutputCapBytes = 1024 * 1024;
constexpr int kDeadlineMs = HALVORSTEN_PMSET_DEADLINE_MS;

// The line logged for the last run that went wrong since one went well, if any: a tool that
// keeps failing the same way is worth one line, not one a pass; one that starts failing in
// another way is worth another.
std::string failureLogged;

void logFailureOnce(const std::string& line) {
  if (line != failureLogged) logFailure(line);
  failureLogged = line;
}

// How one run of the tool went.
struct ToolRun {
  int launchError = 0;              // errno value when the tool could not be started
  ChildEnd end = ChildEnd::Failed;  // how watching it went, when it started
  int waitStatus = 0;               // as waitpid reports it

  // Started, its output read whole and its end seen, within the limits.
  bool finished() const { return launchError == 0 && end == ChildEnd::Ended; }
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

// Runs `tool` with `args` (argv[0] is the tool's path itself) and waits for it to end. Standard
// input, environment and working directory are the service's; standard error goes to the null
// device; standard output is read into `output`, or goes to the null device when `output` is
// null. Nothing else of the service reaches the child: every descriptor it opens is
// close-on-exec, and any it inherited is closed in the child. A run past its deadline or its
// output cap is stopped with whatever it started, and the reason logged, once until a run
// goes well; so is a tool that cannot start, when its output was asked for (the commands that
// change something say so themselves).
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
  // Its own process group: whatever it starts can be stopped with it.
  if (const int e = posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETPGROUP)) return {e};
  if (const int e = posix_spawnattr_setpgroup(setup.attributes(), 0)) return {e};
  if (const int e = keepOnlyStandardDescriptors(setup.attributes(), setup.actions())) return {e};

  pid_t pid;
  const int spawnError =
      posix_spawn(&pid, tool, setup.actions(), setup.attributes(), argv.data(), environ);
  // The child holds its own copy of the write end now; ours must go before reading, or the
  // read would never see end of file.
  writeEnd.reset();
  ToolRun run{spawnError};
  if (spawnError != 0) {
    if (output) logFailureOnce("pmset launch failed: " + std::string(std::strerror(spawnError)));
    return run;
  }
  run.end = watchChild(pid, readEnd.get(), output, kOutputCapBytes, kDeadlineMs);
  readEnd.reset();
  // Unreaped, the child keeps its process ID and group, so nothing else can be hit here. A
  // child that exited but left something holding its output is stopped the same way.
  if (run.end != ChildEnd::Ended) ::kill(-pid, SIGKILL);
  if (retryOnEintr([&] { return ::waitpid(pid, &run.waitStatus, 0); }) != pid)
    run.end = ChildEnd::Failed;
  if (run.end == ChildEnd::TimedOut || run.end == ChildEnd::WroteTooMuch) {
    std::string command = "pmset";
    for (const char* arg : args) command.append(" ").append(arg);
    logFailureOnce(command + (run.end == ChildEnd::TimedOut
                                  ? " did not end within 10 seconds — stopped it."
                                  : " wrote more than 1 MiB — stopped it."));
  }
  // A query has gone well only once its report has been read, below.
  if (run.finished() && !output) failureLogged.clear();
  return run;
}

bool exitedCleanly(const ToolRun& run) {
  return run.finished() && WIFEXITED(run.waitStatus) && WEXITSTATUS(run.waitStatus) == 0;
}

// How a run that was watched to its end ended, when that was not with status 0.
std::string badEnd(const ToolRun& run) {
  if (WIFEXITED(run.waitStatus))
    return "exited with status " + std::to_string(WEXITSTATUS(run.waitStatus));
  return "was ended by signal " + std::to_string(WTERMSIG(run.waitStatus));
}

// Runs `tool` with `args`, its output discarded. Logs why when it could not be started.
ToolRun runQuietly(const char* tool, std::initializer_list<const char*> args) {
  const ToolRun run = runTool(tool, args, nullptr);
  if (run.launchError != 0)
    logFailure(std::string("pmset launch failed: ") + std::strerror(run.launchError));
  return run;
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

Setting sleepDisabled(const char* tool) {
  std::string report;
  const ToolRun run = runTool(tool, {"-g"}, &report);
  if (!run.finished()) return Setting::Unknown;
  const std::optional<bool> on = sleepDisabledFromReport(report);
  if (on != true) {
    if (!unicode::validUtf8(report)) {
      logFailureOnce("pmset -g answered with a report that is not UTF-8.");
      return Setting::Unknown;
    }
    // pmset -g exits 0 once it has printed the report (PowerManagement, pmset/pmset.m:
    // parseArgs ends a getter with kParseSuccess, then main returns 0); any other end may have
    // cut the report short, the setting's line with it.
    if (!exitedCleanly(run)) {
      logFailureOnce("pmset -g " + badEnd(run) + ".");
      return Setting::Unknown;
    }
  }
  failureLogged.clear();
  // No line for the setting is no failure: pmset prints it only once it was ever stored.
  return on == true ? Setting::On : on == false ? Setting::Off : Setting::NeverSet;
}

bool clearDisableSleep(const char* tool) {
  // pmset exits 0 also when it could not make the change ("must be run as root", "failed to
  // set the value."), so only the setting itself tells whether it is off now.
  if (!exitedCleanly(runQuietly(tool, {"-a", "disablesleep", "0"}))) return false;
  const Setting now = sleepDisabled(tool);
  return now == Setting::Off || now == Setting::NeverSet;
}

bool requestSleep(const char* tool) {
  // The clear only stores the setting; the power manager applies it to the kernel a moment
  // later, and until then the kernel refuses to sleep (xnu, IOPMrootDomain.cpp:
  // privateSleepSystem, checkSystemSleepEnabled) and pmset exits 71. So a refusal is asked
  // again after a pause; a tool that cannot start, or was stopped, is not.
  for (std::size_t refused = 0;; ++refused) {
    const ToolRun run = runQuietly(tool, {"sleepnow"});
    if (exitedCleanly(run)) return true;
    if (!run.finished() || refused == std::size(kSleepRetryPausesMs)) return false;
    pause(kSleepRetryPausesMs[refused]);
  }
}

}  // namespace halvorsten
