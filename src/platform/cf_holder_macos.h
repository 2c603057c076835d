// CoreFoundation ownership for the macOS backends: what a Create or Copy call returned is held
// and released exactly once; what a Get call returned is borrowed and never held here.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace halvorsten {

struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};
using CFHolder = std::unique_ptr<std::remove_pointer_t<CFTypeRef>, CFReleaser>;

}  // namespace halvorsten
