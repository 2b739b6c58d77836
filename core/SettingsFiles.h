// Reading and writing the persistent settings without any GUI: the INI file (section
// "PARAMS", Windows private-profile semantics) and the 768-byte option file record. The
// program and the batch converter use these same functions, so both read settings alike.
#pragma once

#include "core/SettingsTable.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace morvel {

// Reads every key of section "PARAMS" of the INI file at `path` into `out`; a missing key or
// a value that is no integer reads as the key's default. A missing file gives all defaults
// and true; an unreadable one gives false with `error` naming the file.
bool ReadIniSettings(const std::string& path, StoredSettings& out, std::string& error);

// Reads a settings file's bytes into `text` the way every reader of the program does: only a
// regular file, opened without waiting (a FIFO or a device is refused at once), and at most
// 4 MiB. A missing file gives true with `missing` set; anything else unreadable gives false
// with `error` naming the file and the reason.
bool ReadSettingsText(const std::string& path, std::string& text, bool& missing,
                      std::string& error);

// Writes `bytes` as the settings file `path` through the output module (OutputFile.h): a
// temporary file renamed into place, an existing file untouched on any failure. False with
// `error` ("\"PATH\": reason").
bool WriteSettingsFile(const std::string& path, std::string_view bytes, std::string& error);

// Reads an option file into `out` (colours and MidiFileDir untouched). False with `error`
// when the file cannot be opened.
bool ReadOptionFile(const std::string& path, StoredSettings& out, std::string& error);

class IniFile;

// The INI section that holds every setting.
constexpr const char* INI_SECTION = "PARAMS";
// The INI file's own name; the program keeps it in its settings folder.
constexpr const char* INI_FILE_NAME = "MORVEL.INI";
// Reads every key of the settings table from section "PARAMS" of `ini` into `out`, each
// missing or non-integer key as its default. Values are stored in the width of their home and
// then brought into the row's keep range (measures per page 1..6, printed measures across and
// down 1..10, ...); texts are cut to their limits.
void ApplyIniSettings(const IniFile& ini, StoredSettings& out);

// Writes every key of the settings table into section "PARAMS" of `ini`, in table order:
// numbers as decimals of their home's value (signed, colours unsigned), texts as they are.
void StoreIniSettings(IniFile& ini, const StoredSettings& in);

// Brings settings from anywhere (a file, the dialog) into the ranges of the settings table,
// and cuts the texts to their limits.
void ClampStoredSettings(StoredSettings& s);

// Writes the option file at `path` through WriteSettingsFile. False with `error` naming the
// file and the reason when it cannot be created or written.
bool WriteOptionFile(const std::string& path, const StoredSettings& in, std::string& error);

} // namespace morvel
