// The "Recent Files" submenu of the File menu: the last files opened, newest first. The list
// lives in a small file of its own, $XDG_STATE_HOME/morvel/recent-files (by default
// ~/.local/state/morvel/), never in MORVEL.INI.
#pragma once

#include <QMenu>

#include <string>
#include <vector>

namespace morvel {

class Prompts;

// The list and its file: one absolute path a line, as the bytes that name the file (not
// necessarily UTF-8), newest first. Every change reads the file again first (another running
// copy may have written it), then writes it through the output module. An unreadable or
// malformed file counts as an empty list. When the file cannot be written the old one stays,
// and from then on this copy's list is the list until a write succeeds: nothing added in the
// session is lost by reading the old file again.
class RecentFiles {
  public:
    static constexpr size_t MAX_FILES = 8;

    explicit RecentFiles(std::string listPath = DefaultPath());
    static std::string DefaultPath();
    const std::string& ListPath() const { return path_; }

    // The files, newest first, as last read or written.
    const std::vector<std::string>& Files() const { return files_; }
    // Reads the list file again.
    void Load();
    // Puts `path` (made absolute) first, drops an older entry of the same file and anything
    // beyond MAX_FILES, and writes the list. A name holding a line break is not kept. False
    // with `error` (naming the list file) when the list could not be written.
    bool Add(const std::string& path, std::string& error);
    // Removes `path` from the list and writes it; false with `error` as Add.
    bool Remove(const std::string& path, std::string& error);

  private:
    void Refresh();
    bool Save(std::string& error);

    std::string path_;
    std::vector<std::string> files_;
    bool sessionOnly_ = false; // the last write failed
};

// The submenu (objectName "RecentFiles1", caption "Recent Files"), a file name per item, shown
// in UTF-8 with a replacement character for each byte that is not. Choosing an item announces
// its file with FileChosen, or, when the file no longer exists, removes it from the list and
// says so. A list that cannot be written is said once, the first time. Disabled while the list
// is empty.
class RecentFilesMenu : public QMenu {
    Q_OBJECT
  public:
    // `list` and `prompts` must outlive the menu.
    RecentFilesMenu(RecentFiles& list, Prompts& prompts, QWidget* parent);

    // A file opened: first in the list.
    void Opened(const std::string& path);
    // Chooses the list's file at `index` (0 = newest), as the menu item does.
    void Choose(int index);

  signals:
    void FileChosen(const std::string& path);

  private:
    void Rebuild();
    void Said(bool saved, const std::string& error);

    RecentFiles& list_;
    Prompts& prompts_;
    bool failureShown_ = false;
};

} // namespace morvel
