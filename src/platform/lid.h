// The seam to the machine's lid. One implementation per platform: lid_macos.cpp (the power
// manager's registry properties) and lid_linux.cpp (the ACPI lid button).
#pragma once

namespace halvorsten {

// True only when the platform says for certain that the lid is closed and that a closed lid
// should put the machine to sleep now. An open lid, a machine without one, or anything the
// platform cannot tell gives false. Cheap: no child process, nothing logged.
bool closedLidShouldSleep();

}  // namespace halvorsten
