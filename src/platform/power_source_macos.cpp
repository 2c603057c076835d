// macOS backend of the power-source seam: IOKit's power-source snapshot.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>

#include <string>

#include "platform/cf_holder_macos.h"
#include "platform/power_source.h"

namespace halvorsten {
namespace {

std::string utf8(CFStringRef text) {
  if (const char* direct = CFStringGetCStringPtr(text, kCFStringEncodingUTF8)) return direct;
  const CFIndex capacity =
      CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return {};
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

}  // namespace

std::optional<std::string> providingPowerSourceType() {
  const CFHolder snapshot(IOPSCopyPowerSourcesInfo());
  if (!snapshot) return std::nullopt;
  // Borrowed from the snapshot (a Get call): copied out at once, never released.
  const CFStringRef type = IOPSGetProvidingPowerSourceType(snapshot.get());
  if (!type) return std::nullopt;
  return utf8(type);
}

}  // namespace halvorsten
