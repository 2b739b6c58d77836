// Reading and writing the persistent settings without any GUI: the INI file (section
// "PARAMS", Windows private-profile semantics) and the 768-byte option file record. The
// program and the batch converter use these same functions, so both read settings alike.
#pragma once

#include "core/DisplaySettings.h"
#include "core/Song.h"

#include <cstdint>
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

class IniFile;

// The INI section that holds every setting.
constexpr const char* INI_SECTION = "PARAMS";
// The INI file's own name; the program keeps it in its settings folder.
constexpr const char* INI_FILE_NAME = "MORVEL.INI";
// Longest texts kept: the MIDI directory and the tuning name.
constexpr size_t MIDI_FILE_DIR_LIMIT = 299;
constexpr size_t TUNING_NAME_LIMIT = 199;

// Reads every key of section "PARAMS" of `ini` into `out`, in the order of the key table,
// each missing or non-integer key as its default. Values are stored in the width of their
// home and then kept usable: measures per page 1..6, printed measures across and down 1..10,
// the MIDI directory cut at 299 characters and the tuning name at 199.
void ApplyIniSettings(const IniFile& ini, StoredSettings& out);

// Writes every key into section "PARAMS" of `ini` in the order the program saves them:
// numbers as signed decimals (colours unsigned), then "TUNING" and "MIDIFILEDIR", then colours.
void StoreIniSettings(IniFile& ini, const StoredSettings& in);

// Brings settings from anywhere (a file, the dialog) into the ranges the view and the print
// layout can use, and cuts the texts to their limits.
void ClampStoredSettings(StoredSettings& s);

// Writes the option file at `path` (created or truncated). False with `error` naming the file
// when it cannot be created or written.
bool WriteOptionFile(const std::string& path, const StoredSettings& in, std::string& error);

} // namespace morvel
