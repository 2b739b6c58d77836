#include "widgets/MeasureFont.h"

namespace morvel {

QFont MeasureFont(const QFont& base) {
    QFont font = base;
    font.setFamily("Liberation Mono");
    font.setFixedPitch(true);
    return font;
}

} // namespace morvel
