#include "core/MeasureIndex.h"

#include <algorithm>

namespace morvel {

MeasureIndex::MeasureIndex(const TrackRecord& track, uint32_t division)
    : measureTicks_(morvel::MeasureTicks(division, track)), notes_(track.Notes.data()),
      noteCount_(track.Notes.size()), division_(division), numerator_(track.TimeSigNumerator),
      denominator_(track.TimeSigDenominator) {
    uint64_t onset = 0;
    uint64_t lastMeasure = 0;
    for (size_t i = 0; i < track.Notes.size(); ++i) {
        onset += track.Notes[i].DeltaTime;
        uint64_t measure = measureTicks_ ? onset / measureTicks_ + 1 : 1;
        if (measure > UINT32_MAX) break; // beyond any measure a 32-bit tag can name
        if (measure != lastMeasure) {
            uint64_t offset = measureTicks_ ? onset % measureTicks_ : onset;
            entries_.push_back({static_cast<uint32_t>(measure), static_cast<uint32_t>(i), offset});
            lastMeasure = measure;
        }
    }
    if (measureTicks_)
        drawLength_ = measureTicks_;
    else
        drawLength_ = std::max<uint64_t>(track.EndTime, onset) + 1;
}

const MeasureEntry* MeasureIndex::Find(int64_t measure) const {
    if (measure < 1) return nullptr;
    auto it = std::lower_bound(
        entries_.begin(), entries_.end(), measure,
        [](const MeasureEntry& e, int64_t m) { return static_cast<int64_t>(e.Measure) < m; });
    if (it == entries_.end() || it->Measure != measure) return nullptr;
    return &*it;
}

bool MeasureIndex::Describes(const TrackRecord& track, uint32_t division) const {
    return notes_ == track.Notes.data() && noteCount_ == track.Notes.size() &&
           division_ == division && numerator_ == track.TimeSigNumerator &&
           denominator_ == track.TimeSigDenominator;
}

} // namespace morvel
