// The event walker's rules, and the timeline reader and the practice program reading a file
// by them alike.
#include "formats/EventWalker.h"
#include "formats/MidiTimeline.h"
#include "playback/PracticeProgram.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;

std::string Chunk(const TrackBuilder& track) {
    return std::string(track.bytes.begin(), track.bytes.end());
}

std::vector<MidiEvent> Walk(std::string_view chunk, bool& ok, std::string& error,
                            uint64_t& end) {
    std::vector<MidiEvent> events;
    ok = ForEachEvent(chunk, [&](const MidiEvent& e) { events.push_back(e); }, end, error);
    return events;
}

TEST(EventWalkerTest, RunningStatusSysexMetaAndTheTrackEnd) {
    TrackBuilder track;
    track.Raw({0, 0x91, 60, 100})  // note-on, channel 2
        .Raw({10, 62, 90})         // running status
        .Raw({0, 0xF0, 2, 0x7E, 0xF7}) // system-exclusive, leaves the running status
        .Raw({5, 64, 80})          // still the note-on's running status
        .Raw({0, 0xC3, 25})        // program change: one data byte
        .Tempo()
        .End(7)
        .Raw({0, 0x90, 1, 1}); // after the end: not read
    bool ok = false;
    std::string error;
    uint64_t end = 0;
    const std::string whole = Chunk(track);
    const std::vector<MidiEvent> events = Walk(whole, ok, error, end);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(end, 22u);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[1].Status, 0x91);
    EXPECT_EQ(events[1].Data1, 62);
    EXPECT_EQ(events[1].Tick, 10u);
    EXPECT_EQ(events[2].Status, STATUS_SYSEX);
    EXPECT_EQ(events[2].Body, std::string_view("\x7E\xF7", 2));
    EXPECT_EQ(events[3].Status, 0x91);
    EXPECT_EQ(events[3].Data1, 64);
    EXPECT_EQ(events[3].Data2, 80);
    EXPECT_EQ(events[4].Kind(), STATUS_PROGRAM_CHANGE);
    EXPECT_EQ(events[4].Data1, 25);
    EXPECT_TRUE(events[5].IsMeta(MetaType::Tempo));
    EXPECT_EQ(events[5].Body.size(), 3u);

    // Every cut of the chunk is walked to its break, naming it, and never read past.
    const size_t endOfTrack = whole.find("\xFF\x2F");
    for (size_t size = 0; size < endOfTrack; ++size) {
        const std::string cut = whole.substr(0, size);
        Walk(cut, ok, error, end);
        if (!ok) {
            EXPECT_EQ(error.rfind("a track ends", 0), 0u) << size << ": " << error;
        }
    }
    for (const auto& [bytes, why] : std::vector<std::pair<std::string, std::string>>{
             {std::string("\0\x40\x40", 3), "a data byte without a status byte"},
             {std::string("\0\xF4", 2), "an event no MIDI file may hold"},
             {std::string("\0\xFF\x51\x8F\xFF\xFF\xFF\x7F", 8), "a track ends inside a meta event"}}) {
        Walk(bytes, ok, error, end);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, why);
    }
}

TEST(EventWalkerTest, TheTimelineAndThePracticeProgramReadTheAnnouncedTracksAlike) {
    TrackBuilder first, second, extra;
    first.Tempo().Note(0, 60, 96).End();
    second.Raw({0, 0xC1, 30}).Note(0, 64, 96, 1).Note(0, 65, 96, 1).End();
    extra.Note(0, 70, 96, 2).End();
    // The header announces two tracks; a chunk of another kind stands between them and a
    // third track chunk follows.
    std::string file = MidiBuilder(1, 96).Add(first).Announce(2).Bytes();
    file += std::string("XFIR\0\0\0\3abc", 11);
    const std::string secondChunk = Chunk(second);
    file += "MTrk" + std::string{0, 0, 0, static_cast<char>(secondChunk.size())} + secondChunk;
    const std::string extraChunk = Chunk(extra);
    file += "MTrk" + std::string{0, 0, 0, static_cast<char>(extraChunk.size())} + extraChunk;

    const MidiTimeline timeline = ReadMidiTimeline(file);
    ASSERT_TRUE(timeline.Valid) << timeline.Error;
    ASSERT_EQ(timeline.Tracks.size(), 2u);
    EXPECT_EQ(timeline.Tracks[1].Program, 30);
    EXPECT_EQ(timeline.Tracks[1].Notes.size(), 2u);

    const std::array<int, CHANNELS> programs = ChannelPrograms(file);
    EXPECT_EQ(programs[0], 0);
    EXPECT_EQ(programs[1], 30);
    EXPECT_EQ(programs[2], NO_PROGRAM); // the unannounced track is not read

    ProgramRequest request;
    request.Tracks = TrackChoice::Only;
    request.Track = 1;
    Program program;
    std::string why;
    ASSERT_TRUE(BuildProgram(file, request, program, why)) << why;
    const MidiTimeline built = ReadMidiTimeline(program.Bytes);
    ASSERT_TRUE(built.Valid) << built.Error;
    ASSERT_EQ(built.Tracks.size(), 2u);
    EXPECT_TRUE(built.Tracks[0].Notes.empty()); // not heard
    EXPECT_EQ(built.Tracks[1].Notes.size(), 2u);

    // A file announcing more tracks than it holds is refused by both.
    const std::string short_ = MidiBuilder(1, 96).Add(first).Announce(3).Bytes();
    EXPECT_EQ(ReadMidiTimeline(short_).Error, "the file ends before its last track");
    EXPECT_FALSE(BuildProgram(short_, request, program, why));
    EXPECT_EQ(why, "the file ends before its last track");
}

