// Text taken from a MIDI file (titles, track names, chord names) made fit for a written file.
#pragma once

#include <string>
#include <string_view>

namespace morvel {

// `text` as valid UTF-8 on one line: well-formed UTF-8 is kept, except the noncharacters
// U+FFFE and U+FFFF, which become U+FFFD; every other byte is read as Latin-1; control
// characters (C0, DEL, C1) become spaces. The result holds only characters XML 1.0 allows.
std::string PlainText(std::string_view text);

} // namespace morvel
