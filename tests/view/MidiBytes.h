// MIDI file bytes for the view tests, made with the shared test builder.
#pragma once

#include "tests/support/MidiBuilder.h"

#include <QByteArray>

#include <vector>

namespace morvel::viewtest {

using Track = test::TrackBuilder;

inline QByteArray Song(const std::vector<Track>& tracks, int division = 480, int format = 1) {
    test::MidiBuilder song(format, division);
    for (const Track& track : tracks)
        song.Add(track);
    return QByteArray::fromStdString(song.Bytes());
}

// A song of one guitar track with one note: a file that opens.
inline QByteArray OneTrack() {
    Track t;
    t.Name("Guitar").Note(0, 64, 480).End();
    return Song({t});
}

} // namespace morvel::viewtest
