// The Linux readings of the power source and the lid, from folders laid out as the kernel lays
// them out: one folder per device, of one-line attribute files. The backends read the kernel's
// folders; the folder is a parameter so that a made-up one can stand in for it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace halvorsten {

// "Battery Power" exactly when at least one system battery (type "Battery", scope not
// "Device") reports status "Discharging" and no supply of type "Mains", "USB" or "Wireless"
// reports a non-zero "online"; "AC Power" otherwise, also when there are no supplies at all;
// nothing when the folder cannot be read. Entries that cannot be read are skipped.
std::optional<std::string> providingPowerSourceTypeIn(const char* folder);

// Whether a lid under `folder` (as /proc/acpi/button/lid) reports "state:" and then "closed".
// A missing folder, an open lid or any other text gives false.
bool lidClosedIn(const char* folder);

// What each power supply (by its device path) said last of the two properties that decide the
// power source, its online state and its status.
using SupplyMemory = std::map<std::string, std::string, std::less<>>;

// Whether a kernel uevent may change the power source the machine draws from, remembering in
// `supplies` what it said. A uevent is "action@devpath" and then NUL-terminated KEY=VALUE fields;
// for a power supply the kernel sends every property it has at each change (power_supply_uevent),
// so a battery's level tick repeats its POWER_SUPPLY_STATUS and an adapter's POWER_SUPPLY_ONLINE
// unchanged. Only a change of one of those two, an added or removed supply, or the first word
// from a supply counts; nothing that is not a power supply's. Without `supplies`, every power
// supply's uevent counts.
bool mayChangePowerSource(std::string_view event, SupplyMemory* supplies);

// poll's timeout for the loop's timer, due at `dueMs` (negative while it is not armed) when it
// is `nowMs`: no limit (-1) while it is not armed, 0 once it is due or overdue, otherwise the
// milliseconds left, at most what poll can take.
int pollTimeoutMs(long long dueMs, long long nowMs);

// Calls `visit` with a descriptor of each device folder in `folder` (hidden entries and those
// that cannot be opened are skipped); false when `folder` itself cannot be read.
bool forEachDevice(const char* folder, const std::function<void(int device)>& visit);

// One attribute file of a device folder, without its trailing line feed and blanks; nothing
// when it cannot be read.
std::optional<std::string> attribute(int device, const char* name);

}  // namespace halvorsten
