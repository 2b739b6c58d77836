// Standard MIDI file reader: takes the header and track chunks apart into the song model.
// Strict: an unknown chunk tag, file format, event status or meta type stops the conversion.
// With LenientReading on, the Standard MIDI File rules apply where these are stricter (see
// Conversion::OpensWithLenientReading); a file that follows them reads the same either way.
#include "core/Conversion.h"
#include "core/ConversionState.h"

#include <algorithm>
#include <limits>
#include <new>

namespace morvel {

namespace {

constexpr int HEADER_SIZE = 14;
constexpr int TRACK_HEADER_SIZE = 8;
constexpr uint32_t CENTRE_BEND = 8192;
constexpr uint64_t BYTES_PER_NOTE = 8;
// A channel event is read straight from the buffer when its delta time takes at most four
// bytes: then delta, status and data fit in seven bytes.
constexpr size_t LONGEST_QUICK_DELTA = 4;
constexpr size_t LONGEST_QUICK_EVENT = 8;

constexpr uint32_t STANDARD_HEADER_LENGTH = 6;

uint32_t Big32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

// Data bytes a system status of 0xF1..0xFE takes on the wire.
int SystemDataBytes(uint32_t status) {
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0;
    }
}

bool IsTag(const uint8_t* bytes, const char* tag) {
    return bytes[0] == uint8_t(tag[0]) && bytes[1] == uint8_t(tag[1]) &&
           bytes[2] == uint8_t(tag[2]) && bytes[3] == uint8_t(tag[3]);
}

// Data bytes of a channel event with this status; 0 for system and meta statuses.
int ChannelDataBytes(uint32_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        return 2;
    default:
        return 0;
    }
}

// Channel and key pairs a track can sound at once.
constexpr size_t SOUNDING_KEYS = 16 * 128;

// A duration as a note keeps it: at most UINT16_MAX ticks.
uint16_t TickSpan(uint32_t ticks) {
    return static_cast<uint16_t>(std::min<uint32_t>(ticks, UINT16_MAX));
}

} // namespace

std::string& TrimTrailingBlanks(std::string& text) {
    while (!text.empty()) {
        char c = text.back();
        if (c != '\t' && c != '\n' && c != '\r' && c != ' ') break;
        text.pop_back();
    }
    return text;
}

void BlankControlChars(std::string& text) {
    for (char& c : text) {
        unsigned char value = static_cast<unsigned char>(c);
        if (value < 32 || value > 128) c = ' ';
    }
}

uint32_t PowerOfTwo(int exponent) {
    uint32_t value = 1;
    for (int i = 0; i < exponent; ++i)
        value *= 2;
    return value;
}

// ---- Bytes of the current chunk ----

inline int Conversion::ReadTrackByte() {
    State& st = *state_;
    if (st.TrackBytesLeft == 0) return 0;
    int value = st.Midi.Get();
    if (value == ByteSource::END) {
        st.AbortFlag = 1;
        return -1;
    }
    --st.TrackBytesLeft;
    return value;
}

inline uint32_t Conversion::ReadVarLen() {
    State& st = *state_;
    uint32_t value = 0;
    while (!st.AbortFlag) {
        int byte = ReadTrackByte();
        if (byte < 0) {
            st.AbortFlag = 1;
            break;
        }
        value = value * 128 + (byte & 0x7F);
        if (byte < 0x80) break;
    }
    return value;
}

// ---- Song model ----

void Conversion::StartTrack() {
    try {
        TrackList.emplace_back();
    } catch (const std::bad_alloc&) {
        ReportError(TrackList.empty() ? "Memory exhausted!" : "Memory Exhausted!");
        return;
    }
    TrackRecord& track = TrackList.back();
    if (TrackList.size() > 1) {
        const TrackRecord& previous = TrackList[TrackList.size() - 2];
        track.TimeSigNumerator = previous.TimeSigNumerator;
        track.TimeSigDenominator = previous.TimeSigDenominator;
    }
    state_->CurrentTrack = static_cast<int>(TrackList.size()) - 1;
    // Only the optimised fingering reads durations; other conversions do not pay for them.
    state_->Sounding.clear();
    if (!Settings.OptimiseFingering) return;
    try {
        state_->Sounding.assign(SOUNDING_KEYS, State::SoundingNote{});
    } catch (const std::bad_alloc&) {
        // The track is read without durations.
        state_->Sounding.clear();
    }
}

