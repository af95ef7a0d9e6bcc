#pragma once
// The stored groups of --history-file: one value with its unit per line,
// encoded as the meter stores it.
#include <string>
#include <vector>

#include "reading_groups.h"

namespace metersim {

// One value as the meter would store it: "12.34mA", "0.5 A", "OL" (overload)
// or "invalid" (an invalid reading code); units in any case. An AC code is
// chosen whose count value holds the number exactly, the finest that fits;
// milliamperes too large for the mA codes go to the ampere codes. False,
// with the reason in `why`, when no group can hold the value.
bool encodeStoredValue(const std::string &text, Group &group, std::string &why);

// Reads the file: blank lines and lines starting with # are skipped. At most
// 255 groups (the count reply holds one byte). False, with a message naming
// the file and the line, on a fault.
bool readHistoryFile(const std::string &path, std::vector<Group> &groups, std::string &error);

}  // namespace metersim
