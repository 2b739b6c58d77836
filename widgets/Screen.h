// Placing top-level windows on the screen.
#pragma once

class QWidget;

namespace morvel {

// Centres `window` on its screen: left = (screen width - width) / 2, top likewise, integer
// division. Nothing happens without a screen.
void CentreOnScreen(QWidget* window);

} // namespace morvel