void Conversion::ReserveNotes() {
    State& st = *state_;
    if (st.CurrentTrack < 0 || st.TrackBytesLeft <= 0) return;
    // A stored note takes at least a note-on and its note-off, about eight bytes; the chunk
    // length is trusted only as far as the file really holds bytes.
    const uint64_t bytes =
        std::min<uint64_t>(static_cast<uint64_t>(st.TrackBytesLeft), st.Midi.Remaining());
    try {
        TrackList[st.CurrentTrack].Notes.reserve(bytes / BYTES_PER_NOTE);
    } catch (const std::bad_alloc&) {
        // Growing one note at a time still works.
    }
    if (st.Sounding.empty()) return;
    try {
        TrackList[st.CurrentTrack].Durations.reserve(TrackList[st.CurrentTrack].Notes.capacity());
    } catch (const std::bad_alloc&) {
    }
}

void Conversion::AppendNote(uint32_t deltaTime, uint8_t note, uint8_t channel) {
    State& st = *state_;
    if (st.CurrentTrack < 0) {
        ReportError("Uninitalized track !!!!");
        return;
    }
    TrackRecord& track = TrackList[st.CurrentTrack];
    try {
        track.Notes.push_back(NoteRecord{deltaTime, note, channel, ' '});
    } catch (const std::bad_alloc&) {
        ReportError("Memory Exhausted!");
        return;
    }
    st.LastNoteTrack = st.CurrentTrack;
    st.LastNoteIndex = track.Notes.size() - 1;
    // Durations are kept while they follow the notes one for one (a track chunk holds fewer
    // than 2^31 bytes, so the note numbers fit); a note struck again while it sounds ends at
    // the new onset.
    if (st.Sounding.empty() || track.Durations.size() + 1 != track.Notes.size()) return;
    const uint32_t onset = track.LastNoteTime + deltaTime;
    State::SoundingNote& sounding = st.Sounding[(channel & 0x0Fu) << 7 | (note & 0x7Fu)];
    if (sounding.Number != 0)
        track.Durations[sounding.Number - 1] = TickSpan(onset - sounding.Onset);
    try {
        track.Durations.push_back(0);
    } catch (const std::bad_alloc&) {
        return;
    }
    sounding.Number = static_cast<uint32_t>(track.Notes.size());
    sounding.Onset = onset;
}

NoteRecord* Conversion::LastNote() {
    State& st = *state_;
    if (st.LastNoteTrack < 0) return nullptr;
    return &TrackList[st.LastNoteTrack].Notes[st.LastNoteIndex];
}

void Conversion::MarkLastNote(char letter) {
    if (NoteRecord* note = LastNote()) note->Special = letter;
}

// ---- Reading ----

bool Conversion::ReadMidiHeader() {
    State& st = *state_;
    uint8_t header[HEADER_SIZE];
    if (st.Midi.Read(header, HEADER_SIZE) != HEADER_SIZE) {
        st.Midi.Close();
        ReportError(
            FormatText("Can't read MIDI file header from '%s'.", MessageFileName().c_str()));
        return false;
    }
    if (!IsTag(header, "MThd")) {
        ReportError(FormatText("Unknown header '%02x %02x %02x %02x'.  Not MIDI!", header[0],
                               header[1], header[2], header[3]));
        st.Midi.Close();
        return false;
    }
    const bool knownFormat = header[8] == 0 && header[9] <= 2;
    if (!knownFormat && !st.Lenient) {
        ReportError(FormatText("Invalid MIDI type '%d'.%s", header[8] * 256 + header[9], LINE_END));
        st.Midi.Close();
        return false;
    }
    Header.FormatType = header[8] * 256 + header[9];
    Header.TrackCount = uint32_t(header[10]) << 8 | header[11];
    Header.Division = uint32_t(header[12]) << 8 | header[13];
    if (st.Lenient) {
        // A format no file should have is read as the tracks say: one track or several.
        if (!knownFormat) Header.FormatType = Header.TrackCount > 1 ? 1 : 0;
        // A length that would take the whole file is damaged, not a longer header.
        const uint32_t length = Big32(header + 4);
        if (length > STANDARD_HEADER_LENGTH &&
            length - STANDARD_HEADER_LENGTH < st.Midi.Remaining())
            SkipFileBytes(length - STANDARD_HEADER_LENGTH);
    }
    return true;
}

