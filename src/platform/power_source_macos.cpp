// macOS backend of the power-source seam: IOKit's power-source snapshot.
//
// The snapshot is powerd's own answer, over its MIG call (IOKitUser, ps.subproj/IOPowerSources.c:
// IOPSCopyPowerSourcesByType; PowerManagement, pmconfigd/BatteryTimeRemaining.m:
// _io_ps_copy_powersources_info). The providing type is not read from it: it is read from
// notifyd's state for kIOPSTimeRemainingNotificationKey, which powerd set, and is "AC Power" when
// that state is 0, as it is after notifyd restarted until powerd's registration is regenerated
// (IOPowerSources.c: IOPSGetProvidingPowerSourceType, IOPSGetSupportedPowerSources).
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPSKeys.h>
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

// `value` when it is a CFString, else null; borrowed.
CFStringRef asString(CFTypeRef value) {
  return value && CFGetTypeID(value) == CFStringGetTypeID() ? static_cast<CFStringRef>(value)
                                                            : nullptr;
}

// The internal battery's "Power Source State" in `snapshot`: "Battery Power" exactly when powerd
// itself says the Mac runs from it, as powerd decides the providing type from the same
// description (BatteryTimeRemaining.m: getActivePSType_sync). Nothing when the snapshot lists no
// internal battery.
std::optional<std::string> internalBatteryState(CFTypeRef snapshot) {
  const CFHolder sources(IOPSCopyPowerSourcesList(snapshot));
  if (!sources) return std::nullopt;
  const CFArrayRef list = static_cast<CFArrayRef>(sources.get());
  for (CFIndex i = 0; i < CFArrayGetCount(list); ++i) {
    // Borrowed from the snapshot (a Get call), as is everything in it.
    const CFDictionaryRef source =
        IOPSGetPowerSourceDescription(snapshot, CFArrayGetValueAtIndex(list, i));
    if (!source || CFGetTypeID(source) != CFDictionaryGetTypeID()) continue;
    const CFStringRef type = asString(CFDictionaryGetValue(source, CFSTR(kIOPSTypeKey)));
    const CFStringRef state =
        asString(CFDictionaryGetValue(source, CFSTR(kIOPSPowerSourceStateKey)));
    if (type && state && CFEqual(type, CFSTR(kIOPSInternalBatteryType))) return utf8(state);
  }
  return std::nullopt;
}

}  // namespace

// After lost notices, the internal battery's own state decides, since notifyd's may still be 0.
// A snapshot that lists no internal battery is from a Mac without one, which powerd never says
// runs from a battery (getActivePSType_sync): there the type is read as at any other time.
std::optional<std::string> providingPowerSourceType(bool afterLostNotices) {
  const CFHolder snapshot(IOPSCopyPowerSourcesInfo());
  if (!snapshot) return std::nullopt;
  if (afterLostNotices) {
    if (std::optional<std::string> state = internalBatteryState(snapshot.get())) return state;
  }
  // Borrowed from the snapshot (a Get call): copied out at once, never released.
  const CFStringRef type = IOPSGetProvidingPowerSourceType(snapshot.get());
  if (!type) return std::nullopt;
  return utf8(type);
}

}  // namespace halvorsten
