// What both command-line tools (morvel-convert, morvel-export) do alike: their exit codes,
// their messages on standard error and reading the settings files named on the command line.
#pragma once

#include "cli/Options.h"
#include "core/ExitStatus.h"
#include "core/SettingsTable.h"

#include <string>

namespace morvel::cli {

using morvel::EXIT_FAILED;
using morvel::EXIT_OK;
using morvel::EXIT_USAGE;

// Prints "FILE: text" on standard error, one such line for each line of `text` (split at the
// core's CR LF line ends), whole even when several threads print at once.
// Control bytes in the name and the text are shown escaped, so a file name holding a line
// feed or an escape sequence cannot split a line or reach the terminal.
void PrintMessage(const std::string& file, const std::string& text);

// Reads the INI file, then the option file named in `options` into `stored`, then lays the
// flags over them. `tool` names the program in messages about the files. False after saying
// why (exit with EXIT_USAGE then).
bool LoadSettings(const Options& options, StoredSettings& stored, const std::string& tool);

} // namespace morvel::cli
