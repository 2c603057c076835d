// The cost of one log line beside a bare open, append and close of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "activitylog/activity_log.h"

namespace {

const std::string dir = [] {
  std::string path = "/tmp/halvorsten-log-bench.XXXXXX";
  if (!::mkdtemp(path.data())) std::abort();
  return path;
}();

void LogLine(benchmark::State& state) {
  halvorsten::logURL = dir + "/service.log";
  for (auto _ : state) halvorsten::log("disablesleep cleared.");
}
BENCHMARK(LogLine);

void BareAppend(benchmark::State& state) {
  const std::string path = dir + "/bare.log";
  const std::string line = halvorsten::logLine("disablesleep cleared.", std::time(nullptr));
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  }
}
BENCHMARK(BareAppend);

}  // namespace

BENCHMARK_MAIN();
