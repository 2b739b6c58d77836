// A tiny builder of Standard MIDI File bytes for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

namespace morvel::test {

class TrackBuilder {
  public:
    // Delta time as a variable-length quantity.
    TrackBuilder& Delta(uint32_t ticks) {
        uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = ticks & 0x7F;
            ticks >>= 7;
        } while (ticks != 0);
        while (n-- > 0)
            bytes.push_back(static_cast<uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
        return *this;
    }
    TrackBuilder& Raw(std::initializer_list<int> values) {
        for (int v : values)
            bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    TrackBuilder& NoteOn(uint32_t delta, int note, int velocity = 100, int channel = 0) {
        return Delta(delta).Raw({0x90 | channel, note, velocity});
    }
    TrackBuilder& NoteOff(uint32_t delta, int note, int channel = 0) {
        return Delta(delta).Raw({0x80 | channel, note, 0});
    }
    // A note of `length` ticks starting `delta` after the previous event.
    TrackBuilder& Note(uint32_t delta, int note, uint32_t length, int channel = 0) {
        return NoteOn(delta, note, 100, channel).NoteOff(length, note, channel);
    }
    // Notes that start together, each `length` ticks long, `delta` after the previous event.
    TrackBuilder& Chord(uint32_t delta, std::initializer_list<int> notes, uint32_t length) {
        uint32_t d = delta;
        for (int n : notes) {
            NoteOn(d, n);
            d = 0;
        }
        d = length;
        for (int n : notes) {
            NoteOff(d, n);
            d = 0;
        }
        return *this;
    }
    TrackBuilder& PitchBendUp() { return Delta(0).Raw({0xE0, 0x00, 0x60}); }
    TrackBuilder& Meta(uint32_t delta, int type, const std::string& data) {
        Delta(delta).Raw({0xFF, type, static_cast<int>(data.size())});
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    TrackBuilder& Name(const std::string& name) { return Meta(0, 0x03, name); }
    TrackBuilder& TimeSig(int numerator, int exponent) {
        return Delta(0).Raw({0xFF, 0x58, 4, numerator, exponent, 24, 8});
    }
    TrackBuilder& Tempo() { return Delta(0).Raw({0xFF, 0x51, 3, 0x07, 0xA1, 0x20}); }
    TrackBuilder& End(uint32_t delta = 0) { return Delta(delta).Raw({0xFF, 0x2F, 0}); }

    std::vector<uint8_t> bytes;
};

// A track from (tick, status, key, velocity) events in any order, named `name` when it is not
// empty; a status of 0 ends it.
inline TrackBuilder TrackOf(std::vector<std::tuple<uint32_t, int, int, int>> events,
                            const std::string& name = "") {
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
    TrackBuilder track;
    if (!name.empty()) track.Meta(0, 0x03, name);
    uint32_t tick = 0;
    for (const auto& [at, status, key, velocity] : events) {
        track.Delta(at - tick);
        tick = at;
        if (status == 0)
            track.Raw({0xFF, 0x2F, 0});
        else if ((status & 0xF0) == 0xC0)
            track.Raw({status, key});
        else
            track.Raw({status, key, velocity});
    }
    return track;
}

class MidiBuilder {
  public:
    explicit MidiBuilder(int format = 1, int division = 96)
        : format_(format), division_(division) {}

    MidiBuilder& Add(const TrackBuilder& track) {
        tracks_.push_back(track.bytes);
        return *this;
    }
    // Overrides the track count the header announces.
    MidiBuilder& Announce(int count) {
        announced_ = count;
        return *this;
    }

    std::string Bytes() const {
        std::string out = "MThd";
        Put32(out, 6);
        Put16(out, format_);
        Put16(out, announced_ >= 0 ? announced_ : static_cast<int>(tracks_.size()));
        Put16(out, division_);
        for (const auto& track : tracks_) {
            out += "MTrk";
            Put32(out, static_cast<uint32_t>(track.size()));
            out.append(track.begin(), track.end());
        }
        return out;
    }

  private:
    static void Put16(std::string& out, int value) {
        out.push_back(static_cast<char>((value >> 8) & 0xFF));
        out.push_back(static_cast<char>(value & 0xFF));
    }
    static void Put32(std::string& out, uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }

    int format_;
    int division_;
    int announced_ = -1;
    std::vector<std::vector<uint8_t>> tracks_;
};

} // namespace morvel::test
