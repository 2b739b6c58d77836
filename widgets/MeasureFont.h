// The program's fixed-pitch text face, in measures, chord diagrams and the version text.
#pragma once

#include <QFont>

namespace morvel {

// "Liberation Mono", fixed pitch, at the size of `base` (its metrics match the "courier" face
// the layout is measured in). No style hint is set: it can swap the family for another.
QFont MeasureFont(const QFont& base);

} // namespace morvel
