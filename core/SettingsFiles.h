// Reading and writing the persistent settings without any GUI: the INI file (section
// "PARAMS", Windows private-profile semantics) and the 768-byte option file record. The
// program and the batch converter use these same functions, so both read settings alike.
#pragma once

#include "core/DisplaySettings.h"
#include "core/Song.h"

#include <string>

namespace morvel {

struct StoredSettings {
    ConversionSettings Conv;
    Tuning TuningSettings;
    DisplaySettings Display;
};

// Reads every key of section "PARAMS" of the INI file at `path` into `out`; a missing key or
// a value that is no integer reads as the key's default. A missing file gives all defaults
// and true; an unreadable one gives false with `error` naming the file.
bool ReadIniSettings(const std::string& path, StoredSettings& out, std::string& error);

// Reads an option file into `out` (colours and MidiFileDir untouched). False with `error`
// when the file cannot be opened.
bool ReadOptionFile(const std::string& path, StoredSettings& out, std::string& error);

} // namespace morvel
