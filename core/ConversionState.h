// Private working state of one Conversion: the reader, the line buffer and the report output.
// Included only by the core's own sources.
#pragma once

#include "io/ByteSource.h"
#include "core/Conversion.h"

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvel {

constexpr int COLUMNS_PER_LINE = 26;

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct Conversion::State {
    // ---- Reader ----
    ByteSource Midi;
    // The bytes Midi reads when it reads memory (nullptr: it reads MidiFileName).
    const uint8_t* MidiBytes = nullptr;
    size_t MidiSize = 0;
    std::string OpenRefusal; // why the MIDI file was refused ("is a directory"), if it was
    // The Standard MIDI File rules where the reader's own are stricter (LenientReading).
    bool Lenient = false;
    // The file was refused by the reader's own rules and is read by the lenient ones.
    bool OpensLeniently = false;
    int AbortFlag = 0;
    int32_t TrackBytesLeft = 0;
    uint32_t PendingTicks = 0;
    uint32_t RunningStatus = 0;
    int CurrentTrack = -1;  // index into TrackList, -1 for none
    int LastNoteTrack = -1; // track of the most recently stored note, -1 for none
    size_t LastNoteIndex = 0;
    // Per channel and key (channel * 128 + key) of the current track, the note sounding there
    // (1 + its index, or 0) and its onset tick. Empty when the table could not be had.
    struct SoundingNote {
        uint32_t Number = 0;
        uint32_t Onset = 0;
    };
    std::vector<SoundingNote> Sounding;

    // ---- Line buffer ----
    TabColumn TabLine[COLUMNS_PER_LINE];
    int ColumnCount = 0;
    bool LineBrokeInBar = false;
    uint32_t current_ticks = 0;
    uint64_t TrackColumns = 0;      // columns of the current track already written
    uint64_t ConversionColumns = 0; // columns of the whole report already written
    bool BoundReached = false;      // the next line would pass an output bound
    bool TrackCut = false;          // the current track stopped at an output bound
    bool ConversionCut = false;     // the whole report reached its bound (and said so)
    uint32_t TrackIndex = 0;        // track being converted
    ColumnObserver Observer;        // sees every written column

    // ---- Report output ----
    ReportSink Sink;
    int ReportFd = -1;
    int ReportSlot = -1; // registration of the report file among the temporary files
    bool ReportOpen = false;
    std::string Out; // pending report text, flushed in large blocks

    void Put(std::string_view text) {
        Out.append(text);
        if (Out.size() >= FLUSH_SIZE) Flush();
    }
    void Put(char c) {
        Out.push_back(c);
        if (Out.size() >= FLUSH_SIZE) Flush();
    }
    void PutLine(std::string_view text) {
        Out.append(text);
        Out.append(LINE_END);
        if (Out.size() >= FLUSH_SIZE) Flush();
    }
    void Flush();

    static constexpr size_t FLUSH_SIZE = 256 * 1024;
};

} // namespace morvel
