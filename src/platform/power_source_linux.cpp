// Linux backend of the power-source seam: the kernel's power_supply class. Each entry is a
// symbolic link to a device folder holding one-line attribute files ("type", "status", ...).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/fd.h"
#include "platform/power_source.h"
#include "platform/readings_linux.h"

// The kernel's power_supply class folder; a test build points it elsewhere at compile time.
#ifndef HALVORSTEN_POWER_SUPPLY
#define HALVORSTEN_POWER_SUPPLY "/sys/class/power_supply"
#endif

namespace halvorsten {

bool forEachDevice(const char* folder, const std::function<void(int device)>& visit) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder), ::closedir);
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    const Fd device(retryOnEintr([&] {
      return ::openat(::dirfd(dir.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }));
    if (device) visit(device.get());
  }
  return true;
}

// Attributes are a line of text; anything longer than the buffer is not one of ours.
std::optional<std::string> attribute(int device, const char* name) {
  const Fd fd(retryOnEintr([&] { return ::openat(device, name, O_RDONLY | O_CLOEXEC); }));
  if (!fd) return std::nullopt;
  char buffer[128];
  const ssize_t n = retryOnEintr([&] { return ::read(fd.get(), buffer, sizeof buffer); });
  if (n < 0) return std::nullopt;
  std::string_view text(buffer, static_cast<std::size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return std::string(text);
}

std::optional<std::string> providingPowerSourceTypeIn(const char* folder) {
  bool discharging = false, externalOnline = false;
  const bool read = forEachDevice(folder, [&](int supply) {
    const std::optional<std::string> type = attribute(supply, "type");
    if (type == "Battery") {
      // A mouse's or a headset's battery says scope "Device"; only the machine's own counts.
      discharging = discharging || (attribute(supply, "scope") != "Device" &&
                                    attribute(supply, "status") == "Discharging");
    } else if (type == "Mains" || type == "USB" || type == "Wireless") {
      // 1 is online; programmable USB supplies also say 2.
      const std::optional<std::string> online = attribute(supply, "online");
      externalOnline = externalOnline || (online && std::strtol(online->c_str(), nullptr, 10) != 0);
    }
  });
  if (!read) return std::nullopt;
  return std::string(discharging && !externalOnline ? "Battery Power" : "AC Power");
}

// sysfs is the kernel's own state, read afresh at every pass: it is the same after lost notices.
std::optional<std::string> providingPowerSourceType(bool) {
  return providingPowerSourceTypeIn(HALVORSTEN_POWER_SUPPLY);
}

}  // namespace halvorsten
