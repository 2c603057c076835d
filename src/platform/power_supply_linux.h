// The Linux reading of the power source, from a power_supply class folder. The backend reads
// the kernel's folder; the folder is a parameter so that a made-up one can stand in for it.
#pragma once

#include <optional>
#include <string>

namespace halvorsten {

// "Battery Power" exactly when at least one system battery (type "Battery", scope not
// "Device") reports status "Discharging" and no supply of type "Mains", "USB" or "Wireless"
// reports a non-zero "online"; "AC Power" otherwise, also when there are no supplies at all;
// nothing when the folder cannot be read. Entries that cannot be read are skipped.
std::optional<std::string> providingPowerSourceTypeIn(const char* folder);

}  // namespace halvorsten
