// Joins the Recent Files list to the main window: its submenu after "Open Midifile", every file
// the window opened put first, and a chosen file opened as "Open Midifile" opens it.
#pragma once

#include "settings/RecentFiles.h"
#include "view/TabForm.h"

#include <QFile>

#include <string>

namespace morvel {

// The bytes that name the file the window announced with FileOpened.
inline std::string OpenedFilePath(const QString& opened) {
    return QFile::encodeName(opened).toStdString();
}

// Opens the file named by `path` (its bytes) in the window.
inline void OpenInWindow(TTabForm& form, const std::string& path) {
    form.OpenMidiFilePath(QFile::decodeName(QByteArray::fromStdString(path)));
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
