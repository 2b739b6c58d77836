// The window program's command line. --help and --version are answered, and a usage error
// refused, before the application object exists, so none of them needs a window or a display.
#pragma once

#include "core/ExitStatus.h"

#include <QString>
#include <QStringList>

namespace morvel {

struct CommandLine {
    bool Exit = false;   // the program ends at once with ExitStatus after printing the texts
    int ExitStatus = 0;  // 0 for --help and --version, EXIT_USAGE on a usage error
    QString Output;      // for standard output: the usage or the version
    QString ErrorOutput; // for standard error: what is wrong, then the usage
    QString File;        // the MIDI file to open after the version window; empty for none
};

// Reads `arguments` (the program's name first). Qt's own options (-platform, -style, -display
// ...) are accepted and left to the application object.
CommandLine ParseCommandLine(const QStringList& arguments);

// The --help text.
QString CommandLineUsage();

} // namespace morvel
