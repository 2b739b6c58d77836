// A tiny builder of Standard MIDI File bytes for the view tests.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace morvel::viewtest {

class Track {
  public:
    Track& Delta(uint32_t ticks) {
        uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = ticks & 0x7F;
            ticks >>= 7;
        } while (ticks);
        while (n-- > 0)
            bytes.append(static_cast<char>(groups[n] | (n ? 0x80 : 0)));
        return *this;
    }
    Track& Bytes(std::initializer_list<int> values) {
        for (int v : values)
            bytes.append(static_cast<char>(v));
        return *this;
    }
    Track& Name(const QByteArray& name) {
        Delta(0).Bytes({0xFF, 0x03, static_cast<int>(name.size())});
        bytes.append(name);
        return *this;
    }
    Track& TimeSig(int numerator, int exponent) {
        return Delta(0).Bytes({0xFF, 0x58, 4, numerator, exponent, 24, 8});
    }
    // A note `length` ticks long, starting `delta` ticks after the previous event.
    Track& Note(uint32_t delta, int note, uint32_t length) {
        Delta(delta).Bytes({0x90, note, 100});
        return Delta(length).Bytes({0x80, note, 0});
    }
    // Notes that start together: each `length` ticks long, `delta` after the previous event.
    Track& Chord(uint32_t delta, std::initializer_list<int> notes, uint32_t length) {
        uint32_t d = delta;
        for (int n : notes) {
            Delta(d).Bytes({0x90, n, 100});
            d = 0;
        }
        d = length;
        for (int n : notes) {
            Delta(d).Bytes({0x80, n, 0});
            d = 0;
        }
        return *this;
    }
    Track& PitchBendUp() { return Delta(0).Bytes({0xE0, 0x00, 0x60}); }
    Track& End(uint32_t delta = 0) { return Delta(delta).Bytes({0xFF, 0x2F, 0}); }

    QByteArray bytes;
};

inline QByteArray Song(const std::vector<Track>& tracks, int division = 480, int format = 1) {
    QByteArray out("MThd");
    out.append(QByteArray::fromRawData("\0\0\0\6", 4));
    auto be16 = [&](int v) {
        out.append(static_cast<char>((v >> 8) & 0xFF));
        out.append(static_cast<char>(v & 0xFF));
    };
    be16(format);
    be16(static_cast<int>(tracks.size()));
    be16(division);
    for (const Track& t : tracks) {
        out.append("MTrk");
        const auto n = static_cast<uint32_t>(t.bytes.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(static_cast<char>((n >> shift) & 0xFF));
        out.append(t.bytes);
    }
    return out;
}

} // namespace morvel::viewtest
