#include "formats/ScoreWriter.h"

#include "formats/Gp5Writer.h"
#include "formats/MusicXml.h"

#include <array>

namespace morvel {

namespace {

const std::array<ScoreFormat, 2>& Table() {
    static const std::array<ScoreFormat, 2> table = {{
        {"--musicxml",
         "MusicXML 4.0 instead of text: one part per track with notes (tracks all on channel 10 "
         "left out), a notation staff and a TAB staff with the strings and frets of the text",
         "Save MusicXML", "SaveMusicXML1", MusicXmlWriter::Instance()},
        {"--gp5",
         "Guitar Pro 5 instead of text: one track per track with notes (tracks all on channel "
         "10 left out), six strings with the strings and frets of the text",
         "Save Guitar Pro", "SaveGuitarPro1", Gp5ScoreWriter()},
    }};
    return table;
}

} // namespace

std::span<const ScoreFormat> ScoreFormats() {
    return Table();
}

const ScoreFormat* FindScoreFormat(std::string_view flag) {
    for (const ScoreFormat& format : Table())
        if (flag == format.Flag) return &format;
    return nullptr;
}

} // namespace morvel
