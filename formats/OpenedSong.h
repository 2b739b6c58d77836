// One opened song: a Standard MIDI File read once, at open, and never read again. The window's
// tablature, the player, the practice program and every export are made from the same bytes,
// so they agree even when the file on disk changes after it was opened.
//
// An OpenedSong is immutable and shared as std::shared_ptr<const OpenedSong>; whoever holds
// one may read it from any thread.
#pragma once

#include "core/Conversion.h"
#include "core/Song.h"
#include "formats/MidiTimeline.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvel {

// The largest MIDI file read; a larger one is refused before its bytes are read.
constexpr uint64_t MAX_SONG_BYTES = uint64_t(256) << 20;
constexpr const char* MAX_SONG_TEXT = "256 MiB";

struct OpenedSong {
    // The file's name as given: the bytes of the path, whatever their encoding.
    std::string Path;
    // What was read: the whole file, or, when its first bytes are no MIDI file header, only
    // those (up to the header's 14 bytes), which is all a conversion of it reads.
    std::string Bytes;
    // The conversion's song model as the open read it (before any later reconversion).
    SongHeader Header;
    std::vector<TrackRecord> TrackList;
    // The same bytes read by the timeline reader.
    MidiTimeline Timeline;
};

using SongPointer = std::shared_ptr<const OpenedSong>;

// Reads the MIDI file at `path` as every reader of a song does: a regular file only (a FIFO,
// a device or a folder is refused at once, never waited on), through one io ByteSource, the
// header's bytes first; when they are no MIDI file header, nothing more is read; otherwise a
// file larger than MAX_SONG_BYTES is refused before the rest is read. False when the file
// could not be opened or was refused, with the reason in `why` (lower case, no full stop:
// "is a directory", "is larger than 256 MiB", "No such file or directory") and `refused` set
// when the file exists but was refused for its kind or size.
bool ReadSongBytes(const std::string& path, std::string& bytes, std::string& why, bool& refused);

// Reads the MIDI file at `path` for `conversion` (ReadSongBytes). When it cannot be read, the
// conversion reports why in its own words ("Can't open MIDI file '...'.", with the refusal's
// reason on a line of its own), its song is emptied and false is returned.
bool ReadSongForConversion(Conversion& conversion, const std::string& path, std::string& bytes);

// Opens the song at `path`: reads it once (ReadSongBytes), converts the bytes with
// `conversion` (its settings, reporter and report sink as the caller set them; MidiFileName
// becomes `path`) and reads the timeline. The conversion's report, messages and TrackList are
// those a conversion of the file itself gives. A file that could not be read is reported
// through the conversion's reporter in its own words ("Can't open MIDI file '...'.", with the
// refusal's reason on a line of its own) and gives null; a file that was read gives a song
// whatever the conversion reported.
SongPointer OpenSong(Conversion& conversion, const std::string& path);

// The same over bytes in memory; `name` stands in for the path. Never null.
SongPointer OpenSongBytes(Conversion& conversion, std::string bytes, const std::string& name);

// A song of `bytes` read by the timeline reader only, without a conversion (Header and
// TrackList empty): for the player and tools that need no tablature. Never null.
SongPointer SongOfBytes(std::string bytes, const std::string& name);

// Converts `song` again with the conversion's settings in force now: the report and TrackList
// a conversion of its bytes gives; the file is not read.
void ConvertSong(Conversion& conversion, const OpenedSong& song);

} // namespace morvel
