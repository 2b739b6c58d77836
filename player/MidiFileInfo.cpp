#include "player/MidiFileInfo.h"

#include <cmath>
#include <cstring>

namespace morvel {

namespace {

// A cursor over one chunk; every read fails once the chunk is used up.
class Cursor {
  public:
    Cursor(std::string_view data) : data_(data) {}
    bool AtEnd() const { return pos_ >= data_.size(); }
    bool Byte(uint8_t& out) {
        if (AtEnd()) return false;
        out = static_cast<uint8_t>(data_[pos_++]);
        return true;
    }
    // A variable-length quantity of at most four bytes.
    bool VarLen(uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!Byte(b)) return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool Skip(uint32_t count) {
        if (count > data_.size() - pos_) return false;
        pos_ += count;
        return true;
    }
    std::string_view Take(uint32_t count) {
        std::string_view taken = data_.substr(pos_, count);
        pos_ += taken.size();
        return taken;
    }

  private:
    std::string_view data_;
    size_t pos_ = 0;
};

uint32_t Big(std::string_view bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

struct TrackScan {
    int64_t Ticks = 0;
    int64_t TempoTick = -1; // tick of the track's first tempo; -1 none
    uint32_t Tempo = 0;
};

// Scans one track chunk; false with `error` set when it cannot be played.
bool ScanTrack(std::string_view chunk, TrackScan& scan, std::string& error) {
    Cursor in(chunk);
    uint8_t running = 0;
    while (!in.AtEnd()) {
        uint32_t delta = 0;
        if (!in.VarLen(delta)) {
            error = "a track ends inside a delta time";
            return false;
        }
        scan.Ticks += delta;
        uint8_t status = 0;
        if (!in.Byte(status)) {
            error = "a track ends after a delta time";
            return false;
        }
        uint8_t data = 0;
        if (status < 0x80) {
            if (running == 0) {
                error = "a data byte without a status byte";
                return false;
            }
            data = status;
            status = running;
            const bool twoBytes = (status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0;
            if (twoBytes && !in.Byte(data)) {
                error = "a track ends inside an event";
                return false;
            }
            continue;
        }
        if (status < 0xF0) {
            running = status;
            const int count = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
            for (int i = 0; i < count; ++i)
                if (!in.Byte(data)) {
                    error = "a track ends inside an event";
                    return false;
                }
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!in.VarLen(length) || !in.Skip(length)) {
                error = "a track ends inside a system-exclusive event";
                return false;
            }
            continue;
        }
        if (status != 0xFF) {
            error = "an event no MIDI file may hold";
            return false;
        }
        uint8_t type = 0;
        uint32_t length = 0;
        if (!in.Byte(type) || !in.VarLen(length)) {
            error = "a track ends inside a meta event";
            return false;
        }
        const std::string_view body = in.Take(length);
        if (body.size() != length) {
            error = "a track ends inside a meta event";
            return false;
        }
        if (type == 0x51 && length == 3 && scan.TempoTick < 0) {
            const uint32_t tempo = Big(body, 0, 3);
            if (tempo > 0) {
                scan.TempoTick = scan.Ticks;
                scan.Tempo = tempo;
            }
        }
        if (type == 0x2F) return true;
    }
    return true;
}

} // namespace

uint32_t MidiFileInfo::SequenceTempo() const {
    const uint32_t tempo = FirstTempo ? FirstTempo : DEFAULT_TEMPO_MICROSECONDS;
    return static_cast<uint32_t>(std::lround(MICROSECONDS_PER_MINUTE / tempo));
}

MidiFileInfo ReadMidiFileInfo(std::string_view bytes) {
    MidiFileInfo info;
    if (bytes.size() < 14 || bytes.substr(0, 4) != "MThd") {
        info.Error = "not a Standard MIDI File";
        return info;
    }
    const uint32_t headerLength = Big(bytes, 4, 4);
    if (headerLength < 6 || headerLength > bytes.size() - 8) {
        info.Error = "the file header is damaged";
        return info;
    }
    const uint32_t trackCount = Big(bytes, 10, 2);
    info.Division = Big(bytes, 12, 2);
    if (info.Division == 0) {
        info.Error = "the file header gives no division";
        return info;
    }
    size_t at = 8 + headerLength;
    uint32_t tracksRead = 0;
    int64_t tempoTick = -1;
    while (tracksRead < trackCount) {
        if (bytes.size() - at < 8) {
            info.Error = "the file ends before its last track";
            return info;
        }
        const std::string_view id = bytes.substr(at, 4);
        const uint32_t length = Big(bytes, at + 4, 4);
        at += 8;
        if (length > bytes.size() - at) {
            info.Error = "the file ends inside a track";
            return info;
        }
        const std::string_view chunk = bytes.substr(at, length);
        at += length;
        if (id != "MTrk") continue; // chunks of other kinds are skipped
        ++tracksRead;
        TrackScan scan;
        if (!ScanTrack(chunk, scan, info.Error)) return info;
        if (scan.Ticks > info.LengthTicks) info.LengthTicks = scan.Ticks;
        if (scan.TempoTick >= 0 && (tempoTick < 0 || scan.TempoTick < tempoTick)) {
            tempoTick = scan.TempoTick;
            info.FirstTempo = scan.Tempo;
        }
    }
    info.Valid = true;
    return info;
}

} // namespace morvel
