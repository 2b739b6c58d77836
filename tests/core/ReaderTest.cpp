#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace morvel {
namespace {

using test::ConvertBytes;
using test::MidiBuilder;
using test::TrackBuilder;

class ReaderTest : public ::testing::Test {
  protected:
    test::Converted Convert(const std::string& bytes) { return ConvertBytes(conv, bytes); }
    Conversion conv;
};

TEST_F(ReaderTest, NotesKeepDeltasAcrossNoteOffsAndOtherEvents) {
    TrackBuilder t;
    t.NoteOn(0, 60)
        .NoteOff(48, 60)
        .Delta(24)
        .Raw({0xB0, 7, 100})
        .NoteOn(24, 62, 0) // vel 0
        .NoteOn(10, 64)
        .End();
    auto out = Convert(MidiBuilder(0).Add(t).Bytes());
    EXPECT_TRUE(out.errors.empty());
    ASSERT_EQ(conv.TrackList.size(), 1u);
    const auto& notes = conv.TrackList[0].Notes;
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Note, 60);
    EXPECT_EQ(notes[0].Special, 'C');
    EXPECT_EQ(notes[1].DeltaTime, 106u);
    EXPECT_EQ(conv.TrackList[0].LastNoteTime, 106u);
    EXPECT_EQ(conv.TrackList[0].EndTime, 0u) << "a stored note resets the end time";
}

TEST_F(ReaderTest, RunningStatusAndChannels) {
    TrackBuilder t;
    t.NoteOn(0, 60, 100, 5).Delta(10).Raw({62, 100}).NoteOff(96, 62, 5).End();
    Convert(MidiBuilder(0).Add(t).Bytes());
    const auto& track = conv.TrackList.at(0);
    ASSERT_EQ(track.Notes.size(), 2u);
    EXPECT_EQ(track.Notes[1].Note, 62);
    EXPECT_EQ(track.Notes[1].Channel, 5);
    EXPECT_EQ(track.Notes[1].DeltaTime, 10u);
    EXPECT_EQ(track.EndTime, 106u);
}

TEST_F(ReaderTest, SpecialLettersFromControllersAndPitchBends) {
    TrackBuilder t;
    t.NoteOn(0, 60)
        .Delta(0)
        .Raw({0xE0, 0x00, 0x40}) // exactly centre: no letter
        .NoteOn(1, 61)
        .Delta(0)
        .Raw({0xE0, 0x01, 0x40}) // 8193: U
        .Delta(0)
        .Raw({0xE0, 0x00, 0x00}) // 0 after U: stays U
        .NoteOn(1, 62)
        .Delta(0)
        .Raw({0xE0, 0x00, 0x00}) // D
        .Delta(0)
        .Raw({0xB0, 1, 2}) // control change replaces it
        .NoteOn(1, 63)
        .Delta(0)
        .Raw({0xA0, 63, 10})
        .NoteOn(1, 64)
        .Delta(0)
        .Raw({0xC0, 25})
        .NoteOn(1, 65)
        .Delta(0)
        .Raw({0xD0, 25})
        .End();
    Convert(MidiBuilder(0).Add(t).Bytes());
    const auto& n = conv.TrackList.at(0).Notes;
    ASSERT_EQ(n.size(), 6u);
    EXPECT_EQ(n[0].Special, ' ');
    EXPECT_EQ(n[1].Special, 'U');
    EXPECT_EQ(n[2].Special, 'C');
    EXPECT_EQ(n[3].Special, 'A');
    EXPECT_EQ(n[4].Special, 'P');
    EXPECT_EQ(n[5].Special, 'V');
}

TEST_F(ReaderTest, ControllersBeforeATracksFirstNoteDoNotMarkThePreviousTrack) {
    TrackBuilder first, second;
    first.NoteOn(0, 60).End();
    second.Delta(0).Raw({0xC1, 25}).NoteOn(0, 62, 100, 1).End();
    Convert(MidiBuilder(1).Add(first).Add(second).Bytes());
    EXPECT_EQ(conv.TrackList.at(0).Notes.at(0).Special, ' ');
}