void Conversion::SkipFileBytes(uint64_t count) {
    ByteSource& in = state_->Midi;
    for (uint64_t i = 0; i < count && in.Get() != ByteSource::END; ++i) {
    }
}

// The next "MTrk" chunk, chunks of other kinds skipped; false at the end of the file. The
// chunk's length is taken as far as the file holds bytes.
bool Conversion::FindTrackChunk() {
    State& st = *state_;
    for (;;) {
        uint8_t header[TRACK_HEADER_SIZE];
        if (st.Midi.Read(header, TRACK_HEADER_SIZE) != TRACK_HEADER_SIZE) return false;
        const uint32_t length = Big32(header + 4);
        if (IsTag(header, "MTrk")) {
            st.TrackBytesLeft = static_cast<int32_t>(std::min<uint64_t>(
                {length, st.Midi.Remaining(), uint64_t(std::numeric_limits<int32_t>::max())}));
            return true;
        }
        SkipFileBytes(length);
    }
}

bool Conversion::ReadTrackHeader() {
    State& st = *state_;
    uint8_t header[TRACK_HEADER_SIZE];
    if (st.Midi.Read(header, TRACK_HEADER_SIZE) != TRACK_HEADER_SIZE) {
        ReportError(FormatText("Can't read MIDI track header, status=%d.", 0));
        return false;
    }
    if (!IsTag(header, "MTrk")) {
        ReportError(FormatText("Unknown track header '%02x %02x %02x %02x'.  Not MIDI!", header[0],
                               header[1], header[2], header[3]));
        return false;
    }
    st.TrackBytesLeft = static_cast<int32_t>(uint32_t(header[4]) << 24 | uint32_t(header[5]) << 16 |
                                             uint32_t(header[6]) << 8 | header[7]);
    return true;
}

void Conversion::SkipTrackBytes(uint32_t count) {
    State& st = *state_;
    // Once the chunk is used up (or the file has ended) further reads change nothing.
    for (uint32_t i = 0; i < count && st.TrackBytesLeft != 0 && !st.AbortFlag; ++i)
        ReadTrackByte();
}

void Conversion::ChannelEvent(uint8_t first, uint8_t second) {
    State& st = *state_;
    TrackRecord* track = st.CurrentTrack >= 0 ? &TrackList[st.CurrentTrack] : nullptr;
    switch (st.RunningStatus & 0xF0) {
    case 0x90:
        if (second != 0) {
            AppendNote(st.PendingTicks, first, st.RunningStatus & 0x0F);
            if (track) {
                track->LastNoteTime += st.PendingTicks;
                track->EndTime = 0;
            }
            st.PendingTicks = 0;
            return;
        }
        [[fallthrough]]; // velocity 0: a note-off
    case 0x80:
        if (track) {
            track->EndTime = track->LastNoteTime + st.PendingTicks;
            // The duration of the note sounding on this key and channel, if any.
            if (!st.Sounding.empty()) {
                State::SoundingNote& sounding =
                    st.Sounding[(st.RunningStatus & 0x0Fu) << 7 | (first & 0x7Fu)];
                if (sounding.Number != 0) {
                    track->Durations[sounding.Number - 1] =
                        TickSpan(track->EndTime - sounding.Onset);
                    sounding.Number = 0;
                }
            }
        }
        return;
    case 0xA0:
        MarkLastNote('A');
        return;
    case 0xB0:
        MarkLastNote('C');
        return;
    case 0xC0:
        MarkLastNote('P');
        return;
    case 0xD0:
        MarkLastNote('V');
        return;
    case 0xE0: {
        const uint32_t bend = (uint32_t(second) << 7) | first;
        NoteRecord* last = LastNote();
        if (last && last->Special != 'U' && last->Special != 'D' && bend != CENTRE_BEND)
            MarkLastNote(bend > CENTRE_BEND ? 'U' : 'D');
        return;
    }
    }
}

