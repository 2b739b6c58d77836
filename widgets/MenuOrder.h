// The fixed order of the main window's menu bar and of the items in each of its menus, so
// that menus and items added by any subsystem, at any time, find their places.
#pragma once

class QAction;
class QWidget;

namespace morvel {

// Inserts `action` into the actions of `menuOrBar` (a QMenuBar or a QMenu) before the first
// one that comes later in the fixed order, comparing objectNames: the top-level menus "File1",
// "Edit1", "TracksMenu", "Options1", "ChordsMenu", "Colors1", "Help1", each followed by its
// items. Names outside the order go last, in the order they are added.
void InsertInMenuOrder(QWidget* menuOrBar, QAction* action);

} // namespace morvel
