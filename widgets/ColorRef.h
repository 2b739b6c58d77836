// Colours are kept as 0x00BBGGRR integers, the form the INI file and option files store; these
// turn them into QColor for drawing and back from a colour dialog.
#pragma once

#include <QColor>

#include <cstdint>

namespace morvel {

QColor ColorFromRef(uint32_t ref);
uint32_t RefFromColor(const QColor& color);

} // namespace morvel