TEST_F(ReaderTest, TextsAreCutCleanedAndReplaced) {
    std::string longName(120, 'n');
    std::string exact(99, 'x');
    TrackBuilder t;
    t.Name(longName)
        .Meta(0, 0x01,
              std::string("a\0b\x85\x80"
                          "c  \r\n",
                          10))
        .Meta(0, 0x04, "Guitar\x85\x80 \r\n")
        .Meta(0, 0x02, "first")
        .Meta(0, 0x02, "second")
        .Meta(0, 0x05, exact)
        .Meta(0, 0x0A, std::string("misc\0tail", 9))
        .NoteOn(0, 60)
        .End();
    Convert(MidiBuilder(0).Add(t).Bytes());
    const auto& track = conv.TrackList.at(0);
    EXPECT_EQ(track.TrackName, std::string(99, 'n'));
    EXPECT_EQ(track.Text, "a b  c") << "control bytes in text events become spaces";
    EXPECT_EQ(track.InstrumentName, "Guitar \x80") << "0x80 survives outside text events";
    EXPECT_EQ(track.CopyrightNotice, "second");
    EXPECT_EQ(track.Lyric, exact);
    EXPECT_EQ(track.MiscText, "misc") << "a zero byte ends the text";
}

TEST_F(ReaderTest, TimeSignatureAndTempoNames) {
    TrackBuilder conductor, tune, other;
    conductor.Tempo().Name("Conductor").TimeSig(3, 2).TimeSig(6, 3).Tempo().End();
    tune.Tempo().NoteOn(0, 60).End();
    other.NoteOn(0, 60).TimeSig(2, 2).End();
    Convert(MidiBuilder(1).Add(conductor).Add(tune).Add(other).Bytes());
    ASSERT_EQ(conv.TrackList.size(), 3u);
    EXPECT_EQ(conv.TrackList[0].TrackName, "Conductor");
    EXPECT_EQ(conv.TrackList[0].TimeSigNumerator, 6);
    EXPECT_EQ(conv.TrackList[0].TimeSigDenominator, 8);
    EXPECT_EQ(conv.TrackList[1].TrackName, "Set Tempo");
    EXPECT_EQ(conv.TrackList[1].TimeSigNumerator, 6) << "a track starts from the previous one's";
    EXPECT_EQ(conv.TrackList[2].TimeSigDenominator, 4);
    EXPECT_EQ(conv.CountEmptyTracks(), 1);
}

TEST_F(ReaderTest, SystemExclusiveAndSkippedMetaEventsAreConsumedWhole) {
    TrackBuilder t;
    t.Delta(0)
        .Raw({0xF0, 3, 0x90, 0x3C, 0xF7}) // note-on lookalike inside sysex
        .Delta(0)
        .Raw({0xFF, 0x00, 2, 0, 1})
        .Delta(0)
        .Raw({0xFF, 0x20, 1, 5})
        .Delta(0)
        .Raw({0xFF, 0x21, 1, 0})
        .Delta(0)
        .Raw({0xFF, 0x54, 5, 1, 2, 3, 4, 5})
        .Delta(0)
        .Raw({0xFF, 0x59, 2, 0, 0})
        .Delta(0)
        .Raw({0xFF, 0x7F, 3, 1, 2, 3})
        .NoteOn(0, 60)
        .End();
    auto out = Convert(MidiBuilder(0).Add(t).Bytes());
    EXPECT_TRUE(out.errors.empty()) << out.errors.front();
    ASSERT_EQ(conv.TrackList.at(0).Notes.size(), 1u);
    EXPECT_EQ(conv.TrackList[0].Notes[0].Note, 60);
}

