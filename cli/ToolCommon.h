// What both command-line tools (morvel-convert, morvel-export) do alike: their exit codes,
// their messages on standard error and reading the settings files named on the command line.
#pragma once

#include "cli/Options.h"
#include "core/ExitStatus.h"
#include "core/SettingsTable.h"

#include <string>
#include <vector>

namespace morvel::cli {

using morvel::EXIT_FAILED;
using morvel::EXIT_OK;
using morvel::EXIT_USAGE;

// Prints "FILE: text" on standard error, one such line for each line of `text` (split at the
// core's CR LF line ends), whole even when several threads print at once.
// Control bytes in the name and the text (C0, DEL, C1, raw or UTF-8 encoded) are shown escaped,
// so a file name holding a line feed or an escape sequence cannot split a line or reach the
// terminal.
void PrintMessage(const std::string& file, const std::string& text);

// Said after the messages of a file that the conversion refused and lenient reading reads
// (Conversion::OpensWithLenientReading).
constexpr const char* LENIENT_HINT = "This file opens with --lenient.";

// How an output that reaches a file the command reads is refused.
constexpr const char* READ_FILE_REFUSAL =
    "is one of the files this command reads; it is left as it is";

// The files the command reads: its MIDI files and the settings files named on the command line.
std::vector<std::string> ReadFiles(const Options& options);

// False after saying so when the process's standard output writes into one of `read` (as
// `>> song.mid` would make it): nothing may be written then.
bool CheckStandardOutput(const std::vector<std::string>& read);

// Reads the INI file, then the option file named in `options` into `stored`, then lays the
// flags over them. `tool` names the program in messages about the files. False after saying
// why (exit with EXIT_USAGE then).
bool LoadSettings(const Options& options, StoredSettings& stored, const std::string& tool);

} // namespace morvel::cli