TEST(EventWalkerTest, TheTimelineReadOneTrackAtATimeHoldsWhatTheWholeReadKeeps) {
    TrackBuilder conductor, guitar;
    conductor.Name("Tempo").Tempo().TimeSig(3, 2).End(10);
    guitar.Name("Lead")
        .Raw({0, 0xC2, 25})
        .NoteOn(0, 60, 90, 2)
        .NoteOn(4, 60, 80, 2) // the same key again: the first note-off ends the first
        .NoteOn(0, 60, 70, 3) // another channel
        .NoteOff(6, 60, 2)
        .NoteOn(2, 64, 60, 2) // still sounding at the track's end
        .NoteOff(3, 60, 3)
        .NoteOff(1, 60, 2)
        .End(5);
    const std::string file = MidiBuilder(1, 96).Add(conductor).Add(guitar).Bytes();
    const MidiTimeline whole = ReadMidiTimeline(file);
    const MidiTimeline map = ReadMidiTimelineWithoutNotes(file);
    ASSERT_TRUE(whole.Valid) << whole.Error;
    ASSERT_TRUE(map.Valid) << map.Error;
    ASSERT_EQ(map.Tracks.size(), 2u);
    EXPECT_EQ(map.Tempos.size(), whole.Tempos.size());
    EXPECT_EQ(map.TimeSignatures.size(), 1u);
    EXPECT_EQ(map.LengthTicks, whole.LengthTicks);
    EXPECT_EQ(map.Tracks[1].Name, "Lead");
    EXPECT_EQ(map.Tracks[1].Program, 25);
    EXPECT_EQ(map.Tracks[1].EndTick, whole.Tracks[1].EndTick);
    EXPECT_TRUE(map.Tracks[1].Notes.empty());

    std::vector<TimelineNote> notes;
    const bool read = ForEachTrackNote(
        file, 1,
        [&](uint32_t index, const TimelineNote& note) {
            EXPECT_EQ(index, notes.size());
            notes.push_back(note);
        },
        [&](uint32_t index, uint64_t end) {
            ASSERT_LT(index, notes.size());
            EXPECT_EQ(notes[index].End, notes[index].Start) << "ended twice: " << index;
            notes[index].End = end;
        });
    ASSERT_TRUE(read);
    const std::vector<TimelineNote>& kept = whole.Tracks[1].Notes;
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].End, 10u);
    EXPECT_EQ(kept[3].End, 21u);
    ASSERT_EQ(notes.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(notes[i].Start, kept[i].Start) << i;
        EXPECT_EQ(notes[i].End, kept[i].End) << i;
        EXPECT_EQ(notes[i].Key, kept[i].Key) << i;
        EXPECT_EQ(notes[i].Channel, kept[i].Channel) << i;
        EXPECT_EQ(notes[i].Velocity, kept[i].Velocity) << i;
    }
    const auto none = [](uint32_t, const TimelineNote&) {};
    const auto noEnd = [](uint32_t, uint64_t) {};
    EXPECT_FALSE(ForEachTrackNote(file, 2, none, noEnd));
    EXPECT_FALSE(ForEachTrackNote(file.substr(0, file.size() - 3), 1, none, noEnd));
}

} // namespace
} // namespace morvel
