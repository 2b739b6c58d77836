// The conversion object: everything one conversion of a MIDI file into tablature needs.
//
// It reads a Standard MIDI File into the song model (TrackList), places every note on a
// string and fret, names chords and writes the text report: a banner, a file information
// block, then for each track the byte 0xFA followed by that track's tablature, and with
// ShowChord on a "Chords:" section. Every report line ends in "\r\n".
//
// The object is not shared between threads; a batch converter runs one per thread. Errors
// go through the injectable reporter (ReportError): a message box in the GUI, stderr in the
// converter, a list in tests.
#pragma once

#include "core/Fingering.h"
#include "core/Song.h"
#include "core/TabColumn.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

constexpr char TRACK_SEPARATOR = '\xFA';
constexpr const char* LINE_END = "\r\n";

// A track's section ends with a message once it reaches this many columns (bars included);
// a damaged delta time could otherwise ask for millions of bars.
constexpr uint64_t MAX_TRACK_COLUMNS = 2'000'000;
// Across all tracks of one conversion the report stops growing past this many columns.
constexpr uint64_t MAX_CONVERSION_COLUMNS = 4'000'000;

using Reporter = std::function<void(const std::string& text)>;
// Receives the report text in order, in chunks of any size.
using ReportSink = std::function<void(std::string_view chunk)>;
// Sees every column of the text tablature as its line is written, in order.
using ColumnObserver = std::function<void(uint32_t trackIndex, const TabColumn& column)>;

class Conversion {
  public:
    Conversion();
    ~Conversion();
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // ---- Settings (read when a conversion starts) ----
    ConversionSettings Settings;
    Tuning TuningSettings;

    // ---- Results of the last conversion ----
    SongHeader Header;
    std::vector<TrackRecord> TrackList;
    std::array<int16_t, STRING_COUNT> StringPitch = BaseTuning;

    // Path of the MIDI file to convert; empty when no file is open. Every message a conversion
    // reports is about this file; it does not change while the conversion runs.
    std::string MidiFileName;
    // Path of the report file the last conversion wrote; empty when none.
    std::string TempFileName;

    // Bounds on the report, in columns: per track and for the whole conversion.
    uint64_t MaxTrackColumns = MAX_TRACK_COLUMNS;
    uint64_t MaxConversionColumns = MAX_CONVERSION_COLUMNS;

    // ---- State shared with the measure drawing ----
    int CurrentFret = 0; // anchor of the nearest-fret search
    std::array<int32_t, CHORD_COUNT> ChordUsed{};

    // Errors: the reporter gets every text passed to ReportError. The default writes to stderr.
    void SetReporter(Reporter reporter);
    void ReportError(const std::string& text);
    // MidiFileName as messages show it, control bytes escaped (EscapeControlBytes): what a
    // reporter puts beside a message, e.g. in the title of its message box.
    std::string MessageFileName() const;

    // Sends the report to `sink` instead of a temporary file (no file is created, TempFileName
    // stays empty). An empty sink restores the temporary file.
    void SetReportSink(ReportSink sink);

    // Hands every written column to `observer` (none: an empty observer).
    void SetColumnObserver(ColumnObserver observer);

    // Runs one whole conversion of MidiFileName. Callers read TrackList and the report.
    void ConvertMidiFile();
    // The same over bytes in memory; `displayName` stands in for the path in the report.
    void ConvertMidiBytes(std::string_view bytes, const std::string& displayName);
    // The conversion of MidiFileName when it could not be opened: the messages ConvertMidiFile
    // gives then, `refusal` (a reason such as "is a directory"; empty for an ordinary open
    // failure) on a line of its own, and an empty song.
    void ConvertUnopenedFile(const std::string& refusal);

    // Whether the last conversion was refused by the reader's own rules (Settings.
    // LenientReading off) although a reading with LenientReading on reads the file without a
    // message. Set before the conversion's last message is reported, false otherwise.
    //
    // With LenientReading on, the reader follows the Standard MIDI File rules where its own
    // are stricter: a meta event's length is a variable-length quantity; running status holds
    // across meta and system-exclusive events (0xF0 and 0xF7 carry a counted body); the
    // end-of-track event ends the chunk; chunks other than "MTrk" are skipped; a header longer
    // than six bytes, a format above 2, fewer track chunks than announced (the song has the
    // tracks found), a chunk without end-of-track and a chunk running past the end of the file
    // (read to the end, without a message) are read; unknown meta types are passed over; a data
    // byte with no status before it is passed over; system statuses 0xF1..0xFE take their data
    // bytes as MIDI does and leave running status alone. A file that follows the standard gives
    // the same song and report either way.
    bool OpensWithLenientReading() const;

    // Removes the report file of the last conversion and empties TempFileName.
    void DeleteReportFile();

