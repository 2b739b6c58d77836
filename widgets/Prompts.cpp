#include "widgets/Prompts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QColorDialog>
#include <QCompleter>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace morvel {

DialogPrompts::DialogPrompts(const QString& programTitle) : title_(programTitle) {}

DialogPrompts::~DialogPrompts() = default;

void DialogPrompts::SetWindow(QWidget* window) {
    window_ = window;
}

QWidget* DialogPrompts::Parent() const {
    QWidget* active = QApplication::activeWindow();
    return active ? active : window_.data();
}

void DialogPrompts::Show(const QString& title, const QString& text) {
    QMessageBox::warning(Parent(), title.isEmpty() ? title_ : title, text);
}

bool DialogPrompts::Ask(const QString& question, const QString& yes, const QString& no) {
    QMessageBox box(QMessageBox::Warning, title_, question, QMessageBox::NoButton, Parent());
    QPushButton* yesButton = box.addButton(yes, QMessageBox::DestructiveRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(noButton);
    box.setEscapeButton(noButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

QFileDialog* DialogPrompts::FileDialog() {
    if (!fileDialog_) {
        auto* dialog = new QFileDialog(window_, "Open Midifile");
        if (!window_) ownDialog_.reset(dialog);
        dialog->setObjectName("OpenMidifile");
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        // Return typed while the name field's completion list shows accepts the dialog but
        // leaves that list open as a popup of the hidden dialog, which would swallow the next
        // click anywhere in the program. Close it with the dialog.
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
            for (QCompleter* completer : dialog->findChildren<QCompleter*>())
                if (completer->popup() && completer->popup()->isVisible())
                    completer->popup()->hide();
        });
        fileDialog_ = dialog;
    }
    return fileDialog_;
}

QString DialogPrompts::ChooseFile(const FileDialogRequest& request) {
    return RunFileDialog(FileDialog(), window_, request);
}

std::optional<QColor> DialogPrompts::ChooseColor() {
    QColorDialog dialog(Parent());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedColor();
}

bool DialogPrompts::ChoosePrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, Parent());
    dialog.setObjectName("MidiPrint");
    return dialog.exec() == QDialog::Accepted;
}

} // namespace morvel
