// The one walker over the events of a Standard MIDI File held in memory, for every reader of
// rhythm and playback (the timeline reader, the practice program and through it the player).
// The tablature has its own reader (core/MidiReader), with the rules of its design.
//
// Rules, the same for every client:
// - The file: a header chunk "MThd" of at least 6 bytes (format, track count, division; a
//   division of 0 is refused), then as many "MTrk" chunks as the header announces, in file
//   order; chunks of other kinds between them are skipped; bytes after the last announced
//   track are not looked at. A chunk that runs past the end of the file is refused.
// - A track chunk: delta times are variable-length quantities of at most four bytes; running
//   status holds for channel events only, and system-exclusive and meta events leave it as
//   it is; a channel event has one data byte (program change, channel pressure) or two;
//   system-exclusive events (0xF0, 0xF7) and meta events (0xFF, a type, a variable-length
//   length) carry a body of that length; the end-of-track meta event ends the walk; any other
//   status of 0xF1 and above is refused.
// - Bounded on any input: every step takes at least one byte of the chunk, a body is a view
//   into the chunk (nothing is copied), and a length past the chunk's end is refused.
#pragma once

#include "io/ByteCursor.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvel {

enum class MetaType : uint8_t {
    SequenceNumber = 0x00,
    Text = 0x01,
    Copyright = 0x02,
    TrackName = 0x03,
    InstrumentName = 0x04,
    Lyric = 0x05,
    Marker = 0x06,
    CuePoint = 0x07,
    ChannelPrefix = 0x20,
    Port = 0x21,
    EndOfTrack = 0x2F,
    Tempo = 0x51,
    SmpteOffset = 0x54,
    TimeSignature = 0x58,
    KeySignature = 0x59,
    SequencerSpecific = 0x7F,
};

constexpr uint8_t STATUS_NOTE_OFF = 0x80;
constexpr uint8_t STATUS_NOTE_ON = 0x90;
constexpr uint8_t STATUS_KEY_PRESSURE = 0xA0;
constexpr uint8_t STATUS_CONTROL_CHANGE = 0xB0;
constexpr uint8_t STATUS_PROGRAM_CHANGE = 0xC0;
constexpr uint8_t STATUS_CHANNEL_PRESSURE = 0xD0;
constexpr uint8_t STATUS_PITCH_BEND = 0xE0;
constexpr uint8_t STATUS_SYSEX = 0xF0;
constexpr uint8_t STATUS_SYSEX_CONTINUATION = 0xF7;
constexpr uint8_t STATUS_META = 0xFF;

// Data bytes of a channel event of `status`: 1 for program change and channel pressure, else 2.
constexpr int ChannelDataBytes(uint8_t status) {
    const uint8_t kind = status & 0xF0;
    return kind == STATUS_PROGRAM_CHANGE || kind == STATUS_CHANNEL_PRESSURE ? 1 : 2;
}

// One event as it stands in the track, running status resolved.
struct MidiEvent {
    uint64_t Tick = 0;  // from the start of the track
    uint8_t Status = 0; // a channel status (0x80..0xEF), STATUS_SYSEX(_CONTINUATION) or STATUS_META
    uint8_t Data1 = 0;  // channel events: the data bytes (Data2 0 for a one-byte event)
    uint8_t Data2 = 0;
    MetaType Meta = MetaType::SequenceNumber; // meta events: the type
    std::string_view Body;                    // system-exclusive and meta events: the data

    bool IsChannel() const { return Status < STATUS_SYSEX; }
    bool IsMeta() const { return Status == STATUS_META; }
    bool IsMeta(MetaType type) const { return Status == STATUS_META && Meta == type; }
    uint8_t Kind() const { return Status & 0xF0; }   // channel events
    uint8_t Channel() const { return Status & 0x0F; } // channel events
};

// Walks the events of one track chunk (its bytes, without the chunk header) in order and
// hands each to `handler`, up to the end-of-track event (which is not handed on). Returns
// true with `endTick` the tick of the track's end (its end-of-track event, else its last
// event); false with `error` saying why when the chunk breaks a rule above (the events before
// the break were handed on).
template <typename Handler>
bool ForEachEvent(std::string_view chunk, Handler&& handler, uint64_t& endTick,
                  std::string& error) {
    ByteCursor in(chunk);
    uint64_t tick = 0;
    uint8_t running = 0;
    auto fail = [&](const char* why) {
        error = why;
        endTick = tick;
        return false;
    };
    while (!in.AtEnd()) {
        uint32_t delta = 0;
        if (!in.VarLen(delta)) return fail("a track ends inside a delta time");
        tick += delta;
        MidiEvent event;
        event.Tick = tick;
        if (!in.Byte(event.Status)) return fail("a track ends after a delta time");
        if (event.Status < 0x80) {
            if (running == 0) return fail("a data byte without a status byte");
            event.Data1 = event.Status;
            event.Status = running;
        } else if (event.Status < STATUS_SYSEX) {
            running = event.Status;
            if (!in.Byte(event.Data1)) return fail("a track ends inside an event");
        }
        if (event.IsChannel()) {
            if (ChannelDataBytes(event.Status) == 2 && !in.Byte(event.Data2))
                return fail("a track ends inside an event");
        } else if (event.Status == STATUS_SYSEX || event.Status == STATUS_SYSEX_CONTINUATION) {
            uint32_t length = 0;
            if (!in.VarLen(length) || !in.Take(length, event.Body))
                return fail("a track ends inside a system-exclusive event");
        } else if (event.Status == STATUS_META) {
            uint8_t type = 0;
            uint32_t length = 0;
            if (!in.Byte(type) || !in.VarLen(length) || !in.Take(length, event.Body))
                return fail("a track ends inside a meta event");
            event.Meta = static_cast<MetaType>(type);
            if (event.Meta == MetaType::EndOfTrack) break;
        } else {
            return fail("an event no MIDI file may hold");
        }
        handler(static_cast<const MidiEvent&>(event));
    }
    endTick = tick;
    return true;
}

// Bytes the header chunk of a Standard MIDI File takes: its tag, length, format, track count
// and division.
constexpr size_t MIDI_HEADER_BYTES = 14;

// Whether `bytes` begin with a whole header chunk's first MIDI_HEADER_BYTES, tag "MThd" first.
bool StartsWithMidiHeader(std::string_view bytes);

struct MidiFileHeader {
    int Format = 0;
    uint32_t TrackCount = 0; // as the header announces
    uint32_t Division = 0;   // ticks per quarter note (a time-code division read as ticks)
};

// Reads the header of `bytes` and hands each announced track chunk to `onTrack` in order (its
// index from 0 and its bytes); `onTrack` returns false to stop the walk, which then returns
// false too. False with `error` saying why when the file breaks a rule above; the chunks
// before the break were handed on. `header` is filled as soon as the header was read.
bool ForEachTrack(std::string_view bytes, MidiFileHeader& header, std::string& error,
                  const std::function<bool(uint32_t index, std::string_view chunk)>& onTrack);

} // namespace morvel
