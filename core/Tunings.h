// Named tunings: per-string semitone offsets added to the standard open strings.
#pragma once

#include "core/Song.h"

#include <array>
#include <optional>
#include <string_view>

namespace morvel {

struct TuningPreset {
    const char* Name;
    // Offsets in the order CUSTOMDELTA1..6: sixth (lowest) string first.
    std::array<int16_t, STRING_COUNT> Delta;
};

// "Standard", "Drop D", "Open E", "Open D", "Open G", "A", "G Minor", "Custom" ("Custom" resets
// to standard). "Drop D" lowers the sixth string a whole tone, to D.
extern const std::array<TuningPreset, 8> TuningPresets;

// The preset whose name equals `name` exactly, if any.
std::optional<TuningPreset> FindTuningPreset(std::string_view name);

} // namespace morvel
