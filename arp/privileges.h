#pragma once

#include <string>

// Gives up every capability for good, and with it any way to gain one again by exec:
// false with `why` when the kernel refuses.
bool dropPrivileges(std::string *why);
