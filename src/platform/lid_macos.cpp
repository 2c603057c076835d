// macOS backend of the lid seam: the power manager's own verdict on a closed lid, which the
// kernel's root power domain publishes in the I/O Registry and updates on every lid event and
// change of power adapter. "AppleClamshellState" says the lid is closed;
// "AppleClamshellCausesSleep" says a closed lid should sleep the machine now (it is false in
// clamshell mode on the adapter, or while the system has lid sleep disabled). A desktop Mac
// has neither.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include "platform/cf_holder_macos.h"
#include "platform/lid.h"

namespace halvorsten {
namespace {

// Whether the entry's property `key` is a CFBoolean that is true.
bool isTrue(io_registry_entry_t entry, CFStringRef key) {
  const CFHolder value(IORegistryEntryCreateCFProperty(entry, key, kCFAllocatorDefault, 0));
  return value && CFGetTypeID(value.get()) == CFBooleanGetTypeID() &&
         CFBooleanGetValue(static_cast<CFBooleanRef>(value.get()));
}

}  // namespace

bool closedLidShouldSleep() {
  // IOServiceGetMatchingService consumes the matching dictionary: it is never released here.
  const io_service_t rootDomain =
      IOServiceGetMatchingService(kIOMainPortDefault, IOServiceMatching("IOPMrootDomain"));
  if (rootDomain == IO_OBJECT_NULL) return false;
  // The keys as IOPM.h names them (kAppleClamshellStateKey, kAppleClamshellCausesSleepKey).
  const bool yes = isTrue(rootDomain, CFSTR("AppleClamshellState")) &&
                   isTrue(rootDomain, CFSTR("AppleClamshellCausesSleep"));
  IOObjectRelease(rootDomain);
  return yes;
}

}  // namespace halvorsten
