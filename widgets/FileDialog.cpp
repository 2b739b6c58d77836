#include "widgets/FileDialog.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>

#include <memory>

namespace morvel {

QString SuffixOf(const QString& filter) {
    const int star = filter.indexOf("*.");
    if (star < 0) return {};
    QString suffix = filter.mid(star + 2);
    suffix.chop(suffix.endsWith(')') ? 1 : 0);
    return suffix;
}

void ClearFileName(QFileDialog* dialog) {
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->clear();
    for (const char* viewName : {"listView", "treeView"})
        if (auto* view = dialog->findChild<QAbstractItemView*>(viewName))
            if (view->selectionModel()) view->selectionModel()->clearSelection();
}

QString RunFileDialog(QFileDialog* dialog, QWidget* window, const FileDialogRequest& request) {
    std::unique_ptr<QFileDialog> own;
    if (!dialog) {
        own = std::make_unique<QFileDialog>(window);
        dialog = own.get();
    }
    const QFileDialog::FileMode oldMode = dialog->fileMode();
    const QFileDialog::AcceptMode oldAccept = dialog->acceptMode();
    const QString oldSuffix = dialog->defaultSuffix();
    const QString oldDirectory = dialog->directory().absolutePath();
    dialog->setFileMode(request.ForSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setAcceptMode(request.ForSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setDefaultSuffix(request.ForSaving ? SuffixOf(request.Filter) : QString());
    dialog->setNameFilter(request.Filter);
    if (!request.Folder.isEmpty()) dialog->setDirectory(request.Folder);
    ClearFileName(dialog);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        chosen = dialog->selectedFiles().first();
    dialog->setFileMode(oldMode);
    dialog->setAcceptMode(oldAccept);
    dialog->setDefaultSuffix(oldSuffix);
    dialog->setDirectory(oldDirectory);
    ClearFileName(dialog);
    return chosen;
}

} // namespace morvel
