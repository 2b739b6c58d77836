#include "formats/MidiTimeline.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace morvel {
namespace {

using test::ConvertBytes;
using test::MidiBuilder;
using test::TrackBuilder;

// Each track's notes as (start tick, key).
using Starts = std::vector<std::vector<std::pair<uint64_t, int>>>;

Starts StartsOf(const Conversion& conv) {
    Starts starts;
    for (const TrackRecord& track : conv.TrackList) {
        starts.emplace_back();
        uint64_t tick = 0;
        for (const NoteRecord& note : track.Notes)
            starts.back().emplace_back(tick += note.DeltaTime, note.Note);
    }
    return starts;
}

Starts StartsOf(const MidiTimeline& timeline) {
    Starts starts;
    for (const TimelineTrack& track : timeline.Tracks) {
        starts.emplace_back();
        for (const TimelineNote& note : track.Notes)
            starts.back().emplace_back(note.Start, note.Key);
    }
    return starts;
}

std::string Track(const TrackBuilder& track) {
    return MidiBuilder(0).Add(track).Bytes();
}

struct Departure {
    const char* What;
    std::string Bytes;
    Starts Notes;       // what lenient reading finds
    bool StrictRefuses; // the designed reader stops the conversion
};

std::vector<Departure> Departures() {
    std::vector<Departure> cases;
    const std::string name(200, 'n');
    TrackBuilder longText;
    longText.Delta(0).Raw({0xFF, 0x03, 0x81, 0x48});
    longText.bytes.insert(longText.bytes.end(), name.begin(), name.end());
    longText.Note(0, 60, 96).NoteOn(0, 62).End();
    cases.push_back({"a 200-byte track name", Track(longText), {{{0, 60}, {96, 62}}}, true});

    TrackBuilder acrossMeta;
    acrossMeta.NoteOn(0, 60).Meta(0, 0x06, "verse").Delta(96).Raw({62, 100}).Delta(96).Raw({60, 0});
    acrossMeta.End();
    cases.push_back(
        {"running status across a meta event", Track(acrossMeta), {{{0, 60}, {96, 62}}}, true});

    TrackBuilder acrossSysex;
    acrossSysex.NoteOn(0, 60).Delta(0).Raw({0xF0, 2, 0x7E, 0xF7}).Delta(48).Raw({64, 100});
    acrossSysex.Delta(0).Raw({0xF7, 2, 0x43, 0x12}).Delta(48).Raw({65, 100}).End();
    cases.push_back({"running status across system-exclusive events",
                     Track(acrossSysex),
                     {{{0, 60}, {48, 64}, {96, 65}}},
                     false});

    TrackBuilder unknownMeta;
    unknownMeta.Delta(0).Raw({0xFF, 0x4B, 3, 'a', 'b', 'c'}).NoteOn(5, 60).End();
    cases.push_back({"an unknown meta type", Track(unknownMeta), {{{5, 60}}}, true});

    TrackBuilder stray;
    stray.Delta(0).Raw({0x70}).NoteOn(10, 60).Delta(0).Raw({0xF8}).Delta(0).Raw({0xF2, 0x10, 0x20});
    stray.Delta(0).Raw({0xF1, 0x05}).Delta(48).Raw({64, 100}).End();
    cases.push_back({"a data byte with no status, stray system statuses",
                     Track(stray),
                     {{{10, 60}, {58, 64}}},
                     true});

    TrackBuilder first, second;
    first.Note(0, 60, 96);
    second.Note(24, 67, 96);
    // An unknown chunk between the header and the tracks; four tracks announced, two there,
    // neither with an end-of-track event.
    std::string counted = MidiBuilder(1).Add(first).Add(second).Announce(4).Bytes();
    counted.insert(14, std::string("XFIH\0\0\0\3abc", 11));
    cases.push_back({"an unknown chunk, two of four tracks, no end-of-track",
                     counted,
                     {{{0, 60}}, {{24, 67}}},
                     true});

    // A header of eight bytes with a format no file has.
    TrackBuilder plain;
    plain.Note(0, 60, 96).End();
    std::string header = Track(plain);
    header[7] = 8;
    header[8] = 0x74;
    header.insert(14, "xy");
    cases.push_back({"a longer header, format 29696", header, {{{0, 60}}}, true});

    // A chunk whose length runs past the end of the file.
    TrackBuilder cut;
    cut.Note(0, 60, 96).NoteOn(0, 62);
    std::string pastEnd = Track(cut);
    pastEnd[20] = 0x10;
    cases.push_back(
        {"a chunk running past the end of the file", pastEnd, {{{0, 60}, {96, 62}}}, true});
    return cases;
}

TEST(LenientReader, ReadsWhatTheStandardAllowsWhereTheDesignedReaderDeparts) {
    for (const Departure& file : Departures()) {
        SCOPED_TRACE(file.What);
        Conversion strict;
        const test::Converted designed = ConvertBytes(strict, file.Bytes);
        EXPECT_FALSE(designed.errors.empty() && StartsOf(strict) == file.Notes)
            << "the designed reader reads it the standard way";
        EXPECT_EQ(designed.report.empty(), file.StrictRefuses);
        EXPECT_EQ(strict.OpensWithLenientReading(), file.StrictRefuses);

        Conversion conv;
        conv.Settings.LenientReading = 1;
        const test::Converted lenient = ConvertBytes(conv, file.Bytes);
        EXPECT_TRUE(lenient.errors.empty()) << lenient.errors.front();
        EXPECT_EQ(StartsOf(conv), file.Notes);
        EXPECT_EQ(conv.Header.TrackCount, file.Notes.size());
        EXPECT_FALSE(conv.OpensWithLenientReading());
        EXPECT_NE(lenient.report.find("Track 1:"), std::string::npos);
        // Where the standard's reader reads the file, it finds the same notes.
        if (const MidiTimeline timeline = ReadMidiTimeline(file.Bytes); timeline.Valid) {
            EXPECT_EQ(StartsOf(timeline), file.Notes);
        }
    }
    // A track name read whole keeps its first 99 characters.
    Conversion conv;
    conv.Settings.LenientReading = 1;
    ConvertBytes(conv, Departures().front().Bytes);
    EXPECT_EQ(conv.TrackList.at(0).TrackName, std::string(TEXT_LIMIT, 'n'));
}

TEST(LenientReader, AFileThatFollowsTheStandardGivesTheSameReport) {
    TrackBuilder lead;
    lead.Name("Lead").TimeSig(6, 3).Tempo().Meta(0, 0x01, std::string(127, 't'));
    lead.Meta(0, 0x02, "(c) x")
        .Delta(0)
        .Raw({0xF0, 3, 1, 2, 0xF7})
        .Delta(0)
        .Raw({0xFF, 0x00, 2, 0, 1});
    lead.Delta(0).Raw({0xFF, 0x59, 2, 0xFE, 0}).Delta(0).Raw({0xFF, 0x21, 1, 0});
    lead.NoteOn(0, 60)
        .Delta(48)
        .Raw({64, 100})
        .Delta(0)
        .Raw({0xE0, 0, 0x60})
        .Delta(0)
        .Raw({0xB0, 7, 90});
    lead.NoteOff(48, 60).Chord(0, {52, 59, 64}, 96).Delta(0).Raw({0xC0, 24}).End(12);
    TrackBuilder bass;
    bass.Name("Bass").Note(0, 40, 192).Note(0, 45, 192).End();
    const std::string bytes = MidiBuilder(1, 120).Add(lead).Add(bass).Bytes();
    for (int chords : {0, 1}) {
        Conversion strict;
        strict.Settings.ShowChord = chords;
        const test::Converted designed = ConvertBytes(strict, bytes);
        Conversion conv;
        conv.Settings.ShowChord = chords;
        conv.Settings.LenientReading = 1;
        const test::Converted lenient = ConvertBytes(conv, bytes);
        EXPECT_TRUE(designed.errors.empty()) << designed.errors.front();
        EXPECT_TRUE(lenient.errors.empty()) << lenient.errors.front();
        EXPECT_EQ(lenient.report, designed.report);
        EXPECT_EQ(conv.TrackList.at(0).Text, strict.TrackList.at(0).Text);
        EXPECT_EQ(conv.TrackList[0].EndTime, strict.TrackList[0].EndTime);
    }
}

// Lengths far beyond the file, cut events and chunks of any kind end quietly; a file neither
// reader takes gives no hint.
TEST(LenientReader, HostileLengthsEndAtTheFilesEnd) {
    auto leniently = [](const std::string& bytes) {
        Conversion conv;
        conv.Settings.LenientReading = 1;
        const test::Converted out = ConvertBytes(conv, bytes);
        return std::pair(StartsOf(conv), out.errors);
    };
    TrackBuilder note;
    note.NoteOn(0, 60);
    for (const std::vector<int>& tail : std::vector<std::vector<int>>{
             {0, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F, 'a'}, // a text of 256 MiB
             {0, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},      // an endless length
             {0, 0x90, 62},                                // an event cut short
             {0x81}}) {                                    // a cut delta time
        TrackBuilder t = note;
        for (int byte : tail)
            t.bytes.push_back(static_cast<uint8_t>(byte));
        std::string bytes = Track(t);
        bytes.replace(18, 4, "\xFF\xFF\xFF\xFF");
        const auto [starts, errors] = leniently(bytes);
        EXPECT_TRUE(errors.empty()) << errors.front();
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].front(), std::pair(uint64_t(0), 60));
    }
    // A header length past the end of the file is damaged: the track after it is read.
    std::string header = Track(note);
    header.replace(4, 4, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(leniently(header).first, (Starts{{{0, 60}}}));
    // An unknown chunk longer than the file: no track after it.
    std::string chunk = Track(note);
    chunk.replace(14, 8, "JUNK\xFF\xFF\xFF\xF0");
    EXPECT_EQ(leniently(chunk), std::pair(Starts{}, std::vector<std::string>{}));

    for (const std::string& bytes : {std::string("RIFF0000000000"), std::string("MThd\0\0", 6)}) {
        Conversion strict;
        EXPECT_FALSE(ConvertBytes(strict, bytes).errors.empty());
        EXPECT_FALSE(strict.OpensWithLenientReading());
    }
}

} // namespace
} // namespace morvel
