#include "core/Conversion.h"
#include "core/Placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace morvel {
namespace {

// Frets of a column as a vector, strings 0..5, -1 for a string not played.
std::vector<int> Frets(const TabColumn& column) {
    std::vector<int> frets;
    for (uint8_t f : column.Fret)
        frets.push_back(f == NO_FRET ? -1 : f);
    return frets;
}

struct Placed {
    TabColumn column;
    int anchorAfter;
};

class PlacementTest : public ::testing::Test {
  protected:
    // Places the notes into one column starting from `anchor`.
    Placed Place(std::vector<int> notes, int anchor = 0) {
        conv.CurrentFret = anchor;
        TabColumn column;
        for (int note : notes)
            conv.PlaceNote(column, note, ' ', 0);
        return {column, conv.CurrentFret};
    }
    Conversion conv;
};

TEST_F(PlacementTest, SingleNotesInStandardTuningFromTheOpenPosition) {
    Placed e = Place({64});
    EXPECT_EQ(Frets(e.column), (std::vector<int>{-1, -1, -1, 2, -1, -1}));
    EXPECT_EQ(e.column.Label, LABEL_NOTES);
    EXPECT_EQ(e.anchorAfter, 2);

    Placed lowE = Place({52}, 7);
    EXPECT_EQ(Frets(lowE.column), (std::vector<int>{-1, -1, -1, -1, -1, 0}));
    EXPECT_EQ(lowE.anchorAfter, 0) << "an open string resets the anchor";

    Placed tooLow = Place({51}, 4);
    EXPECT_EQ(tooLow.column.Label, LABEL_TOO_LOW);
    EXPECT_EQ(Frets(tooLow.column), (std::vector<int>(6, -1)));
    EXPECT_EQ(tooLow.anchorAfter, 4);

    Placed tooHigh = Place({98});
    EXPECT_EQ(tooHigh.column.Label, LABEL_TOO_HIGH);
    EXPECT_EQ(Frets(tooHigh.column), (std::vector<int>(6, -1)));
}

TEST_F(PlacementTest, NearestFretSearchPrefersTheAnchorAndBreaksTiesTowardsHigherStrings) {
    // Anchor 7, note 69: string 3 fret 7 (distance 1) beats string 2 fret 2 and string 4 fret 12.
    EXPECT_EQ(Frets(Place({69}, 7).column), (std::vector<int>{-1, -1, -1, 7, -1, -1}));
    // A fret one above the anchor counts two, one below counts one: anchor 5, note 65 takes
    // string 3 fret 3 (distance 2) over string 4 fret 8 (distance 4); note 66 string 3 fret 4.
    EXPECT_EQ(Frets(Place({65}, 5).column), (std::vector<int>{-1, -1, -1, 3, -1, -1}));
    EXPECT_EQ(Frets(Place({66}, 5).column), (std::vector<int>{-1, -1, -1, 4, -1, -1}));
    // Anchor 8, note 72: string 2 fret 5 and string 3 fret 10 tie at 3; the higher string wins.
    EXPECT_EQ(Frets(Place({72}, 8).column), (std::vector<int>{-1, -1, 5, -1, -1, -1}));
}

TEST_F(PlacementTest, FretsNineteenAndAboveAreOutOfReachFromTheNut) {
    // Note 95 is only playable at fret 19 on string 0: distance 20 from anchor 0.
    Placed far = Place({95}, 0);
    EXPECT_EQ(far.column.Label, LABEL_TOO_HIGH);
    EXPECT_EQ(far.anchorAfter, 0);
    // From anchor 12 the same note is within reach.
    EXPECT_EQ(Frets(Place({95}, 12).column), (std::vector<int>{19, -1, -1, -1, -1, -1}));
}

TEST_F(PlacementTest, ForceFitFoldsByOctavesIntoTheRange) {
    conv.Settings.ForceFitFret = 1;
    conv.Settings.MaxFret = 12;
    EXPECT_EQ(Frets(Place({40}).column), (std::vector<int>{-1, -1, -1, -1, -1, 0}));
    Placed high = Place({100}, 12);
    EXPECT_EQ(Frets(high.column), (std::vector<int>{12, -1, -1, -1, -1, -1}));
    EXPECT_EQ(high.column.Label, LABEL_NOTES);
}

TEST_F(PlacementTest, AboveMaxFretIsMarkedEvenWhenAPositionExists) {
    conv.Settings.MaxFret = 12;
    Placed p = Place({89}, 12);
    EXPECT_EQ(p.column.Label, LABEL_TOO_HIGH);
    EXPECT_EQ(Frets(p.column), (std::vector<int>{13, -1, -1, -1, -1, -1}));
    EXPECT_EQ(p.anchorAfter, 13);
}

TEST_F(PlacementTest, BassModeFoldsBelowTheSecondString) {
    conv.Settings.BassMode = 1;
    EXPECT_EQ(Frets(Place({76}).column), (std::vector<int>{-1, -1, -1, 2, -1, -1}));
}

TEST_F(PlacementTest, ChordsKeepEveryNote) {
    // C major triad from anchor 0.
    Placed triad = Place({60, 64, 67});
    EXPECT_EQ(Frets(triad.column), (std::vector<int>{-1, -1, 0, 2, 3, -1}));
    EXPECT_EQ(conv.ColumnChordName(triad.column), "C");

    // A later note never takes an earlier note's string.
    EXPECT_EQ(Frets(Place({57, 59}).column), (std::vector<int>{-1, -1, -1, -1, 0, 7}));

    // No free string can take 53 after 52 sits on string 5: the column shows a "?".
    Placed clash = Place({52, 53});
    EXPECT_EQ(Frets(clash.column), (std::vector<int>{-1, -1, -1, -1, -1, 0}));
    EXPECT_EQ(clash.column.Label, LABEL_TOO_HIGH);

    // The same pitch twice is shown once.
    Placed twice = Place({64, 64});
    EXPECT_EQ(Frets(twice.column), (std::vector<int>{-1, -1, -1, 2, -1, -1}));
    EXPECT_EQ(twice.column.Label, LABEL_NOTES);
}

TEST_F(PlacementTest, DamagedNoteNumbersAreTooHighAndKeepTheAnchor) {
    conv.Settings.ForceFitFret = 1; // no folding brings them back
    TabColumn column;
    conv.CurrentFret = 5;
    conv.PlaceNote(column, 255, 'C', 3);
    EXPECT_EQ(column.Label, LABEL_TOO_HIGH);
    EXPECT_EQ(column.Special, 'C');
    EXPECT_EQ(column.Channel, 3);
    EXPECT_EQ(Frets(column), (std::vector<int>(6, -1)));
    EXPECT_EQ(conv.CurrentFret, 5);
    conv.PlaceNote(column, 128, ' ', 0);
    EXPECT_EQ(column.Label, LABEL_TOO_HIGH);
}

TEST_F(PlacementTest, MarkersTouchNeitherFretsNorAnchor) {
    TabColumn column;
    conv.CurrentFret = 9;
    conv.PlaceNote(column, 60, 'U', 2);
    Conversion::PlaceMarker(column, LABEL_BAR);
    EXPECT_EQ(column.Label, LABEL_BAR);
    EXPECT_EQ(column.Special, ' ');
    EXPECT_EQ(column.Channel, NO_CHANNEL);
    EXPECT_EQ(conv.CurrentFret, 8);
}

TEST_F(PlacementTest, TuningOffsetsAndTransposeMoveTheOpenStrings) {
    TabColumn dropD;
    conv.TuningSettings.CustomDelta[0] = -2; // sixth string down a whole tone
    conv.SetReporter([](const std::string&) {});
    conv.ConvertMidiBytes("", "none.mid"); // rebuilds StringPitch even when the file is bad
    EXPECT_EQ(conv.StringPitch, (std::array<int16_t, 6>{76, 71, 67, 62, 57, 50}));
    conv.TuningSettings.Transpose = -12;
    conv.ConvertMidiBytes("", "none.mid");
    EXPECT_EQ(conv.StringPitch, (std::array<int16_t, 6>{88, 83, 79, 74, 69, 62}));
    conv.PlaceNote(dropD, 62, ' ', 0);
    EXPECT_EQ(Frets(dropD), (std::vector<int>{-1, -1, -1, -1, -1, 0}));
}


// Placement as it folded octaves step by step, for comparison on sane settings.
void SteppedPlacement(TabColumn& column, int note, const ConversionSettings& settings,
                      const std::array<int16_t, STRING_COUNT>& pitch, int& anchor) {
    column.Special = ' ';
    column.Channel = 0;
    if (settings.BassMode)
        while (note >= pitch[1])
            note -= 12;
    if (settings.ForceFitFret) {
        while (note < pitch[5])
            note += 12;
        while (note > pitch[0] + settings.MaxFret)
            note -= 12;
    } else if (note < pitch[5]) {
        column.Label = LABEL_TOO_LOW;
        return;
    } else if (note > pitch[0] + settings.MaxFret) {
        column.Label = LABEL_TOO_HIGH;
    }
    int open = -1, best = -1, bestFret = 0, bestDistance = SEARCH_PASSES + 1;
    for (int s = 0; s < STRING_COUNT; ++s) {
        const int fret = note - pitch[s];
        if (column.Fret[s] != NO_FRET) {
            if (column.Fret[s] == fret) return;
            continue;
        }
        if (fret == 0 && open < 0) open = s;
        if (fret <= 0 || fret > MAX_SEARCH_FRET) continue;
        const int distance = fret >= anchor ? fret - anchor + 1 : anchor - fret;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = s;
            bestFret = fret;
        }
    }
    if (open >= 0) {
        column.Fret[open] = 0;
        column.Label = LABEL_NOTES;
        anchor = 0;
    } else if (best < 0) {
        column.Label = LABEL_TOO_HIGH;
    } else {
        column.Fret[best] = static_cast<uint8_t>(bestFret);
        anchor = bestFret;
        if (column.Label == LABEL_EMPTY) column.Label = LABEL_NOTES;
    }
}

