// Placing top-level windows on the screen, and the main window's opening size.
#pragma once

class QWidget;

namespace morvel {

// The main window opens with a MAIN_WINDOW_WIDTH x MAIN_WINDOW_CLIENT_HEIGHT client area below
// its menu bar, MAIN_WINDOW_WIDTH x MAIN_WINDOW_HEIGHT with a menu bar of MENU_BAR_HEIGHT
// pixels (the window manager's frame not counted); pictures made without the window assume it.
constexpr int MAIN_WINDOW_WIDTH = 575;
constexpr int MAIN_WINDOW_CLIENT_HEIGHT = 358;
constexpr int MENU_BAR_HEIGHT = 22;
constexpr int MAIN_WINDOW_HEIGHT = MAIN_WINDOW_CLIENT_HEIGHT + MENU_BAR_HEIGHT;

// Centres `window` on its screen: left = (screen width - width) / 2, top likewise, integer
// division. Nothing happens without a screen.
void CentreOnScreen(QWidget* window);

} // namespace morvel