    // Places one stored note (0..255) into `column`, anchored on CurrentFret: an open string
    // first, else the fret nearest the anchor. A note never removes another note from the
    // column; one that finds no free position, or a number of 128 or more, is labelled
    // LABEL_TOO_HIGH, one below the lowest string LABEL_TOO_LOW.
    void PlaceNote(TabColumn& column, int note, char special, uint8_t channel);
    // Puts a marker (LABEL_BAR, LABEL_TRACK_START, LABEL_TRACK_END) into `column`.
    static void PlaceMarker(TabColumn& column, uint8_t label);

    // The optimised placement of track `trackIndex` (0-based) under the tuning and settings
    // in force now. It is kept per track and found again only when the song was converted
    // again or something the search reads changed since (the working tuning, the division,
    // MaxFret, BassMode, ForceFitFret, StringsFromChannels: the Force Fit box changes its
    // setting without a conversion). The text written with OptimiseFingering on is made from it. An index past
    // TrackList gives a placement without notes.
    const TrackFingering& OptimisedFingering(uint32_t trackIndex);

    // The chord the column's frets form (in standard tuning), or "   "; marks it used.
    std::string ColumnChordName(const TabColumn& column);
    void ClearUsedChords();

    int CountEmptyTracks() const;

    // Closes the report if it is open (the file stays on disk until DeleteReportFile).
    void CloseReportFile();

  private:
    struct State;

    void RunConversion(bool opened);
    bool OpenReportFile();
    void ApplyTranspose();
    void FreeTrackList();

    // Song model
    void StartTrack();
    void ReserveNotes();
    void AppendNote(uint32_t deltaTime, uint8_t note, uint8_t channel);
    NoteRecord* LastNote();
    void MarkLastNote(char letter);

    // Reader
    bool ReadMidiHeader();
    bool ReadTracks();
    void RefuseTracks(const std::string& message);
    bool ReadsLeniently() const;
    bool ReadTrackHeader();
    bool FindTrackChunk();
    void SkipFileBytes(uint64_t count);
    int ReadLenientEvent();
    int ReadLenientMetaEvent();
    void SkipSystemData(int count);
    int ReadTrackByte();
    uint32_t ReadVarLen();
    void SkipTrackBytes(uint32_t count);
    int ReadEvent();
    bool ReadBufferedChannelEvent();
    void ChannelEvent(uint8_t first, uint8_t second);
    int ReadMetaEvent();
    void ReadMetaText(int type, uint32_t length);

    // Report text
    void WriteCentred(const std::string& text);
    void WriteBanner();
    void WriteTrackHeading(int trackNumber, const TrackRecord& track);
    void WriteTabLine();
    // The chord name of a column (or "   "), marking the chord used; no copy of the name.
    std::string_view NameColumnChord(const TabColumn& column);
    void WriteChordDiagrams();

    // Track conversion
    void ClearTabLine();
    void FlushTabLine();
    void AdvanceColumn();
    void CutTrack(int trackNumber);
    void ReportConversionCut(int trackNumber);
    void AddNoteEvent(uint8_t note, int channel, char special, uint32_t deltaTime,
                      int32_t numerator, int32_t denominator, int trackNumber, size_t noteIndex);
    void ConvertTrack(uint32_t trackIndex);

    Reporter reporter_;
    State* state_; // reader, line buffer and report state of the conversion under way
    // What an optimised placement was found under: everything the search reads besides the
    // track itself.
    struct FingeringInputs {
        std::array<int16_t, STRING_COUNT> StringPitch{};
        uint32_t Division = 0;
        int32_t MaxFret = 0;
        int32_t BassMode = 0;
        int32_t ForceFitFret = 0;
        int32_t StringsFromChannels = 0;
        bool operator==(const FingeringInputs&) const = default;
    };
    FingeringInputs CurrentFingeringInputs() const;
    // Optimised placements of the last conversion, by track, found on first use, each with
    // the inputs it was found under (none: not found yet).
    std::vector<TrackFingering> fingerings_;
    std::vector<std::optional<FingeringInputs>> fingeringInputs_;
};

// Measures of a track as the view counts them: EndTime / MeasureTicks + 1; 1 when the time
// signature gives no measure length.
uint32_t TrackMeasureCount(const TrackRecord& track, uint32_t division);

// Text of a report as the text export writes it: section < 0 gives everything without the
// separator bytes; section k >= 1 gives what follows the k-th separator up to the next one.
std::string ExtractReportText(std::string_view report, int section);

// `text` with every control character written visibly: \n, \r, \t, or \xHH for the others of
// C0 (below 0x20) and DEL, and for C1 (0x80..0x9F), whether a lone byte or UTF-8 encoded
// (U+0080..U+009F, shown as \x80..\x9f). Other bytes, the rest of UTF-8 included, are kept.
std::string EscapeControlBytes(std::string_view text);

// Helpers of the reader, shared with chord lookup.
std::string& TrimTrailingBlanks(std::string& text);
void BlankControlChars(std::string& text);
uint32_t PowerOfTwo(int exponent);

} // namespace morvel