TEST_F(ReaderTest, HeaderFailuresShowTheReadersMessageThenTheDrivers) {
    auto format3 = MidiBuilder(3).Bytes();
    auto out = Convert(format3);
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Invalid MIDI type '3'.\r\n");
    EXPECT_EQ(out.errors[1], "Can't read MIDI header.");
    EXPECT_TRUE(out.report.empty());

    out = Convert("RIFF0000000000");
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Unknown header '52 49 46 46'.  Not MIDI!");

    out = Convert("MThd");
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Can't read MIDI file header from 'test.mid'.");

    conv.MidiFileName = "/nonexistent/folder/song.mid";
    std::vector<std::string> errors;
    conv.SetReporter([&](const std::string& text) { errors.push_back(text); });
    conv.SetReportSink([](std::string_view) {});
    conv.ConvertMidiFile();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Can't open MIDI file '/nonexistent/folder/song.mid'.\r\n");
    EXPECT_EQ(errors[1], "Can't read MIDI header.");
}

TEST_F(ReaderTest, TrackFailuresKeepTheTracksReadSoFar) {
    TrackBuilder good;
    good.NoteOn(0, 60).End();
    std::string bytes =
        MidiBuilder(1).Add(good).Announce(2).Bytes() + std::string("MTrx\0\0\0\0", 8);
    auto out = Convert(bytes);
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Unknown track header '4d 54 72 78'.  Not MIDI!");
    EXPECT_EQ(out.errors[1], "Can't read MIDI track.");
    EXPECT_EQ(conv.TrackList.size(), 1u);
    EXPECT_TRUE(out.report.empty()) << "no banner after a failed track header";

    out = Convert(MidiBuilder(1).Add(good).Announce(2).Bytes());
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Can't read MIDI track header, status=0.");
}

TEST_F(ReaderTest, UnknownStatusOrMetaTypeEndsTheConversionWithTwoMessages) {
    TrackBuilder noStatus;
    noStatus.Delta(0).Raw({60, 100}).End();
    auto out = Convert(MidiBuilder(0).Add(noStatus).Bytes());
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Unknown note type '0'.");
    EXPECT_EQ(out.errors[1], "Premature end of track: 6 bytes to go.");

    TrackBuilder badMeta;
    badMeta.Delta(0).Raw({0xFF, 0x30, 0}).NoteOn(0, 60).End();
    out = Convert(MidiBuilder(0).Add(badMeta).Bytes());
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "Unknown system command '30'.");
    EXPECT_EQ(out.errors[1], "Premature end of track: 9 bytes to go.");
}

TEST_F(ReaderTest, AFileEndingInsideATrackStillGetsItsReport) {
    TrackBuilder t;
    t.NoteOn(0, 60).NoteOn(96, 62).NoteOn(96, 64);
    std::string bytes = MidiBuilder(1).Add(t).Announce(3).Bytes();
    // Declare a longer chunk than the file holds and cut the last note's velocity off: the
    // file ends inside an event, whose missing byte reads as 255.
    bytes[21] = 100;
    bytes.pop_back();
    auto out = Convert(bytes);
    ASSERT_EQ(conv.TrackList.size(), 1u);
    EXPECT_EQ(conv.TrackList[0].Notes.size(), 3u);
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0], "The file 'test.mid' ends inside track 1: its tablature stops there.");
    EXPECT_EQ(out.errors[1], "Can't find tracks 2 to 3 !");
    EXPECT_EQ(std::count(out.report.begin(), out.report.end(), TRACK_SEPARATOR), 3);
}

TEST_F(ReaderTest, ARetainedSystemStatusAtTheChunksEndEndsTheTrack) {
    TrackBuilder t;
    t.NoteOn(0, 60).Delta(0).Raw({0xF4}).Delta(0);
    auto out = Convert(MidiBuilder(0).Add(t).Bytes());
    EXPECT_TRUE(out.errors.empty());
    EXPECT_EQ(conv.TrackList.at(0).Notes.size(), 1u);
    EXPECT_NE(out.report.find("Track 1:"), std::string::npos);
}

TEST_F(ReaderTest, AHugeSysExCountAtTheChunksEndDoesNotSpin) {
    TrackBuilder t;
    t.NoteOn(0, 60).Delta(0).Raw({0xF0, 0x8F, 0xFF, 0xFF, 0x7F});
    auto out = Convert(MidiBuilder(0).Add(t).Bytes());
    EXPECT_EQ(conv.TrackList.at(0).Notes.size(), 1u);
    EXPECT_TRUE(out.errors.empty());
}

} // namespace
} // namespace morvel
