// The note list: the columns the text tablature writes, taken note by note.
//
// Every note of a track belongs to the column its onset opens (a note with a delta time of 0
// joins the column before it); the column's frets are those the text shows. A note's string
// is the one whose open pitch plus the column's fret on it sounds the note as placed (after
// the octave folding of Bass Mode and Force Fit).
#include "cli/NoteList.h"

#include "core/Placement.h"
#include "formats/MidiTimeline.h"

#include <vector>

namespace morvel::cli {

namespace {

bool IsNoteColumn(const TabColumn& column) {
    return column.Label == LABEL_NOTES || column.Label == LABEL_TOO_LOW ||
           column.Label == LABEL_TOO_HIGH;
}

// The note-off tick less the onset of every note of `track`, when the timeline holds exactly
// the track's notes; empty otherwise.
std::vector<uint64_t> Durations(const TrackRecord& track, const TimelineTrack* timed) {
    if (!timed || timed->Notes.size() != track.Notes.size()) return {};
    std::vector<uint64_t> durations(track.Notes.size());
    uint64_t tick = 0;
    for (size_t i = 0; i < track.Notes.size(); ++i) {
        const NoteRecord& n = track.Notes[i];
        const TimelineNote& t = timed->Notes[i];
        tick += n.DeltaTime;
        if (t.Start != tick || t.Key != n.Note || t.Channel != n.Channel) return {};
        durations[i] = t.End - t.Start;
    }
    return durations;
}

// "string<TAB>fret" of the note `stored` in `column` as the text shows it, or "<TAB>" when the
// column holds no fret sounding it.
std::string PositionOf(const TabColumn& column, int stored, const Conversion& conversion) {
    const FoldedNote folded = FoldNote(stored, conversion.StringPitch, conversion.Settings);
    if (folded.Range == NOTE_TOO_LOW || folded.Range == NOTE_DAMAGED) return "\t";
    for (int s = 0; s < STRING_COUNT; ++s) {
        const uint8_t fret = column.Fret[s];
        if (fret != NO_FRET &&
            conversion.StringPitch[static_cast<size_t>(s)] + fret == folded.Pitch)
            return std::to_string(s + 1) + '\t' + std::to_string(fret);
    }
    return "\t";
}

} // namespace

bool WriteNoteList(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   int track, const std::function<void(std::string_view)>& sink,
                   std::string& error) {
    std::vector<std::vector<TabColumn>> columns;
    conversion.SetReportSink([](std::string_view) {});
    conversion.SetColumnObserver([&](uint32_t t, const TabColumn& column) {
        if (!IsNoteColumn(column)) return;
        if (columns.size() <= t) columns.resize(t + 1);
        columns[t].push_back(column);
    });
    conversion.ConvertMidiBytes(bytes, displayName);
    conversion.SetColumnObserver({});
    conversion.SetReportSink({});

    const size_t trackCount = conversion.TrackList.size();
    if (track > 0 && static_cast<size_t>(track) > trackCount) {
        error = "no track " + std::to_string(track) + ": the file has " +
                std::to_string(trackCount) + (trackCount == 1 ? " track" : " tracks");
        return false;
    }
    const MidiTimeline timeline = ReadMidiTimeline(bytes);
    sink(NOTE_LIST_HEADER);
    std::string text;
    for (size_t t = 0; t < trackCount; ++t) {
        if (track > 0 && t + 1 != static_cast<size_t>(track)) continue;
        const TrackRecord& record = conversion.TrackList[t];
        const std::vector<uint64_t> durations =
            Durations(record, t < timeline.Tracks.size() ? &timeline.Tracks[t] : nullptr);
        const std::vector<TabColumn> none;
        const std::vector<TabColumn>& shown = t < columns.size() ? columns[t] : none;
        uint64_t tick = 0;
        size_t column = 0;
        for (size_t i = 0; i < record.Notes.size(); ++i) {
            const NoteRecord& note = record.Notes[i];
            tick += note.DeltaTime;
            if (i > 0 && note.DeltaTime > 0) ++column;
            std::string position = "\t";
            if (column < shown.size() && shown[column].Label == LABEL_NOTES)
                position = PositionOf(shown[column], note.Note, conversion);
            text += std::to_string(t + 1) + '\t' + std::to_string(tick) + '\t' +
                    (durations.empty() ? std::string() : std::to_string(durations[i])) + '\t' +
                    std::to_string(note.Note) + '\t' + position + '\n';
            if (text.size() >= (1u << 16)) {
                sink(text);
                text.clear();
            }
        }
    }
    if (!text.empty()) sink(text);
    return true;
}

} // namespace morvel::cli
