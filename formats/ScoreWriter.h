// Score file formats: one small interface per format, and the table the File menu and the
// converter's flags are built from. A new format is one ScoreWriter class and one row of
// ScoreFormats().
#pragma once

#include "formats/Score.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace morvel {

// Receives a written file in order, in chunks of any size.
using ScoreSink = std::function<void(std::string_view chunk)>;

class ScoreWriter {
  public:
    virtual ~ScoreWriter() = default;
    // The format's name in messages: "MusicXML".
    virtual std::string_view Name() const = 0;
    // The file name suffix, with its dot: ".musicxml".
    virtual std::string_view Suffix() const = 0;
    // The file dialog's filter: "MusicXML (*.musicxml)".
    virtual std::string_view Filter() const = 0;
    // Writes the whole file of `score` to `sink`. False with `error` set when the score cannot
    // be written in this format; the sink may then have received part of a file, which the
    // caller discards.
    virtual bool Write(const Score& score, const ScoreSink& sink, std::string& error) const = 0;
    // One line on what was written, for the status message and standard error.
    virtual std::string Summary(const ScoreSummary& summary) const {
        return FormatScoreSummary(summary);
    }
};

// One row per format.
struct ScoreFormat {
    const char* Flag;       // the converter's flag: "--musicxml"
    const char* FlagHelp;   // its line in --help, without the flag
    const char* MenuText;   // the File menu entry: "Save MusicXML"
    const char* ObjectName; // that entry's objectName: "SaveMusicXML1"
    const ScoreWriter& Writer;
};

// Every score format, in menu order.
std::span<const ScoreFormat> ScoreFormats();
// The row whose Flag is `flag`, or nullptr.
const ScoreFormat* FindScoreFormat(std::string_view flag);

} // namespace morvel