bool Conversion::ReadBufferedChannelEvent() {
    State& st = *state_;
    if (st.TrackBytesLeft < int32_t(LONGEST_QUICK_EVENT)) return false;
    const uint8_t* bytes = st.Midi.Peek(LONGEST_QUICK_EVENT);
    if (bytes == nullptr) return false;
    uint32_t delta = 0;
    size_t used = 0;
    for (;;) {
        const uint8_t byte = bytes[used++];
        delta = delta * 128 + (byte & 0x7F);
        if (byte < 0x80) break;
        if (used == LONGEST_QUICK_DELTA) return false;
    }
    uint32_t status = st.RunningStatus;
    if (bytes[used] >= 0x80) status = bytes[used++];
    const int data = ChannelDataBytes(status);
    if (data == 0 || status < 0x80) return false;
    const uint8_t first = bytes[used];
    const uint8_t second = data == 2 ? bytes[used + 1] : 0;
    used += static_cast<size_t>(data);

    st.Midi.Skip(used);
    st.TrackBytesLeft -= static_cast<int32_t>(used);
    st.PendingTicks += delta;
    st.RunningStatus = status;
    ChannelEvent(first, second);
    return true;
}

int Conversion::ReadEvent() {
    State& st = *state_;
    // Most events are channel events lying whole in the read buffer: they are taken in one go.
    if (ReadBufferedChannelEvent()) return 1;

    st.PendingTicks += ReadVarLen();
    if (st.AbortFlag) return 0;

    const bool chunkUsedUp = st.TrackBytesLeft == 0;
    int status = ReadTrackByte() & 0xFF;
    if (status >= 0x80) {
        st.RunningStatus = static_cast<uint32_t>(status);
    } else {
        // A retained system status with nothing left to read would re-read the pushed-back
        // byte for ever: the track ends here.
        if (chunkUsedUp && st.RunningStatus >= 0xF1 && st.RunningStatus <= 0xFE) return 0;
        st.Midi.Unget(status);
        ++st.TrackBytesLeft;
    }

    if (const int data = ChannelDataBytes(st.RunningStatus); data > 0 && st.RunningStatus >= 0x80) {
        const uint8_t first = ReadTrackByte() & 0xFF;
        const uint8_t second = data == 2 ? ReadTrackByte() & 0xFF : 0;
        ChannelEvent(first, second);
        return 1;
    }
    if (st.RunningStatus == 0xF0) {
        SkipTrackBytes(ReadVarLen());
        return 1;
    }
    if (st.RunningStatus == 0xFF) return ReadMetaEvent();
    if (st.RunningStatus > 0xF0) return 1; // 0xF1..0xFE carry no data
    ReportError(FormatText("Unknown note type '%x'.", st.RunningStatus));
    return 0;
}

int Conversion::ReadLenientEvent() {
    State& st = *state_;
    if (ReadBufferedChannelEvent()) return 1;

    st.PendingTicks += ReadVarLen();
    if (st.TrackBytesLeft == 0 || st.AbortFlag) return 0; // no event after the delta time
    const int byte = ReadTrackByte() & 0xFF;
    uint32_t status = static_cast<uint32_t>(byte);
    if (byte < 0x80) {
        if (st.RunningStatus == 0) return 1; // a data byte with no status: passed over
        status = st.RunningStatus;
        st.Midi.Unget(byte);
        ++st.TrackBytesLeft;
    }
    if (status < 0xF0) {
        st.RunningStatus = status;
        const uint8_t first = ReadTrackByte() & 0xFF;
        const uint8_t second = ChannelDataBytes(status) == 2 ? ReadTrackByte() & 0xFF : 0;
        ChannelEvent(first, second);
        return 1;
    }
    // System and meta events leave the running status as it is.
    switch (status) {
    case 0xF0:
    case 0xF7:
        SkipTrackBytes(ReadVarLen());
        return 1;
    case 0xFF:
        return ReadLenientMetaEvent();
    default:
        SkipSystemData(SystemDataBytes(status));
        return 1;
    }
}

// Up to `count` data bytes; a byte of 0x80 or more is none, and is left to the next delta time.
void Conversion::SkipSystemData(int count) {
    State& st = *state_;
    for (int i = 0; i < count && st.TrackBytesLeft > 0 && !st.AbortFlag; ++i) {
        const int byte = ReadTrackByte() & 0xFF;
        if (byte >= 0x80) {
            st.Midi.Unget(byte);
            ++st.TrackBytesLeft;
            return;
        }
    }
}

