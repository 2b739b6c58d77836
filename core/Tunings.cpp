#include "core/Tunings.h"

namespace morvel {

const std::array<TuningPreset, 8> TuningPresets = {{
    {"Standard", {0, 0, 0, 0, 0, 0}},
    {"Drop D", {-2, 0, 0, 0, 0, 0}},
    {"Open E", {0, 2, 2, 1, 0, 0}},
    {"Open D", {-2, 0, 0, -1, -2, -2}},
    {"Open G", {-2, -2, 0, 0, 0, -2}},
    {"A", {0, 0, 0, 0, -2, 0}},
    {"G Minor", {-2, -2, 0, 0, -1, -2}},
    {"Custom", {0, 0, 0, 0, 0, 0}},
}};

std::optional<TuningPreset> FindTuningPreset(std::string_view name) {
    for (const TuningPreset& preset : TuningPresets)
        if (name == preset.Name) return preset;
    return std::nullopt;
}

} // namespace morvel
