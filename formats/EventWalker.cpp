#include "formats/EventWalker.h"

namespace morvel {

namespace {

constexpr size_t CHUNK_HEADER_BYTES = 8;
constexpr uint32_t MIN_HEADER_LENGTH = 6;

uint32_t Big(std::string_view bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

} // namespace

bool StartsWithMidiHeader(std::string_view bytes) {
    return bytes.size() >= MIDI_HEADER_BYTES && bytes.substr(0, 4) == "MThd";
}

bool ForEachTrack(std::string_view bytes, MidiFileHeader& header, std::string& error,
                  const std::function<bool(uint32_t index, std::string_view chunk)>& onTrack) {
    header = MidiFileHeader{};
    if (!StartsWithMidiHeader(bytes)) {
        error = "not a Standard MIDI File";
        return false;
    }
    const uint32_t headerLength = Big(bytes, 4, 4);
    if (headerLength < MIN_HEADER_LENGTH || headerLength > bytes.size() - CHUNK_HEADER_BYTES) {
        error = "the file header is damaged";
        return false;
    }
    header.Format = static_cast<int>(Big(bytes, 8, 2));
    header.TrackCount = Big(bytes, 10, 2);
    header.Division = Big(bytes, 12, 2);
    if (header.Division == 0) {
        error = "the file header gives no division";
        return false;
    }
    size_t at = CHUNK_HEADER_BYTES + headerLength;
    for (uint32_t index = 0; index < header.TrackCount;) {
        if (bytes.size() - at < CHUNK_HEADER_BYTES) {
            error = "the file ends before its last track";
            return false;
        }
        const std::string_view id = bytes.substr(at, 4);
        const uint32_t length = Big(bytes, at + 4, 4);
        at += CHUNK_HEADER_BYTES;
        if (length > bytes.size() - at) {
            error = "the file ends inside a track";
            return false;
        }
        const std::string_view chunk = bytes.substr(at, length);
        at += length;
        if (id != "MTrk") continue; // chunks of other kinds are skipped
        if (!onTrack(index++, chunk)) return false;
    }
    return true;
}

} // namespace morvel
