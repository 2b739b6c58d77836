#include "core/Fingering.h"
#include "core/FingeringWeights.h"
#include "core/Metrics.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <limits>
#include <random>
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

// Shape of a column from the optimised placement's codes for notes [first, last).
std::string ShapeOf(const TrackFingering& placed, size_t first, size_t last) {
    TabColumn column;
    for (size_t i = first; i < last; ++i)
        placed.PlaceNote(column, i, ' ', 0);
    return Shape(column);
}

TEST(Fingering, TheTextIsWrittenFromTheSearchAndTheOptionOffChangesNothing) {
    const std::string scale = SongOf({{84}, {83}, {81}, {79}, {77}, {76}, {74}, {72}});
    Conversion optimised;
    optimised.Settings.OptimiseFingering = 1;
    const std::vector<std::string> shapes = Shapes(WrittenColumns(optimised, scale));
    const TrackFingering& placed = optimised.OptimisedFingering(0);
    ASSERT_EQ(shapes.size(), 8u);
    for (size_t i = 0; i < shapes.size(); ++i)
        EXPECT_EQ(shapes[i], ShapeOf(placed, i, i + 1)) << i;
    // The search weighs the shift against high frets: C6 starts at the eighth fret.
    EXPECT_EQ(shapes[0], "0:8");

    // With the option off the report is the plain placement's, byte for byte, also on an
    // object that ran optimised conversions before.
    Conversion fresh;
    optimised.Settings.OptimiseFingering = 0;
    for (const std::string& bytes : {scale, SongOf({{60, 64, 67}, {88}, {52, 53}})})
        EXPECT_EQ(ConvertBytes(optimised, bytes).report, ConvertBytes(fresh, bytes).report);
}

TEST(Fingering, EveryNoteAStringCanHoldIsShownAndOnlyColumnsWithoutOneAreMarked) {
    Conversion conv;
    conv.Settings.OptimiseFingering = 1;
    // After a note at fret 8 the nearest-fret placement puts C4 on the sixth string and then
    // finds no string for G3; only C4 on the fifth string and G3 on the sixth hold both.
    const std::string onlyOne = SongOf({{84}, {60, 55}});
    Conversion greedy;
    EXPECT_EQ(Shapes(WrittenColumns(greedy, onlyOne)), (std::vector<std::string>{"0:8", "?"}));
    EXPECT_EQ(Shapes(WrittenColumns(conv, onlyOne)), (std::vector<std::string>{"0:8", "4:3 5:3"}));

    // E2 below the low string struck with A3 and E4: both placements show A3 and E4, the
    // optimised one whatever the order of the notes.
    for (const std::vector<int>& column : {std::vector<int>{40, 57, 64}, {57, 64, 40}}) {
        const std::vector<std::string> shown = Shapes(WrittenColumns(conv, SongOf({column})));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0], "?");
        EXPECT_EQ(std::count(shown[0].begin(), shown[0].end(), ':'), 2) << shown[0];
    }
    EXPECT_EQ(Shapes(WrittenColumns(greedy, SongOf({{40, 57, 64}}))),
              (std::vector<std::string>{"3:2 4:0"}));

    // Two notes only the sixth string holds, a chord wider than a hand (G3 only at fret 3,
    // D6 at fret 10 or higher), seven different notes, a pitch sounded twice: each column
    // shows as many notes as strings can hold together, and a chord too wide for any
    // narrower voicing is still shown.
    const std::string bytes =
        SongOf({{64}, {52, 53}, {55, 86}, {52, 57, 62, 67, 71, 76, 80}, {64, 64}});
    const std::vector<std::string> shown = Shapes(WrittenColumns(conv, bytes));
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0], "3:2");
    EXPECT_TRUE(shown[1] == "5:0" || shown[1] == "5:1") << shown[1];
    EXPECT_EQ(shown[2], "0:10 5:3");
    EXPECT_EQ(shown[3], "0:0 1:0 2:0 3:0 4:0 5:0");
    EXPECT_EQ(shown[4], "3:2");
    const TrackFingering& placed = conv.OptimisedFingering(0);
    ASSERT_EQ(placed.NoteCount(), 14u);
    EXPECT_EQ(placed.Position(11), TrackFingering::COLUMN_TOO_HIGH) << "the seventh note";
    EXPECT_EQ(placed.Position(12), placed.Position(13)) << "played once, on one string";

    // A column of notes below the lowest string only is marked on the bottom line; Force Fit
    // folds them onto the strings instead.
    TrackRecord deep;
    deep.Notes = {{96, 40, 0, ' '}, {0, 28, 0, ' '}};
    EXPECT_EQ(ShapeOf(OptimiseTrackFingering(deep, conv.StringPitch, conv.Settings, 96), 0, 2),
              "?");
    TabColumn low;
    OptimiseTrackFingering(deep, conv.StringPitch, conv.Settings, 96).PlaceNote(low, 1, ' ', 0);
    EXPECT_EQ(low.Label, LABEL_TOO_LOW);
    conv.Settings.ForceFitFret = 1;
    EXPECT_EQ(ShapeOf(OptimiseTrackFingering(deep, conv.StringPitch, conv.Settings, 96), 0, 2),
              "5:0");

    // Above MaxFret (Force Fit off): the column is marked but keeps its fret for the drawing,
    // as the nearest-fret placement does; a note within the bound shows both.
    conv.Settings.ForceFitFret = 0;
    conv.Settings.MaxFret = 12;
    TrackRecord high;
    high.Notes = {{96, 89, 0, ' '}, {96, 89, 0, ' '}, {0, 64, 0, ' '}};
    const TrackFingering above = OptimiseTrackFingering(high, conv.StringPitch, conv.Settings, 96);
    TabColumn alone;
    above.PlaceNote(alone, 0, ' ', 0);
    EXPECT_EQ(alone.Label, LABEL_TOO_HIGH);
    EXPECT_EQ(alone.Fret[0], 13);
    const std::string both = ShapeOf(above, 1, 3);
    EXPECT_EQ(std::count(both.begin(), both.end(), ':'), 2) << both;
}

