// Joins the Recent Files list to the main window: its submenu after "Open Midifile", every file
// the window opened put first, and a chosen file opened as "Open Midifile" opens it.
#pragma once

#include "formats/OpenedSong.h"
#include "settings/RecentFiles.h"
#include "view/TabForm.h"

#include <string>

namespace morvel {

// The bytes that name the file the window announced with FileOpened.
inline std::string OpenedFilePath(const SongPointer& opened) {
    return opened->Path;
}

// Opens the file named by `path` (its bytes) in the window.
inline void OpenInWindow(TTabForm& form, const std::string& path) {
    form.OpenMidiFileBytes(path);
}

// `list` and `prompts` must outlive the window, which owns the menu.
inline RecentFilesMenu* ConnectRecentFiles(TTabForm& form, RecentFiles& list, Prompts& prompts) {
    auto* menu = new RecentFilesMenu(list, prompts, &form);
    form.AddMenuItem(form.TopMenu("File1"), menu->menuAction());
    QObject::connect(&form, &TTabForm::FileOpened, menu,
                     [menu](const auto& opened) { menu->Opened(OpenedFilePath(opened)); });
    QObject::connect(menu, &RecentFilesMenu::FileChosen, &form,
                     [&form](const std::string& path) { OpenInWindow(form, path); });
    return menu;
}

} // namespace morvel
