#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;
using Starts = std::vector<std::vector<std::pair<uint64_t, int>>>; // (tick, key) per track

Starts StartsOf(const Conversion& conv) {
    Starts starts;
    for (const TrackRecord& track : conv.TrackList) {
        uint64_t tick = 0;
        starts.emplace_back();
        for (const NoteRecord& note : track.Notes)
            starts.back().emplace_back(tick += note.DeltaTime, note.Note);
    }
    return starts;
}

std::string OneTrack(TrackBuilder track, std::initializer_list<int> tail = {}) {
    return MidiBuilder(0).Add(track.Raw(tail)).Bytes();
}

// Each departure of the strict reader from the standard, and hostile lengths: the strictRead
// reader refuses or misreads the file, lenient reading finds the notes given without a
// message. A file that follows the standard gives the same report either way.
TEST(LenientReader, ReadsTheStandardWayWhereTheStrictReaderDeparts) {
    TrackBuilder note, text, standard;
    note.NoteOn(0, 60).NoteOn(96, 60, 0); // running status 0x90 from here
    text.Delta(0).Raw({0xFF, 0x03, 0x81, 0x48}).bytes.insert(text.bytes.end(), 200, 'n');
    text.Note(0, 60, 96);
    standard.Name("Lead").TimeSig(6, 3).Tempo().Meta(0, 0x01, std::string(127, 't'));
    standard.Delta(0).Raw({0xF0, 3, 1, 2, 0xF7, 0, 0xFF, 0x00, 2, 0, 1, 0, 0xFF, 0x59, 2, 0, 0});
    standard.Note(0, 60, 48).Raw({0, 0xE0, 0, 0x60, 0, 0xB0, 7, 90}).Chord(0, {52, 59}, 96);
    std::string counted = MidiBuilder(1).Add(note).Add(note).Announce(4).Bytes();
    counted.insert(14, std::string("XFIH\0\0\0\3abc", 11)); // and no end-of-track
    std::string header = OneTrack(note, {0, 0xFF, 0x2F, 0}), pastEnd = OneTrack(note);
    header[7] = 8; // eight bytes long, format 29696
    header[8] = 0x74;
    header.insert(14, "xy");
    pastEnd[20] = 0x10;
    std::string damagedHeader = OneTrack(note), junk = OneTrack(note);
    damagedHeader.replace(4, 4, "\xFF\xFF\xFF\xFF");
    junk.replace(14, 8, "JUNK\xFF\xFF\xFF\xF0");

    enum Kind { DEPARTS, HOSTILE, STANDARD };
    const Starts one = {{{0, 60}}}, two = {{{0, 60}, {96, 62}}};
    const struct {
        std::string Bytes;
        Starts Notes;
        Kind Is;
    } files[] = {
        {OneTrack(text, {0, 0x90, 62, 1}), two, DEPARTS},                            // long text
        {OneTrack(note, {0, 0xFF, 6, 1, 'M', 0, 62, 1}), two, DEPARTS},              // after meta
        {OneTrack(note, {0, 0xF0, 1, 0xF7, 0, 0xF7, 1, 2, 0, 62, 1}), two, DEPARTS}, // sysex
        {OneTrack(note, {0, 0xFF, 0x4B, 1, 'a', 0, 0x90, 62, 1}), two, DEPARTS},     // meta type
        {OneTrack({}, {0, 0x70, 0, 0x90, 60, 1, 0, 0xF8, 0, 0xF2, 1, 2, 0x60, 62, 1}), two,
         DEPARTS},
        {counted, {{{0, 60}}, {{0, 60}}}, DEPARTS},
        {header, one, DEPARTS},
        {pastEnd, one, DEPARTS},
        {junk, {}, DEPARTS},
        {OneTrack(note, {0, 0xFF, 1, 0x8F, 0xFF, 0xFF, 0x7F, 'a'}), one, HOSTILE}, // 256 MiB text
        {OneTrack(note, {0, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), one, HOSTILE},   // endless
        {damagedHeader, one, HOSTILE},
        {MidiBuilder(1, 120).Add(standard.End()).Bytes(),
         {{{0, 60}, {48, 52}, {48, 59}}},
         STANDARD},
    };
    for (const auto& [bytes, notes, kind] : files) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        Conversion strict, conv;
        conv.Settings.LenientReading = 1;
        const test::Converted strictRead = test::ConvertBytes(strict, bytes);
        const test::Converted lenient = test::ConvertBytes(conv, bytes);
        EXPECT_TRUE(lenient.errors.empty()) << lenient.errors.front();
        EXPECT_EQ(StartsOf(conv), notes);
        EXPECT_EQ(conv.Header.TrackCount, notes.size());
        EXPECT_TRUE(kind != STANDARD || lenient.report == strictRead.report);
        EXPECT_TRUE(kind != DEPARTS || !strictRead.errors.empty() || StartsOf(strict) != notes)
            << "the strict reader reads it the same way";
        // The hint: given exactly when the strict reader wrote no report.
        EXPECT_EQ(strict.OpensWithLenientReading(), strictRead.report.empty());
    }
    Conversion conv;
    conv.Settings.LenientReading = 1;
    test::ConvertBytes(conv, files[0].Bytes);
    EXPECT_EQ(conv.TrackList.at(0).TrackName, std::string(TEXT_LIMIT, 'n'));
}

} // namespace
} // namespace morvel
