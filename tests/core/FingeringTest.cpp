#include "core/Fingering.h"
#include "core/Metrics.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <vector>

namespace morvel {
namespace {

using test::ConvertBytes;
using test::Lines;
using test::MidiBuilder;
using test::TrackBuilder;

// A one-track file in 4/4: each inner list is one column (its notes struck together), the
// first at once, each further one a quarter note after the one before.
std::string SongOf(const std::vector<std::vector<int>>& columns) {
    TrackBuilder t;
    uint32_t delta = 0;
    for (const std::vector<int>& column : columns) {
        for (size_t i = 0; i < column.size(); ++i)
            t.NoteOn(i == 0 ? delta : 0, column[i]);
        delta = 96;
    }
    t.End(96);
    return MidiBuilder(0).Add(t).Bytes();
}

// Every written column holding notes or a "?", in order.
std::vector<TabColumn> WrittenColumns(Conversion& conv, const std::string& bytes) {
    std::vector<TabColumn> columns;
    conv.SetColumnObserver([&](uint32_t, const TabColumn& column) {
        if (column.Label == LABEL_NOTES || column.Label == LABEL_TOO_LOW ||
            column.Label == LABEL_TOO_HIGH)
            columns.push_back(column);
    });
    ConvertBytes(conv, bytes);
    conv.SetColumnObserver(nullptr);
    return columns;
}

// "s:f" for every fret of a column, or "?" for a "?" column.
std::string Shape(const TabColumn& column) {
    if (column.Label != LABEL_NOTES) return "?";
    std::string text;
    for (int s = 0; s < STRING_COUNT; ++s)
        if (column.Fret[s] != NO_FRET)
            text += (text.empty() ? "" : " ") + std::to_string(s) + ":" +
                    std::to_string(column.Fret[s]);
    return text;
}

std::vector<std::string> Shapes(const std::vector<TabColumn>& columns) {
    std::vector<std::string> shapes;
    for (const TabColumn& column : columns)
        shapes.push_back(Shape(column));
    return shapes;
}

// Lowest and highest fretted (non-open) fret over all columns.
std::pair<int, int> FrettedRange(const std::vector<TabColumn>& columns) {
    int low = MAX_SEARCH_FRET + 1;
    int high = 0;
    for (const TabColumn& column : columns)
        for (uint8_t fret : column.Fret)
            if (fret != NO_FRET && fret > 0) {
                low = std::min<int>(low, fret);
                high = std::max<int>(high, fret);
            }
    return {low, high};
}

// A descending C major scale from C6: the nearest-fret placement slides down the first
// string across eight frets; the search plays it in fifth position, and the text shows that.
TEST(Fingering, ScaleKeptInOnePositionReachesTheTextAndTheOptionOffChangesNothing) {
    const std::string scale = SongOf({{84}, {83}, {81}, {79}, {77}, {76}, {74}, {72}});

    Conversion greedy;
    const std::vector<TabColumn> slid = WrittenColumns(greedy, scale);
    EXPECT_EQ(Shapes(slid),
              (std::vector<std::string>{"0:8", "0:7", "0:5", "0:3", "0:1", "0:0", "1:3", "1:1"}));
    EXPECT_EQ(FrettedRange(slid), std::make_pair(1, 8));

    Conversion optimised;
    optimised.Settings.OptimiseFingering = 1;
    const std::vector<TabColumn> kept = WrittenColumns(optimised, scale);
    EXPECT_EQ(Shapes(kept),
              (std::vector<std::string>{"0:8", "0:7", "0:5", "1:8", "1:6", "0:0", "2:7", "2:5"}));
    const auto [low, high] = FrettedRange(kept);
    EXPECT_LE(high - low, PLAYABLE_SPAN);

    // The text is written from the same assignment.
    const std::vector<std::string> lines = Lines(ConvertBytes(optimised, scale).report);
    const auto staff = std::find(lines.begin(), lines.end(), "|---8--7--5----| |----0---------|");
    ASSERT_NE(staff, lines.end());
    EXPECT_EQ(staff[1], "|M-----------8-| |-6-----------M|");
    EXPECT_EQ(staff[2], "|O-------------| |-------7--5--O|");

    // With the option off the report is the plain placement's, byte for byte, also on an
    // object that ran optimised conversions before.
    Conversion fresh;
    optimised.Settings.OptimiseFingering = 0;
    for (const std::string& bytes : {scale, SongOf({{60, 64, 67}, {88}, {52, 53}})})
        EXPECT_EQ(ConvertBytes(optimised, bytes).report, ConvertBytes(fresh, bytes).report);
}

TEST(Fingering, ChordsGetTheirOnlyVoicingOrAreShownAsUnknownWithNoNoteLost) {
    Conversion conv;
    conv.Settings.OptimiseFingering = 1;
    // After a note at fret 8 the nearest-fret placement puts C4 on the sixth string and then
    // finds no string for G3; only C4 on the fifth string and G3 on the sixth hold both.
    const std::string onlyOne = SongOf({{84}, {60, 55}});
    Conversion greedy;
    EXPECT_EQ(Shapes(WrittenColumns(greedy, onlyOne)), (std::vector<std::string>{"0:8", "?"}));
    EXPECT_EQ(Shapes(WrittenColumns(conv, onlyOne)), (std::vector<std::string>{"0:8", "4:3 5:3"}));

    // Columns no voicing holds: two notes only the sixth string has; a chord wider than a
    // hand (G3 only at fret 3, D6 at fret 10 or higher); seven different notes. Each becomes
    // a "?" column and every one of its notes carries the mark; the columns around keep
    // their frets.
    const std::string bytes =
        SongOf({{64}, {52, 53}, {55, 86}, {52, 57, 62, 67, 71, 76, 80}, {64, 64}});
    EXPECT_EQ(Shapes(WrittenColumns(conv, bytes)),
              (std::vector<std::string>{"3:2", "?", "?", "?", "3:2"}));
    const TrackFingering& placed = conv.OptimisedFingering(0);
    ASSERT_EQ(placed.NoteCount(), 14u);
    for (size_t i = 1; i <= 11; ++i)
        EXPECT_EQ(placed.Position(i), TrackFingering::COLUMN_TOO_HIGH) << i;
    // A pitch sounded twice is played once, on one string.
    EXPECT_EQ(placed.Position(12), placed.Position(13));

    // Below the lowest string with Force Fit off: the column is "?" on the bottom line.
    TabColumn low;
    const TrackFingering lowTrack =
        OptimiseTrackFingering(conv.TrackList[0], conv.StringPitch, conv.Settings, 96);
    EXPECT_EQ(lowTrack.Position(1), placed.Position(1)) << "one search, one answer";
    TrackRecord deep;
    deep.Notes = {{96, 40, 0, ' '}, {0, 64, 0, ' '}};
    const TrackFingering deepTrack =
        OptimiseTrackFingering(deep, conv.StringPitch, conv.Settings, 96);
    deepTrack.PlaceNote(low, 0, ' ', 0);
    deepTrack.PlaceNote(low, 1, ' ', 0);
    EXPECT_EQ(low.Label, LABEL_TOO_LOW);
    // Force Fit folds it up an octave onto the open sixth string instead.
    conv.Settings.ForceFitFret = 1;
    const TrackFingering folded = OptimiseTrackFingering(deep, conv.StringPitch, conv.Settings, 96);
    TabColumn fit;
    folded.PlaceNote(fit, 0, ' ', 0);
    folded.PlaceNote(fit, 1, ' ', 0);
    EXPECT_EQ(Shape(fit), "3:2 5:0");
}

// Settings files can hold any value: the search must still end at once and give every note
// a position on a real string and fret, or a mark.
TEST(Fingering, AnySettingsValueGivesEveryNoteAPositionOrAMark) {
    TrackRecord track;
    for (int note = 0; note < 256; note += 5)
        track.Notes.push_back({note % 3 ? 0u : 96u, static_cast<uint16_t>(note), 0, ' '});
    using Pitches = std::array<int16_t, STRING_COUNT>;
    const Pitches tunings[] = {BaseTuning,
                               {INT16_MAX, INT16_MAX, INT16_MAX, INT16_MIN, INT16_MIN, INT16_MIN},
                               {60, 60, 60, 60, 60, 60},
                               {-100, -90, -80, -70, -60, -50}};
    for (const Pitches& pitches : tunings)
        for (int32_t maxFret : {INT32_MIN, -5, 0, 21, INT32_MAX})
            for (int mode = 0; mode < 4; ++mode) {
                ConversionSettings settings;
                settings.MaxFret = maxFret;
                settings.ForceFitFret = mode & 1;
                settings.BassMode = mode >> 1;
                const TrackFingering placed = OptimiseTrackFingering(track, pitches, settings, 0);
                ASSERT_EQ(placed.NoteCount(), track.Notes.size());
                for (size_t i = 0; i < track.Notes.size(); ++i) {
                    const uint8_t code = placed.Position(i);
                    if (code == TrackFingering::COLUMN_TOO_LOW ||
                        code == TrackFingering::COLUMN_TOO_HIGH)
                        continue;
                    const int string = code >> TrackFingering::STRING_SHIFT;
                    const int fret = code & TrackFingering::FRET_MASK;
                    ASSERT_LT(string, STRING_COUNT);
                    ASSERT_LE(fret, MAX_SEARCH_FRET);
                    const FoldedNote folded = FoldNote(track.Notes[i].Note, pitches, settings);
                    EXPECT_EQ(folded.Pitch, pitches[string] + fret) << i;
                }
            }
}

TEST(Playability, FiguresFollowTheirDefinitions) {
    auto column = [](std::initializer_list<std::pair<int, int>> frets,
                     uint8_t label = LABEL_NOTES) {
        TabColumn c;
        c.Label = label;
        for (auto [s, f] : frets)
            c.Fret[s] = static_cast<uint8_t>(f);
        return c;
    };
    PlayabilityCounter counter;
    counter.AddColumn(column({}, LABEL_TRACK_START));
    counter.AddColumn(column({{0, 3}}));                 // hand 3
    counter.AddColumn(column({{0, 0}, {1, 0}}));         // open strings only: no hand
    counter.AddColumn(column({{1, 9}, {2, 0}, {3, 4}})); // hand 4, span 5: wide
    counter.AddColumn(column({{5, 2}}, LABEL_TOO_LOW));  // "?": no frets shown, no hand
    counter.AddColumn(column({}, LABEL_BAR));
    counter.AddColumn(column({{2, 14}, {3, 10}})); // hand 10: a long shift; one fret above 12
    counter.AddColumn(column({{0, 12}, {4, 0}}));  // hand 12, chord with an open string
    const PlayabilityFigures& f = counter.Figures();
    EXPECT_EQ(f.FretsShown, 10u);
    EXPECT_EQ(f.UnknownColumns, 1u);
    EXPECT_EQ(f.ChordColumns, 4u);
    EXPECT_EQ(f.WideChords, 1u);
    EXPECT_EQ(f.Shifts, 3u); // 3 -> 4 -> 10 -> 12
    EXPECT_EQ(f.ShiftFrets, 9u);
    EXPECT_EQ(f.LongShifts, 1u);
    EXPECT_EQ(f.HighFrets, 1u);
    EXPECT_DOUBLE_EQ(f.MeanShift(), 3.0);
    EXPECT_DOUBLE_EQ(f.HighFretShare(), 10.0);
}

TEST(Playability, RangeHintOnlyForATrackWrittenAnOctaveLow) {
    // A guitar part at sounding pitch: half its notes lie below the open sixth string.
    const std::string low = SongOf({{40}, {45}, {48}, {55}, {59}, {64}});
    Conversion conv;
    std::vector<TrackPlayability> tracks = MeasurePlayability(conv, low, "low.mid");
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].RangeHint, "(50 % below the low string: try Transpose 12)");
    EXPECT_EQ(tracks[0].Figures.Notes, 6u);
    EXPECT_EQ(tracks[0].Figures.UnknownColumns, 3u);
    EXPECT_EQ(tracks[0].Figures.FretsShown, 3u);

    // Taken up the octave, written at pitch, or with Force Fit on: no hint.
    conv.TuningSettings.Transpose = 12;
    EXPECT_EQ(MeasurePlayability(conv, low, "low.mid").at(0).RangeHint, "");
    conv.TuningSettings.Transpose = 0;
    EXPECT_EQ(MeasurePlayability(conv, SongOf({{52}, {57}, {60}, {67}, {71}, {76}}), "at.mid")
                  .at(0)
                  .RangeHint,
              "");
    conv.Settings.ForceFitFret = 1;
    EXPECT_EQ(MeasurePlayability(conv, low, "low.mid").at(0).RangeHint, "");
    conv.Settings.ForceFitFret = 0;
    // Too far down for an octave to help (below the fifth of them): no hint either.
    EXPECT_EQ(
        MeasurePlayability(conv, SongOf({{20}, {22}, {24}, {64}}), "deep.mid").at(0).RangeHint, "");
    // One note in ten below is not enough to speak of.
    EXPECT_EQ(
        MeasurePlayability(
            conv, SongOf({{40}, {52}, {55}, {57}, {59}, {60}, {62}, {64}, {67}, {69}}), "few.mid")
            .at(0)
            .RangeHint,
        "");
}

} // namespace
} // namespace morvel
