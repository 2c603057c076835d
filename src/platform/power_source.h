// The seam to the platform's power-source information. One implementation per platform:
// power_source_macos.cpp (IOKit) and power_source_linux.cpp (sysfs), chosen by the build.
#pragma once

#include <optional>
#include <string>

namespace halvorsten {

// The type of the power source the machine draws from now: exactly "Battery Power" when it
// runs from its battery, another text ("AC Power", "UPS Power") when it does not, nothing when
// the platform cannot tell. Cheap: no child process, nothing logged. `afterLostNotices` asks
// for a reading that does not lean on the platform's notification server, which may not have
// its state back yet after notices were lost; each backend says how it reads it then.
std::optional<std::string> providingPowerSourceType(bool afterLostNotices);

}  // namespace halvorsten
