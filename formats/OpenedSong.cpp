#include "formats/OpenedSong.h"

#include "formats/EventWalker.h"
#include "io/ByteSource.h"

#include <algorithm>

namespace morvel {

namespace {

constexpr size_t READ_STEP = size_t(1) << 20;

std::shared_ptr<OpenedSong> NewSong(std::string bytes, const std::string& name) {
    auto song = std::make_shared<OpenedSong>();
    song->Path = name;
    song->Bytes = std::move(bytes);
    song->Timeline = ReadMidiTimeline(song->Bytes);
    return song;
}

} // namespace

bool ReadSongBytes(const std::string& path, std::string& bytes, std::string& why, bool& refused) {
    bytes.clear();
    why.clear();
    refused = false;
    ByteSource in;
    if (!in.OpenFile(path, why, refused)) return false;
    bytes.resize(MIDI_HEADER_BYTES);
    bytes.resize(in.Read(reinterpret_cast<uint8_t*>(bytes.data()), MIDI_HEADER_BYTES));
    if (!StartsWithMidiHeader(bytes))
        return true; // the conversion says what is wrong with the header
    if (in.Remaining() > MAX_SONG_BYTES - MIDI_HEADER_BYTES) {
        why = std::string("is larger than ") + MAX_SONG_TEXT;
        refused = true;
        bytes.clear();
        return false;
    }
    // One byte more than the file holds: the read that finds its end needs no more room.
    bytes.reserve(MIDI_HEADER_BYTES + in.Remaining() + 1);
    // A file that grows past the bound while it is read is refused as well.
    while (bytes.size() < MAX_SONG_BYTES) {
        const size_t at = bytes.size();
        const size_t room = bytes.capacity() > at ? bytes.capacity() - at : READ_STEP;
        const size_t step = std::min({READ_STEP, room, MAX_SONG_BYTES - at});
        bytes.resize(at + step);
        const size_t got = in.Read(reinterpret_cast<uint8_t*>(bytes.data() + at), step);
        bytes.resize(at + got);
        if (got < step) return true;
    }
    if (in.Get() == ByteSource::END) return true;
    why = std::string("is larger than ") + MAX_SONG_TEXT;
    refused = true;
    bytes.clear();
    return false;
}

bool ReadSongForConversion(Conversion& conversion, const std::string& path, std::string& bytes) {
    std::string why;
    bool refused = false;
    if (ReadSongBytes(path, bytes, why, refused)) return true;
    conversion.MidiFileName = path;
    conversion.ConvertUnopenedFile(refused ? why : std::string());
    return false;
}

SongPointer OpenSong(Conversion& conversion, const std::string& path) {
    std::string bytes;
    if (!ReadSongForConversion(conversion, path, bytes)) return nullptr;
    return OpenSongBytes(conversion, std::move(bytes), path);
}

SongPointer OpenSongBytes(Conversion& conversion, std::string bytes, const std::string& name) {
    std::shared_ptr<OpenedSong> song = NewSong(std::move(bytes), name);
    conversion.ConvertMidiBytes(song->Bytes, name);
    song->Header = conversion.Header;
    song->TrackList = conversion.TrackList;
    return song;
}

SongPointer SongOfBytes(std::string bytes, const std::string& name) {
    return NewSong(std::move(bytes), name);
}

void ConvertSong(Conversion& conversion, const OpenedSong& song) {
    conversion.ConvertMidiBytes(song.Bytes, song.Path);
}

} // namespace morvel
