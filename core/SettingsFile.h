// The INI files the program reads at start and writes back (config.ini,
// devices.ini) looked at before the settings class opens them: that class
// reads the whole file when it opens it, so a named pipe would hold the
// program until something writes into it, a device would never end, and a
// huge file would be read whole into memory.
#pragma once

#include <cstdint>
#include <string>

// Larger than any settings file written by hand or by the program.
constexpr uint64_t kMaxSettingsFileBytes = 1 << 20;

// "" when `path` can be given to the settings class: absent (the defaults;
// written afresh when saved) or a regular file of at most
// kMaxSettingsFileBytes that opens for reading. Otherwise what is wrong, e.g.
// "is not a regular file", "is too large (12582912 bytes)", "cannot be read
// (Permission denied)". Never waits: the file is opened without blocking.
std::string settingsFileProblem(const std::string& path);