// On short tracks the search finds the cheapest placement that enumerating every voicing of
// every column finds.
TEST(Fingering, TheSearchFindsTheCheapestPlacementOfEveryShortTrack) {
    const std::array<int16_t, STRING_COUNT> pitches = BaseTuning;
    const ConversionSettings settings;
    std::mt19937 random(16);
    for (int round = 0; round < 40; ++round) {
        // Up to eight columns of one to three notes, open strings and high frets included,
        // at various distances in time.
        TrackRecord track;
        std::vector<std::vector<uint8_t>> voicings; // per column: position codes per note
        std::vector<size_t> firsts;
        size_t combinations = 1;
        const int columns = 1 + static_cast<int>(random() % 8);
        for (int c = 0; c < columns; ++c) {
            const int notes = 1 + static_cast<int>(random() % (c % 3 == 2 ? 3 : 1));
            firsts.push_back(track.Notes.size());
            const uint32_t delta = c == 0 ? 0 : (random() % 2 ? 24 : 384);
            for (int n = 0; n < notes; ++n)
                track.Notes.push_back(
                    {n ? 0 : delta, static_cast<uint16_t>(52 + random() % 36), 0, ' '});
            firsts.push_back(track.Notes.size());
        }
        // Half the rounds with durations, so that notes still sound into later columns.
        if (round % 2)
            for (size_t i = 0; i < track.Notes.size(); ++i)
                track.Durations.push_back(std::array<uint16_t, 3>{24, 96, 500}[random() % 3]);
        // Every voicing of a column: each note on a string that holds it or left out, a
        // pitch sounded twice placed as its first, distinct pitches on distinct strings; of
        // those placing the most pitches, the ones within the stretch when there are any.
        std::vector<std::vector<std::vector<uint8_t>>> options;
        for (size_t c = 0; c < firsts.size(); c += 2) {
            const size_t first = firsts[c], last = firsts[c + 1];
            std::vector<std::vector<uint8_t>> most, narrow;
            int mostPlaced = 0;
            std::vector<uint8_t> codes(last - first);
            std::function<void(size_t)> place = [&](size_t i) {
                if (i == codes.size()) {
                    int low = 99, high = 0, placed = 0;
                    for (size_t j = 0; j < codes.size(); ++j) {
                        if (codes[j] == TrackFingering::COLUMN_TOO_HIGH) continue;
                        bool repeat = false;
                        for (size_t k = 0; k < j; ++k)
                            repeat = repeat ||
                                     track.Notes[first + k].Note == track.Notes[first + j].Note;
                        placed += repeat ? 0 : 1;
                        if (int f = codes[j] & TrackFingering::FRET_MASK; f > 0)
                            low = std::min(low, f), high = std::max(high, f);
                    }
                    if (placed > mostPlaced) most.clear(), narrow.clear(), mostPlaced = placed;
                    if (placed < mostPlaced) return;
                    most.push_back(codes);
                    if (high == 0 || high - low <= MAX_CHORD_STRETCH) narrow.push_back(codes);
                    return;
                }
                const int pitch = track.Notes[first + i].Note;
                for (int s = 0; s <= STRING_COUNT; ++s) {
                    const int fret = pitch - (s < STRING_COUNT ? pitches[s] : 0);
                    if (s < STRING_COUNT && (fret < 0 || fret > MAX_SEARCH_FRET)) continue;
                    codes[i] = s < STRING_COUNT
                                   ? static_cast<uint8_t>(s << TrackFingering::STRING_SHIFT | fret)
                                   : TrackFingering::COLUMN_TOO_HIGH;
                    bool clash = false;
                    for (size_t j = 0; j < i; ++j) {
                        if (track.Notes[first + j].Note == pitch)
                            clash = clash || codes[j] != codes[i];
                        else if (s < STRING_COUNT && codes[j] != TrackFingering::COLUMN_TOO_HIGH)
                            clash = clash || codes[j] >> TrackFingering::STRING_SHIFT == s;
                    }
                    if (!clash) place(i + 1);
                }
            };
            place(0);
            options.push_back(narrow.empty() ? most : narrow);
            combinations *= options.back().size();
        }
        if (combinations > 300000) continue;

        double cheapest = std::numeric_limits<double>::infinity();
        std::vector<uint8_t> codes(track.Notes.size());
        std::function<void(size_t)> choose = [&](size_t c) {
            if (c == options.size()) {
                cheapest = std::min(cheapest, FingeringCost(track, TrackFingering(codes, codes),
                                                            pitches, settings, 96));
                return;
            }
            for (const std::vector<uint8_t>& voicing : options[c]) {
                std::copy(voicing.begin(), voicing.end(), codes.begin() + firsts[2 * c]);
                choose(c + 1);
            }
        };
        choose(0);
        const TrackFingering found = OptimiseTrackFingering(track, pitches, settings, 96);
        EXPECT_NEAR(FingeringCost(track, found, pitches, settings, 96), cheapest, 1e-9)
            << "round " << round;
    }
}

