#include "core/Chords.h"
#include "core/Conversion.h"

#include <gtest/gtest.h>

namespace morvel {
namespace {

TabColumn ColumnOf(std::initializer_list<int> frets) {
    TabColumn column;
    int s = 0;
    for (int f : frets) {
        column.Fret[s++] = f < 0 ? NO_FRET : static_cast<uint8_t>(f);
    }
    column.Label = LABEL_NOTES;
    return column;
}

TEST(ChordTables, TemplatesFollowTheIntervalsAndAreDistinct) {
    EXPECT_STREQ(ChordTemplates[0], "X   X  X    ");
    EXPECT_STREQ(ChordTemplates[1], " X   X  X   ");
    EXPECT_STREQ(ChordTemplates[47], "  X   X   XX");
    EXPECT_STREQ(ChordNames[37], "C#m7");
    for (int i = 0; i < CHORD_COUNT; ++i)
        for (int j = i + 1; j < CHORD_COUNT; ++j)
            EXPECT_STRNE(ChordTemplates[i], ChordTemplates[j]) << i << " " << j;
}

TEST(ColumnChordName, NamesTheShapeAsItSoundsInStandardTuningAndMarksItUsed) {
    Conversion conv;
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({0, 1, 0, 2, 3, -1})), "C");
    EXPECT_TRUE(conv.ChordUsed[0]);
    // The "Am7" fingering (A C E G) has no template; A C E G# is "Am7".
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({3, 1, 2, 2, 0, -1})), "   ");
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({4, 1, 2, 2, 0, -1})), "Am7");
    // C E G B is "C7"; with B flat nothing matches.
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({-1, 0, 0, 2, 3, -1})), "C7");
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({3, -1, 3, 2, 3, -1})), "   ");
    // One or two notes never make a chord.
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({0, -1, -1, -1, -1, -1})), "   ");
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({0, 0, -1, -1, -1, -1})), "   ");
    // A retuned open string is named as if it sounded standard: D on string 5 reads as E.
    conv.StringPitch[5] = 50;
    EXPECT_EQ(conv.ColumnChordName(ColumnOf({0, 0, 0, 2, 2, 0})), "Em");

    int used = 0;
    for (int32_t flag : conv.ChordUsed)
        used += flag != 0;
    EXPECT_EQ(used, 4);
    conv.ClearUsedChords();
    for (int32_t flag : conv.ChordUsed)
        EXPECT_EQ(flag, 0);
}

TEST(FindChordByName, IgnoresCaseAndSpacesAndReadsFlats) {
    auto find = [](std::string text) { return FindChordByName(text); };
    EXPECT_EQ(find("c#M7 "), 37);
    EXPECT_EQ(find("D-"), 1);
    EXPECT_EQ(find("am"), 21);
    EXPECT_EQ(find("A m"), 21);
    EXPECT_EQ(find(" AM"), 21);
    EXPECT_EQ(find("Am\t\r\n"), 21);
    EXPECT_EQ(find("B-"), 10);
    EXPECT_EQ(find("e-m"), 15);
    EXPECT_EQ(find("C-"), 11);
    EXPECT_EQ(find("F-7"), 28);
    EXPECT_EQ(find("Amaj"), -1);
    EXPECT_EQ(find("Bb"), -1);
    EXPECT_EQ(find("H"), -1);
    EXPECT_EQ(find(""), -1);
    EXPECT_EQ(find("-"), -1);
}

TEST(FindChordByName, FlatToSharpRewritesOnlyTheFirstFlat) {
    std::string text = "a-b-";
    FlatToSharp(text);
    EXPECT_EQ(text, "g#b-");
    std::string noLetter = "-7";
    FlatToSharp(noLetter);
    EXPECT_EQ(noLetter, "-7");
}

} // namespace
} // namespace morvel
