// Switching the computer off at the end of an unattended run: systemd-logind's
// PowerOff over the system bus, else `systemctl poweroff`.
#pragma once

#include <string>

// Asks the system to power off. False with a message (in the interface's
// language, naming what refused) when neither way was allowed or possible.
// User-interface thread; returns within about 30 seconds.
bool SystemPowerOff(std::string &error);