// A note still sounding keeps its string: the next note goes to another string rather than
// cut it short, while the same notes without durations share the string.
TEST(Fingering, ANoteStillSoundingKeepsItsString) {
    TrackRecord track;
    track.Notes = {{0, 54, 0, ' '}, {0, 75, 0, ' '}, {240, 72, 0, ' '}};
    FingeringWeights weights = FITTED_FINGERING_WEIGHTS;
    weights.Cut = 2.0;
    const ConversionSettings settings;
    const TrackFingering free = OptimiseTrackFingering(track, BaseTuning, settings, 96, weights);
    EXPECT_EQ(free.Position(2) >> TrackFingering::STRING_SHIFT,
              free.Position(1) >> TrackFingering::STRING_SHIFT)
        << ShapeOf(free, 0, 3);
    track.Durations = {240, 480, 240};
    const TrackFingering held = OptimiseTrackFingering(track, BaseTuning, settings, 96, weights);
    EXPECT_EQ(ShapeOf(held, 0, 2), ShapeOf(free, 0, 2));
    EXPECT_NE(held.Position(2) >> TrackFingering::STRING_SHIFT,
              held.Position(1) >> TrackFingering::STRING_SHIFT)
        << ShapeOf(held, 0, 3);
    weights.Cut = 0;
    EXPECT_EQ(ShapeOf(OptimiseTrackFingering(track, BaseTuning, settings, 96, weights), 0, 3),
              ShapeOf(free, 0, 3))
        << "cutting short free of cost is as if the note had ended";
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
                    ASSERT_LE(fret, MAX_OPTIMISED_FRET);
                    const FoldedNote folded = FoldNote(track.Notes[i].Note, pitches, settings);
                    EXPECT_EQ(folded.Pitch, pitches[string] + fret) << i;
                }
            }
}

// A track as a tab editor writes it: every note on the channel of its string. `channelOf`
// gives the channel of string s (0 = the highest); each {string, fret} is one column, a
// chord where several follow with `together`.
std::string TabEditorSong(const std::vector<std::vector<std::pair<int, int>>>& columns,
                          int (*channelOf)(int)) {
    TrackBuilder t;
    uint32_t delta = 0;
    for (const auto& column : columns) {
        for (const auto& [string, fret] : column) {
            t.NoteOn(delta, BaseTuning[static_cast<size_t>(string)] + fret, 100, channelOf(string));
            delta = 0;
        }
        delta = 96;
    }
    t.End(96);
    return MidiBuilder(0).Add(t).Bytes();
}

