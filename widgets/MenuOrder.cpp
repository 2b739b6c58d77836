#include "widgets/MenuOrder.h"

#include <QAction>
#include <QWidget>

#include <iterator>

namespace morvel {

namespace {

const char* const MenuOrder[] = {"File1",
                                 "OpenMidifile1",
                                 "RecentFiles1",
                                 "Save1",
                                 "SaveStandardTab1",
                                 "SaveAllTEXT1",
                                 "SaveMusicXML1",
                                 "SaveGuitarPro1",
                                 "SaveTabulatureBMP1",
                                 "CloseTabulature1",
                                 "PrintAllTab1",
                                 "PrintSetup1",
                                 "PlayMidifile1",
                                 "Quit1",
                                 "Edit1",
                                 "Copy1",
                                 "CopyStandardTab1",
                                 "TracksMenu",
                                 "Options1",
                                 "OptionsPanel1",
                                 "LoadOptions1",
                                 "SaveOptions1",
                                 "ChordsMenu",
                                 "Colors1",
                                 "Foreground1",
                                 "Background1",
                                 "Notes1",
                                 "Invert1",
                                 "Help1",
                                 "Version1",
                                 "MORVEL1"};

int OrderOf(const QString& name) {
    for (size_t i = 0; i < std::size(MenuOrder); ++i)
        if (name == QLatin1String(MenuOrder[i])) return static_cast<int>(i);
    return static_cast<int>(std::size(MenuOrder));
}

} // namespace

void InsertInMenuOrder(QWidget* menuOrBar, QAction* action) {
    const int order = OrderOf(action->objectName());
    for (QAction* existing : menuOrBar->actions()) {
        if (OrderOf(existing->objectName()) > order) {
            menuOrBar->insertAction(existing, action);
            return;
        }
    }
    menuOrBar->addAction(action);
}

} // namespace morvel
