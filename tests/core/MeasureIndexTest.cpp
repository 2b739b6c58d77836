#include "core/MeasureIndex.h"

#include <gtest/gtest.h>

namespace morvel {
namespace {

TrackRecord TrackWithDeltas(std::initializer_list<uint32_t> deltas, int numerator = 4,
                            int denominator = 4) {
    TrackRecord track;
    track.TimeSigNumerator = numerator;
    track.TimeSigDenominator = denominator;
    uint32_t onset = 0;
    for (uint32_t d : deltas) {
        track.Notes.push_back({d, 60, 0, ' '});
        onset += d;
    }
    track.LastNoteTime = onset;
    track.EndTime = onset + 10;
    return track;
}

TEST(MeasureIndex, GroupsNotesByMeasureWithBoundaryNotesInTheLaterMeasure) {
    // Division 96, 4/4: 384 ticks a measure. Onsets 0, 383, 384, 1920 (measure 6).
    const TrackRecord track = TrackWithDeltas({0, 383, 1, 1536});
    const MeasureIndex index(track, 96);
    ASSERT_EQ(index.Entries().size(), 3u);
    EXPECT_EQ(index.Entries()[0].Measure, 1u);
    EXPECT_EQ(index.Entries()[1].Measure, 2u);
    EXPECT_EQ(index.Entries()[1].FirstNote, 2u);
    EXPECT_EQ(index.Entries()[1].Offset, 0u);
    EXPECT_EQ(index.Entries()[2].Measure, 6u);
    EXPECT_EQ(index.Entries()[2].FirstNote, 3u);
    EXPECT_EQ(index.Find(2)->FirstNote, 2u);
    EXPECT_EQ(index.Find(3), nullptr);
    EXPECT_EQ(index.Find(0), nullptr);
    EXPECT_EQ(index.Find(-4), nullptr);
    EXPECT_EQ(index.Find(7), nullptr);
    EXPECT_EQ(index.DrawLength(), 384u);
}

TEST(MeasureIndex, OffsetIsTheFirstNotesTicksIntoItsMeasure) {
    // 6/8 at division 120: 360 ticks a measure; first note of measure 3 at 800 = 720 + 80.
    const TrackRecord track = TrackWithDeltas({100, 700}, 6, 8);
    const MeasureIndex index(track, 120);
    ASSERT_NE(index.Find(3), nullptr);
    EXPECT_EQ(index.Find(3)->Offset, 80u);
    EXPECT_EQ(index.Find(1)->Offset, 100u);
}

TEST(MeasureIndex, WithoutMeasureLengthTheWholeTrackIsMeasureOne) {
    const TrackRecord track = TrackWithDeltas({0, 5000, 70000}, 4, 0);
    const MeasureIndex index(track, 96);
    ASSERT_EQ(index.Entries().size(), 1u);
    EXPECT_EQ(index.Entries()[0].Measure, 1u);
    EXPECT_FALSE(index.HasMeasureTicks());
    // The drawing length covers every onset and is never zero.
    EXPECT_GT(index.DrawLength(), 75000u);
}

TEST(MeasureIndex, NoticesAnotherTrackOrTimeSignature) {
    TrackRecord track = TrackWithDeltas({0, 10});
    const MeasureIndex index(track, 96);
    EXPECT_TRUE(index.Describes(track, 96));
    EXPECT_FALSE(index.Describes(track, 480));
    track.TimeSigNumerator = 3;
    EXPECT_FALSE(index.Describes(track, 96));
    track.TimeSigNumerator = 4;
    track.Notes.push_back({5, 62, 0, ' '});
    EXPECT_FALSE(index.Describes(track, 96));
}

} // namespace
} // namespace morvel