TEST(Fingering, ATrackWrittenStringByStringOnSixChannelsKeepsItsStrings) {
    // Far from the frets either search would choose: a melody up the fifth and sixth
    // strings, a chord on four strings at the ninth fret, a note on each string.
    const std::vector<std::vector<std::pair<int, int>>> written = {
        {{5, 12}}, {{4, 14}}, {{5, 15}}, {{3, 9}, {2, 9}, {1, 10}, {0, 9}},
        {{0, 3}},  {{1, 8}},  {{2, 12}}, {{3, 0}},
        {{4, 2}},  {{5, 1}}};
    auto codes = [](const TrackFingering& placed) {
        std::vector<int> out;
        for (size_t i = 0; i < placed.NoteCount(); ++i)
            out.push_back(placed.Position(i));
        return out;
    };
    std::vector<int> expected;
    for (const auto& column : written)
        for (const auto& [string, fret] : column)
            expected.push_back(string << TrackFingering::STRING_SHIFT | fret);

    // Channels 0..5 from the first string, and channels 1..6 from the sixth string.
    for (int (*channelOf)(int) : {+[](int s) { return s; }, +[](int s) { return 6 - s; }}) {
        const std::string bytes = TabEditorSong(written, channelOf);
        Conversion conv;
        conv.Settings.OptimiseFingering = 1;
        ConvertBytes(conv, bytes);
        EXPECT_NE(codes(conv.OptimisedFingering(0)), expected) << "the search alone";
        conv.Settings.StringsFromChannels = 1;
        EXPECT_EQ(codes(conv.OptimisedFingering(0)), expected);
        // The text shows the written strings.
        const std::vector<std::string> shapes = Shapes(WrittenColumns(conv, bytes));
        ASSERT_EQ(shapes.size(), written.size());
        EXPECT_EQ(shapes[3], "0:9 1:10 2:9 3:9");
        EXPECT_EQ(shapes[6], "2:12");
    }

    // One note its channel's string cannot sound (C4 on the first string): the channels do
    // not name strings, the search places the track.
    std::vector<std::vector<std::pair<int, int>>> broken = written;
    broken.push_back({{0, -16}});
    Conversion conv;
    conv.Settings.OptimiseFingering = 1;
    conv.Settings.StringsFromChannels = 1;
    ConvertBytes(conv, TabEditorSong(broken, [](int s) { return s; }));
    const std::vector<int> searched = codes(conv.OptimisedFingering(0));
    ASSERT_EQ(searched.size(), expected.size() + 1);
    EXPECT_NE(std::vector<int>(searched.begin(), searched.end() - 1), expected);
    EXPECT_EQ(searched.back(), 4 << TrackFingering::STRING_SHIFT | 3) << "C4 on the fifth string";
}

// With the hand in the first position (G#5 on the first string's fourth fret), B4 sounds on
// the open second string or under the little finger on the third: the open string's cost
// decides, and the two placements differ by it less the fretted note's cost.
TEST(Fingering, AnOpenStringTheHandCouldStopCostsWhatItsWeightSays) {
    TrackRecord track;
    track.Notes = {{0, 80, 0, ' '}, {96, 71, 0, ' '}, {96, 80, 0, ' '}};
    const ConversionSettings settings;
    FingeringWeights weights = FITTED_FINGERING_WEIGHTS;
    weights.OpenUnder = 0;
    const TrackFingering open = OptimiseTrackFingering(track, BaseTuning, settings, 96, weights);
    EXPECT_EQ(ShapeOf(open, 0, 3), "0:4 1:0");
    weights.OpenUnder = 10 * weights.Fretted;
    const TrackFingering fretted = OptimiseTrackFingering(track, BaseTuning, settings, 96, weights);
    EXPECT_EQ(ShapeOf(fretted, 0, 3), "0:4 2:4");
    EXPECT_NEAR(FingeringCost(track, open, BaseTuning, settings, 96, weights) -
                    FingeringCost(track, fretted, BaseTuning, settings, 96, weights),
                weights.OpenUnder - (weights.Fretted + weights.Fret + 3 * weights.Finger), 1e-9);
}

TEST(Fingering, MaxFretAbove21ReachesTheTopFretsOnlyInTheOptimisedPlacement) {
    // E6 and F6: frets 24 and 25 on the first string, 29 on the second.
    const std::string bytes = SongOf({{100}, {101}});
    for (int maxFret : {21, 24, 27}) {
        SCOPED_TRACE(maxFret);
        Conversion optimised;
        optimised.Settings.OptimiseFingering = 1;
        optimised.Settings.MaxFret = maxFret;
        const std::vector<std::string> shapes = Shapes(WrittenColumns(optimised, bytes));
        ASSERT_EQ(shapes.size(), 2u);
        EXPECT_EQ(shapes[0], maxFret >= 24 ? "0:24" : "?");
        EXPECT_EQ(shapes[1], "?");
        Conversion nearest;
        nearest.Settings.MaxFret = maxFret;
        EXPECT_EQ(Shapes(WrittenColumns(nearest, bytes)), (std::vector<std::string>{"?", "?"}));
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
