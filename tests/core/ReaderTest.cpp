#include "io/ByteSource.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

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

// Each note lasts until the note-off of its key on its channel (velocity 0 and running status
// included, the last event read byte by byte at the chunk's end) or until it is struck again;
// a note-off of a key not sounding changes nothing; a duration beyond 16 bits is kept as the
// longest. Both readers record the same, when the optimised fingering is to read them.
TEST_F(ReaderTest, NotesKeepTheirDurationsUntilTheirOwnNoteOff) {
    TrackBuilder t;
    t.NoteOn(0, 60)
        .NoteOn(0, 64, 100, 1)
        .NoteOff(96, 60)
        .NoteOn(0, 62)
        .NoteOn(24, 64, 0, 1)
        .NoteOn(72, 67)
        .Delta(48)
        .Raw({62, 0})
        .NoteOff(0, 60)
        .NoteOn(0, 67)
        .Delta(10)
        .Raw({67, 0})
        .End();
    TrackBuilder longNote;
    longNote.NoteOn(0, 40).NoteOff(70000, 40).End();
    const std::string bytes = MidiBuilder(1).Add(t).Add(longNote).Bytes();
    for (int lenient : {0, 1}) {
        Conversion reader;
        reader.Settings.LenientReading = lenient;
        reader.Settings.OptimiseFingering = 1;
        ConvertBytes(reader, bytes);
        ASSERT_EQ(reader.TrackList.size(), 2u);
        EXPECT_EQ(reader.TrackList[0].Durations, (std::vector<uint16_t>{96, 120, 144, 48, 10}))
            << "lenient " << lenient;
        EXPECT_EQ(reader.TrackList[0].EndTime, 250u);
        EXPECT_EQ(reader.TrackList[1].Durations, (std::vector<uint16_t>{UINT16_MAX}));
    }
    Conversion plain;
    ConvertBytes(plain, bytes);
    EXPECT_TRUE(plain.TrackList[0].Durations.empty());
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


// A file several read buffers long, written to disk so the reader refills its buffer many
// times: events of every length straddle the refills, and every note comes out exactly.
TEST_F(ReaderTest, AFileLargerThanTheReadBufferGivesEveryNoteExactly) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    std::vector<NoteRecord> expected[2];
    std::vector<TrackBuilder> tracks(2);
    for (int k = 0; k < 2; ++k) {
        TrackBuilder& t = tracks[k];
        std::vector<NoteRecord>& notes = expected[k];
        uint32_t pending = 0;
        int status = -1; // running status in force, -1 after a system event
        auto delta = [&] {
            const uint32_t kind = next(4);
            const uint32_t ticks = kind < 2 ? 0 : kind == 2 ? next(128) : next(40000);
            pending += ticks;
            t.Delta(ticks);
        };
        auto channelStatus = [&](int value) {
            if (value != status || next(2) == 0) t.Raw({value});
            status = value;
        };
        const size_t size = k == 0 ? 300000 : 5000;
        while (t.bytes.size() < size) {
            const uint32_t kind = next(10);
            const int channel = static_cast<int>(next(16));
            delta();
            if (kind < 5) {
                const int note = 30 + static_cast<int>(next(70));
                channelStatus(0x90 | channel);
                t.Raw({note, 1 + static_cast<int>(next(127))});
                notes.push_back({pending, static_cast<uint16_t>(note),
                                 static_cast<uint8_t>(channel), ' '});
                pending = 0;
            } else if (kind == 5) {
                channelStatus(0x80 | channel);
                t.Raw({static_cast<int>(next(128)), 64});
            } else if (kind == 6 || kind == 7) {
                channelStatus((kind == 6 ? 0xC0 : 0xD0) | channel);
                t.Raw({static_cast<int>(next(128))});
                if (!notes.empty()) notes.back().Special = kind == 6 ? 'P' : 'V';
            } else {
                // A system exclusive message of up to 700 bytes, or a sequencer-specific meta
                // event, whose length the reader takes as one byte.
                const int length = static_cast<int>(next(kind == 8 ? 700 : 128));
                if (kind == 8) {
                    t.Raw({0xF0});
                    t.Delta(static_cast<uint32_t>(length + 1));
                } else {
                    t.Raw({0xFF, 0x7F});
                    t.Delta(static_cast<uint32_t>(length));
                }
                for (int i = 0; i < length; ++i)
                    t.Raw({static_cast<int>(next(128))});
                if (kind == 8) t.Raw({0xF7});
                status = -1;
            }
        }
        t.End();
    }
    const std::string bytes = MidiBuilder(1, 480).Add(tracks[0]).Add(tracks[1]).Bytes();
    ASSERT_GT(bytes.size(), 4u * 64 * 1024);

    const std::string path = ::testing::TempDir() + "morvel-buffered-read.mid";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
    }

    // The byte source itself: every byte in order and the count of bytes left, whatever mix
    // of single bytes, peeks, blocks and push-backs takes them.
    ByteSource source;
    std::string why;
    bool refused = false;
    ASSERT_TRUE(source.OpenFile(path, why, refused)) << why;
    size_t at = 0;
    while (at < bytes.size()) {
        // Whatever a peek shows is what comes next.
        for (size_t count = 1; count <= 16 && count <= bytes.size() - at; ++count) {
            if (const uint8_t* peeked = source.Peek(count)) {
                ASSERT_EQ(std::string(reinterpret_cast<const char*>(peeked), count),
                          bytes.substr(at, count))
                    << at;
            }
        }
        const uint32_t op = next(4);
        if (op == 0) {
            ASSERT_EQ(source.Get(), static_cast<uint8_t>(bytes[at])) << at;
            ++at;
        } else if (op == 1) {
            const size_t count = std::min<size_t>(1 + next(16), bytes.size() - at);
            if (const uint8_t* peeked = source.Peek(count)) {
                ASSERT_EQ(std::string(reinterpret_cast<const char*>(peeked), count),
                          bytes.substr(at, count))
                    << at;
                source.Skip(count);
                at += count;
            }
        } else if (op == 2) {
            std::vector<uint8_t> block(next(3000));
            const size_t got = source.Read(block.data(), block.size());
            ASSERT_EQ(got, std::min(block.size(), bytes.size() - at));
            ASSERT_EQ(std::string(block.begin(), block.begin() + static_cast<long>(got)),
                      bytes.substr(at, got))
                << at;
            at += got;
        } else {
            const int value = source.Get();
            source.Unget(value);
            ASSERT_EQ(source.Get(), static_cast<uint8_t>(bytes[at])) << at;
            ++at;
        }
        ASSERT_EQ(source.Remaining(), bytes.size() - at) << at;
    }
    EXPECT_EQ(source.Get(), ByteSource::END);
    source.Close();

    // The whole conversion of the file.
    conv.MidiFileName = path;
    std::vector<std::string> errors;
    conv.SetReporter([&errors](const std::string& text) { errors.push_back(text); });
    conv.SetReportSink([](std::string_view) {});
    conv.ConvertMidiFile();
    std::remove(path.c_str());
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(conv.TrackList.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        const std::vector<NoteRecord>& notes = conv.TrackList[k].Notes;
        ASSERT_EQ(notes.size(), expected[k].size()) << k;
        for (size_t i = 0; i < notes.size(); ++i) {
            ASSERT_EQ(notes[i].DeltaTime, expected[k][i].DeltaTime) << k << " " << i;
            ASSERT_EQ(notes[i].Note, expected[k][i].Note) << k << " " << i;
            ASSERT_EQ(notes[i].Channel, expected[k][i].Channel) << k << " " << i;
            ASSERT_EQ(notes[i].Special, expected[k][i].Special) << k << " " << i;
        }
    }
}

} // namespace
} // namespace morvel