int Conversion::ReadLenientMetaEvent() {
    State& st = *state_;
    const int type = ReadTrackByte() & 0xFF;
    uint32_t length = ReadVarLen();
    TrackRecord* track = st.CurrentTrack >= 0 ? &TrackList[st.CurrentTrack] : nullptr;
    if (type >= 0x01 && type <= 0x0F) {
        ReadMetaText(type, length);
        return 1;
    }
    switch (type) {
    case 0x2F:
        return 0;
    case 0x51:
        if (track && track->TrackName.empty()) track->TrackName = "Set Tempo";
        break;
    case 0x58:
        if (length >= 2) {
            const int numerator = ReadTrackByte() & 0xFF;
            const int exponent = ReadTrackByte() & 0xFF;
            length -= 2;
            if (track) {
                track->TimeSigNumerator = numerator;
                track->TimeSigDenominator = static_cast<int32_t>(PowerOfTwo(exponent));
            }
        }
        break;
    default:
        break;
    }
    SkipTrackBytes(length);
    return 1;
}

void Conversion::ReadMetaText(int type, uint32_t length) {
    State& st = *state_;
    std::string text;
    text.reserve(std::min<uint32_t>(length, TEXT_LIMIT));
    for (uint32_t i = 0; i < length; ++i) {
        // A used-up chunk reads as zero bytes, which end the text anyway.
        if (st.Lenient && (st.TrackBytesLeft == 0 || st.AbortFlag)) break;
        char c = static_cast<char>(ReadTrackByte() & 0xFF);
        if ((type == 0x01 || type == 0x02) && static_cast<signed char>(c) < 32) c = ' ';
        if (text.size() < static_cast<size_t>(TEXT_LIMIT)) text.push_back(c);
    }
    if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    TrimTrailingBlanks(text);
    BlankControlChars(text);
    if (st.CurrentTrack < 0) return;
    TrackRecord& track = TrackList[st.CurrentTrack];
    switch (type) {
    case 0x01:
        track.Text = std::move(text);
        break;
    case 0x02:
        track.CopyrightNotice = std::move(text);
        break;
    case 0x03:
        track.TrackName = std::move(text);
        break;
    case 0x04:
        track.InstrumentName = std::move(text);
        break;
    case 0x05:
        track.Lyric = std::move(text);
        break;
    case 0x06:
        track.Marker = std::move(text);
        break;
    case 0x07:
        track.CuePoint = std::move(text);
        break;
    default:
        track.MiscText = std::move(text);
        break;
    }
}

int Conversion::ReadMetaEvent() {
    State& st = *state_;
    const int type = ReadTrackByte() & 0xFF;
    TrackRecord* track = st.CurrentTrack >= 0 ? &TrackList[st.CurrentTrack] : nullptr;
    if (type >= 0x01 && type <= 0x0F) {
        ReadMetaText(type, static_cast<uint32_t>(ReadTrackByte() & 0xFF));
        return 1;
    }
    switch (type) {
    case 0x00:
        SkipTrackBytes(3);
        return 1;
    case 0x20:
    case 0x21:
    case 0x74:
    case 0x7F:
        SkipTrackBytes(ReadTrackByte() & 0xFF);
        return 1;
    case 0x2F:
        ReadTrackByte();
        return st.TrackBytesLeft != 0 ? 1 : 0;
    case 0x51:
        SkipTrackBytes(4);
        if (track && track->TrackName.empty()) track->TrackName = "Set Tempo";
        return 1;
    case 0x54:
        SkipTrackBytes(6);
        return 1;
    case 0x58: {
        ReadTrackByte();
        const int numerator = ReadTrackByte() & 0xFF;
        const int exponent = ReadTrackByte() & 0xFF;
        ReadTrackByte();
        ReadTrackByte();
        if (track) {
            track->TimeSigNumerator = numerator;
            track->TimeSigDenominator = static_cast<int32_t>(PowerOfTwo(exponent));
        }
        return 1;
    }
    case 0x59:
        SkipTrackBytes(3);
        return 1;
    default:
        ReportError(FormatText("Unknown system command '%x'.", type));
        return 0;
    }
}

} // namespace morvel
