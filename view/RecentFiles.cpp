#include "view/RecentFiles.h"

#include "view/TabForm.h"
#include "widgets/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace morvel {

namespace {
constexpr const char* LIST_FILE_NAME = "recent-files";
// A list file larger than this is not a list this program wrote.
constexpr qint64 MAX_LIST_BYTES = 64 * 1024;
// Creates `folder` and its missing parents with mode 0700, as the XDG base directory rules ask.
bool MakePrivatePath(const QString& folder) {
    if (QFileInfo(folder).isDir()) return true;
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent == folder || !MakePrivatePath(parent)) return false;
    return QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

RecentFiles::RecentFiles(QString listPath) : path_(std::move(listPath)) {
    Load();
}

QString RecentFiles::DefaultPath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.local/state";
    return base + "/morvel/" + LIST_FILE_NAME;
}

void RecentFiles::Load() {
    files_.clear();
    QFile file(path_);
    if (!QFileInfo(path_).isFile() || !file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.read(MAX_LIST_BYTES + 1);
    if (bytes.size() > MAX_LIST_BYTES) return;
    for (const QString& line : QString::fromUtf8(bytes).split('\n')) {
        if (files_.size() == MAX_FILES) break;
        if (QDir::isAbsolutePath(line) && !files_.contains(line)) files_.append(line);
    }
}

void RecentFiles::Add(const QString& path) {
    if (path.isEmpty() || path.contains('\n') || path.contains('\r')) return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    Load();
    files_.removeAll(absolute);
    files_.prepend(absolute);
    while (files_.size() > MAX_FILES)
        files_.removeLast();
    Save();
}

void RecentFiles::Remove(const QString& path) {
    Load();
    if (files_.removeAll(path) > 0) Save();
}

bool RecentFiles::Save() const {
    if (!MakePrivatePath(QFileInfo(path_).absolutePath())) return false;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const QString& entry : files_)
        file.write(entry.toUtf8() + '\n');
    return file.commit();
}

RecentFilesMenu::RecentFilesMenu(TTabForm& window, RecentFiles& list, Prompts& prompts)
    : QMenu("Recent Files", &window), window_(window), list_(list), prompts_(prompts) {
    setObjectName("RecentFiles1");
    menuAction()->setObjectName("RecentFiles1");
    window.AddMenuItem(window.TopMenu("File1"), menuAction());
    connect(&window, &TTabForm::FileOpened, this, [this](const SongPointer& song) {
        list_.Add(QFile::decodeName(QByteArray::fromStdString(song->Path)));
        Rebuild();
    });
    Rebuild();
}

void RecentFilesMenu::Rebuild() {
    clear();
    const QStringList& files = list_.Files();
    for (int i = 0; i < files.size(); ++i) {
        QString caption = files[i];
        caption.replace('&', "&&");
        QAction* item = addAction(caption);
        item->setObjectName(QString("RecentFile%1").arg(i + 1));
        connect(item, &QAction::triggered, this, [this, i] { Choose(i); });
    }
    menuAction()->setEnabled(!files.isEmpty());
}

void RecentFilesMenu::Choose(int index) {
    if (index < 0 || index >= list_.Files().size()) return;
    const QString path = list_.Files()[index];
    if (!QFileInfo::exists(path)) {
        list_.Remove(path);
        Rebuild();
        prompts_.ShowMessage(
            QString("Can't find %1.\nIt has been removed from Recent Files.").arg(path));
        return;
    }
    window_.OpenMidiFilePath(path);
}

} // namespace morvel
