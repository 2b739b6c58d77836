// Where each measure of one track starts in its note list, built once per shown track so that
// finding or drawing a measure costs time in proportion to that measure's notes only.
#pragma once

#include "core/Song.h"

#include <cstdint>
#include <vector>

namespace morvel {

// A measure in which at least one note starts.
struct MeasureEntry {
    uint32_t Measure = 0;   // 1-based measure number
    uint32_t FirstNote = 0; // index into TrackRecord::Notes of the measure's first note
    uint64_t Offset = 0;    // ticks from the start of the measure to that note
};

class MeasureIndex {
  public:
    MeasureIndex() = default;
    // A note belongs to measure 1 + onset / MeasureTicks (a note on a boundary belongs to the
    // later measure); with MeasureTicks 0 every note belongs to measure 1. Onsets are summed
    // in 64 bits, so no measure number wraps.
    MeasureIndex(const TrackRecord& track, uint32_t division);

    // The entry of `measure`, or nullptr when no note starts in it. O(log measures).
    const MeasureEntry* Find(int64_t measure) const;
    const std::vector<MeasureEntry>& Entries() const { return entries_; }

    // Ticks of one measure as drawing maps them onto the panel width: MeasureTicks, or, when the
    // time signature gives no measure length, the whole track (never 0).
    uint64_t DrawLength() const { return drawLength_; }
    // True when notes are grouped by MeasureTicks; false when the whole track is one measure.
    bool HasMeasureTicks() const { return measureTicks_ != 0; }
    uint64_t MeasureTicks() const { return measureTicks_; }

    // Identity of the indexed data, to notice a stale index after a new conversion.
    bool Describes(const TrackRecord& track, uint32_t division) const;

  private:
    std::vector<MeasureEntry> entries_;
    uint64_t measureTicks_ = 0;
    uint64_t drawLength_ = 1;
    const NoteRecord* notes_ = nullptr;
    size_t noteCount_ = 0;
    uint32_t division_ = 0;
    int32_t numerator_ = 0;
    int32_t denominator_ = 0;
};

} // namespace morvel
