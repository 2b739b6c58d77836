// How the window program shows the conversion core's messages: the box's title names the file
// the message is about, so that the fixed message texts need not.
#pragma once

#include "core/Conversion.h"

#include <QString>

#include <string>

namespace morvel {

// "song.mid - <application title>" for the file `conversion` converts, its name as the
// conversion's messages show it (MessageFileName: control bytes escaped), or the application
// title alone when no file is named.
QString ConversionMessageTitle(const Conversion& conversion, const QString& applicationTitle);

// The message as written, less a trailing line end (the report needs it, a message box does
// not).
QString ConversionMessageText(const std::string& text);

} // namespace morvel