TEST(PlacementFolding, AnySettingFoldsAtOnceAndSaneSettingsPlaceAsTheSteppedFolding) {
    // Extreme values a settings file can hold: every note is marked, nothing hangs or wraps.
    ConversionSettings extreme;
    extreme.ForceFitFret = 1;
    extreme.BassMode = 1;
    for (int32_t maxFret : {INT32_MIN, INT32_MIN + 1, -1000000, INT32_MAX}) {
        extreme.MaxFret = maxFret;
        for (auto pitch : {BaseTuning, std::array<int16_t, STRING_COUNT>{
                                           INT16_MAX, INT16_MIN, INT16_MAX, 0, INT16_MIN, INT16_MAX},
                           std::array<int16_t, STRING_COUNT>{INT16_MIN, INT16_MIN, INT16_MIN,
                                                             INT16_MIN, INT16_MIN, INT16_MIN}}) {
            for (int note : {0, 64, 127}) {
                TabColumn column;
                int anchor = 3;
                PlaceNote(column, note, ' ', 0, extreme, pitch, anchor);
                if (maxFret < 0) {
                    EXPECT_EQ(column.Label, LABEL_TOO_HIGH) << maxFret << " " << note;
                }
            }
        }
    }
    // Without a fret limit, in standard tuning, 64 stays where it belongs.
    TabColumn unbounded;
    int anchor = 3;
    PlaceNote(unbounded, 64, ' ', 0, extreme, BaseTuning, anchor);
    EXPECT_EQ(Frets(unbounded), (std::vector<int>{-1, -1, -1, 2, -1, -1}));

    // Sane values: the same columns and anchors as stepping octave by octave.
    const std::array<std::array<int16_t, STRING_COUNT>, 3> tunings = {
        BaseTuning, std::array<int16_t, STRING_COUNT>{76, 71, 67, 62, 57, 50},
        std::array<int16_t, STRING_COUNT>{60, 61, 64, 40, 70, 55}};
    int compared = 0;
    for (const auto& pitch : tunings)
        for (int flags = 0; flags < 4; ++flags)
            for (int32_t maxFret = -3; maxFret <= 30; maxFret += 3)
                for (int anchor0 : {0, 5, 12})
                    for (int note = 0; note < 128; ++note) {
                        ConversionSettings settings;
                        settings.ForceFitFret = flags & 1;
                        settings.BassMode = flags >> 1;
                        settings.MaxFret = maxFret;
                        TabColumn expected, actual;
                        int expectedAnchor = anchor0, actualAnchor = anchor0;
                        SteppedPlacement(expected, note, settings, pitch, expectedAnchor);
                        PlaceNote(actual, note, ' ', 0, settings, pitch, actualAnchor);
                        ASSERT_EQ(Frets(actual), Frets(expected)) << note << " " << maxFret;
                        ASSERT_EQ(actual.Label, expected.Label) << note << " " << maxFret;
                        ASSERT_EQ(actualAnchor, expectedAnchor) << note << " " << maxFret;
                        ++compared;
                    }
    EXPECT_EQ(compared, 3 * 4 * 12 * 3 * 128);
}

} // namespace
} // namespace morvel
