// The "Recent Files" submenu of the File menu: the last files opened, newest first. The list
// lives in a small file of its own, $XDG_STATE_HOME/morvel/recent-files (by default
// ~/.local/state/morvel/), never in MORVEL.INI.
#pragma once

#include <QMenu>
#include <QString>
#include <QStringList>

namespace morvel {

class Prompts;
class TTabForm;

// The list and its file: one absolute path a line, in UTF-8, newest first. Every change reads
// the file again first (another running copy may have written it), then writes it atomically;
// an unreadable or malformed file counts as an empty list, and a failed write leaves the old
// file and costs nothing but the memory of this change.
class RecentFiles {
  public:
    static constexpr int MAX_FILES = 8;

    explicit RecentFiles(QString listPath = DefaultPath());
    static QString DefaultPath();
    const QString& ListPath() const { return path_; }

    // The files, newest first, as last read or written.
    const QStringList& Files() const { return files_; }
    // Reads the list file again.
    void Load();
    // Puts `path` (made absolute) first, drops an older entry of the same file and anything
    // beyond MAX_FILES, and writes the list. A name holding a line break is not kept.
    void Add(const QString& path);
    // Removes `path` from the list and writes it.
    void Remove(const QString& path);

  private:
    bool Save() const;

    QString path_;
    QStringList files_;
};

// The submenu (objectName "RecentFiles1", caption "Recent Files") placed after "Open Midifile":
// every file the window opens is added to the list; choosing an item opens that file as
// "Open Midifile" does, or, when it no longer exists, removes it from the list and says so.
// Disabled while the list is empty.
class RecentFilesMenu : public QMenu {
    Q_OBJECT
  public:
    // `list` and `prompts` must outlive the menu, which belongs to `window`.
    RecentFilesMenu(TTabForm& window, RecentFiles& list, Prompts& prompts);

    // Opens the list's file at `index` (0 = newest), as the menu item does.
    void Choose(int index);

  private:
    void Rebuild();

    TTabForm& window_;
    RecentFiles& list_;
    Prompts& prompts_;
};

} // namespace morvel
