// Screen readers and UI test tools list a program's windows by their accessible role. A plain
// QWidget shown as a window (the player and chord windows) would otherwise be announced as a
// client area, not as a window, and be missed.
#pragma once

namespace morvel {

// Makes every top-level plain QWidget announce itself with the role of a window. Call once,
// after the QApplication exists.
void InstallWindowAccessibility();

} // namespace morvel
