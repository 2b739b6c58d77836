// The weights of the optimised fingering's costs, and the search under weights of a caller's
// choosing, for the tool that fits them (bench/fit-fingering). The programs use the fitted
// weights, through OptimiseTrackFingering of core/Fingering.h.
#pragma once

#include "core/Fingering.h"

namespace morvel {

// Costs of one placement, in units of one fret of hand shift. The hand sits in a position:
// the index finger at fret P, the other fingers on the next HAND_FRETS - 1 frets.
struct FingeringWeights {
    double Fret;      // per fret of a fretted note: the hand stays low on the neck
    double Fretted;   // per fretted note: an open string costs nothing by itself ...
    double OpenAway;  // ... but this per fret the hand sits above the first position
    double Stretch;   // a chord reaching one fret beyond the hand's position
    double Shift;     // per fret of a hand shift
    double ShiftOnce; // once for every shift, however short
    double Quick;     // extra share of a shift made between columns struck close together
    double Reach;     // per note a finger reaches one fret beyond the hand's position
    // Under the hand a note costs Fret per fret up to the index finger, then this per fret
    // to the finger that stops it: the hand's position is what costs, not which finger.
    double Finger;
    double OpenUnder;     // per open string whose pitch the next thicker string has under the hand
    double ChordOpenAway; // OpenAway once more for an open string of a chord
    double StretchHigh;   // Stretch is this much cheaper per fret of the chord's lowest fret
    // Per note still sounding from an earlier column that the column's hand shape does not
    // keep on a string of its own: the note cut short.
    double Cut;
};

// Fitted with bench/fit-fingering (a coordinate search; each half of the pieces checked with
// the weights fitted on the other half, then fitted on all) on the 100 classical-guitar pieces
// with fingerings guitarists wrote (../shared/groundtruth/classtab), at Transpose 12 and Max
// Fret 24, with each note's duration as read: 86.9 % of their notes on the written string and
// fret, against 82.8 % for every note at its lowest fret; 86.2 % and 87.5 % on each half held
// back from the fit.
constexpr double FRET_COST = 0.133;
constexpr double FRETTED_COST = 0.107;
constexpr double OPEN_AWAY_COST = 0.067;
constexpr double STRETCH_COST = 3.000;
constexpr double SHIFT_COST = 0.500;
constexpr double SHIFT_ONCE_COST = 1.125;
constexpr double QUICK_SHIFT_COST = 0.263;
constexpr double REACH_COST = 0.500;
constexpr double FINGER_COST = 0.050;
constexpr double OPEN_UNDER_COST = 0.113;
constexpr double CHORD_OPEN_AWAY_COST = 0.075;
constexpr double STRETCH_HIGH_COST = 0.120;
constexpr double CUT_COST = 0.562;

constexpr FingeringWeights FITTED_FINGERING_WEIGHTS = {
    FRET_COST,   FRETTED_COST,    OPEN_AWAY_COST,       STRETCH_COST,
    SHIFT_COST,  SHIFT_ONCE_COST, QUICK_SHIFT_COST,     REACH_COST,
    FINGER_COST, OPEN_UNDER_COST, CHORD_OPEN_AWAY_COST, STRETCH_HIGH_COST,
    CUT_COST};

// OptimiseTrackFingering and FingeringCost under `weights`.
TrackFingering OptimiseTrackFingering(const TrackRecord& track,
                                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                                      const ConversionSettings& settings, uint32_t division,
                                      const FingeringWeights& weights);
double FingeringCost(const TrackRecord& track, const TrackFingering& placement,
                     const std::array<int16_t, STRING_COUNT>& stringPitch,
                     const ConversionSettings& settings, uint32_t division,
                     const FingeringWeights& weights);

} // namespace morvel
