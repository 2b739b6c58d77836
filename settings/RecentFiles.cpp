#include "settings/RecentFiles.h"

#include "io/OutputFile.h"
#include "io/SafeOpen.h"
#include "widgets/Prompts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace morvel {

namespace {

constexpr const char* LIST_FILE_NAME = "recent-files";
// A list file larger than this is not a list this program wrote.
constexpr size_t MAX_LIST_BYTES = 64 * 1024;

std::string Describe(const std::string& path, const std::string& why) {
    return "Can't save the Recent Files list \"" + path + "\": " + why;
}

} // namespace

RecentFiles::RecentFiles(std::string listPath) : path_(std::move(listPath)) {
    Load();
}

std::string RecentFiles::DefaultPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base = state != nullptr ? state : "";
    if (base.empty() || base.front() != '/') {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/state";
    }
    return base + "/morvel/" + LIST_FILE_NAME;
}

void RecentFiles::Load() {
    files_.clear();
    std::string why;
    std::FILE* file = OpenRegularFileStream(path_, why);
    if (file == nullptr) return;
    std::string bytes(MAX_LIST_BYTES + 1, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    if (bytes.size() > MAX_LIST_BYTES) return;
    for (size_t at = 0; at < bytes.size() && files_.size() < MAX_FILES;) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (line.starts_with('/') && line.find('\r') == std::string::npos &&
            std::find(files_.begin(), files_.end(), line) == files_.end())
            files_.push_back(std::move(line));
    }
}

void RecentFiles::Refresh() {
    if (!sessionOnly_) Load();
}

bool RecentFiles::Add(const std::string& path, std::string& error) {
    if (path.empty() || path.find_first_of("\r\n") != std::string::npos) return true;
    const std::string absolute =
        path.front() == '/' ? path : std::filesystem::absolute(path).string();
    Refresh();
    std::erase(files_, absolute);
    files_.insert(files_.begin(), absolute);
    if (files_.size() > MAX_FILES) files_.resize(MAX_FILES);
    return Save(error);
}

bool RecentFiles::Remove(const std::string& path, std::string& error) {
    Refresh();
    if (std::erase(files_, path) == 0) return true;
    return Save(error);
}

bool RecentFiles::Save(std::string& error) {
    std::string why;
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    OutputFile out;
    if (!MakePrivateFolders(folder, why) || !out.Open(path_, {}, why)) {
        error = Describe(path_, why);
        sessionOnly_ = true;
        return false;
    }
    for (const std::string& entry : files_) {
        out.Write(entry.data(), entry.size());
        out.Write("\n", 1);
    }
    if (!out.Finish(true, why)) {
        error = Describe(path_, why);
        sessionOnly_ = true;
        return false;
    }
    sessionOnly_ = false;
    return true;
}

RecentFilesMenu::RecentFilesMenu(RecentFiles& list, Prompts& prompts, QWidget* parent)
    : QMenu("Recent Files", parent), list_(list), prompts_(prompts) {
    setObjectName("RecentFiles1");
    menuAction()->setObjectName("RecentFiles1");
    Rebuild();
}

void RecentFilesMenu::Opened(const std::string& path) {
    std::string error;
    const bool saved = list_.Add(path, error);
    Rebuild();
    Said(saved, error);
}

void RecentFilesMenu::Rebuild() {
    clear();
    const std::vector<std::string>& files = list_.Files();
    for (size_t i = 0; i < files.size(); ++i) {
        QString caption = QString::fromUtf8(files[i]);
        caption.replace('&', "&&");
        QAction* item = addAction(caption);
        item->setObjectName(QString("RecentFile%1").arg(i + 1));
        connect(item, &QAction::triggered, this, [this, i] { Choose(static_cast<int>(i)); });
    }
    menuAction()->setEnabled(!files.empty());
}

void RecentFilesMenu::Said(bool saved, const std::string& error) {
    if (saved) {
        failureShown_ = false; // a later failure is news again
        return;
    }
    if (failureShown_) return;
    failureShown_ = true;
    prompts_.ShowMessage(QString::fromUtf8(error) +
                         ".\nThe list is kept until the program ends.");
}

void RecentFilesMenu::Choose(int index) {
    if (index < 0 || static_cast<size_t>(index) >= list_.Files().size()) return;
    const std::string path = list_.Files()[static_cast<size_t>(index)];
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::string error;
        const bool saved = list_.Remove(path, error);
        Rebuild();
        prompts_.ShowMessage(QString("Can't find %1.\nIt has been removed from Recent Files.")
                                 .arg(QString::fromUtf8(path)));
        Said(saved, error);
        return;
    }
    emit FileChosen(path);
}

} // namespace morvel
