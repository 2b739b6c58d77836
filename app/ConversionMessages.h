// How the window program shows the conversion core's messages: the box's title names the file
// the message is about, so that the fixed message texts need not.
#pragma once

#include <QString>

#include <string>

namespace morvel {

// "song.mid - <application title>", or the application title alone when no file is named;
// control bytes of the name are shown as '?'.
QString ConversionMessageTitle(const std::string& midiFileName, const QString& applicationTitle);

// The message as written, less a trailing line end (the report needs it, a message box does
// not).
QString ConversionMessageText(const std::string& text);

} // namespace morvel
