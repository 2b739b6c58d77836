// How a window reaches the user: a message, a question, a file name, a colour, a printer. Every
// window that needs one of these gets a Prompts at construction and asks nothing any other way;
// DialogPrompts shows the real dialogs, and tests give a scripted one
// (tests/support/ScriptedPrompts.h) that answers without showing anything.
#pragma once

#include "widgets/FileDialog.h"

#include <QColor>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QFileDialog;
class QPrinter;
class QWidget;

namespace morvel {

class Prompts {
  public:
    virtual ~Prompts() = default;

    // A message under the program's title; returns when the user has read it.
    void ShowMessage(const QString& text) { Show(QString(), text); }
    // A message under its own title (an empty title is the program's).
    void ShowMessage(const QString& title, const QString& text) { Show(title, text); }

    // Asks `question` with the two answers `yes` and `no`; `no` is the default and the answer
    // of Escape. True for `yes`.
    virtual bool Ask(const QString& question, const QString& yes, const QString& no) = 0;
    // The program's one file dialog, run for `request`: the chosen path, empty on cancel.
    virtual QString ChooseFile(const FileDialogRequest& request) = 0;
    // A colour from the colour dialog; nothing on cancel.
    virtual std::optional<QColor> ChooseColor() = 0;
    // The print dialog on `printer`; true when the user accepted it (and set `printer` up).
    virtual bool ChoosePrinter(QPrinter& printer) = 0;

  private:
    virtual void Show(const QString& title, const QString& text) = 0;
};

// The real dialogs: message boxes over the active window (or the main window), the program's
// one file dialog (objectName "OpenMidifile", a child of the main window), and the standard
// colour and print dialogs.
class DialogPrompts : public Prompts {
  public:
    explicit DialogPrompts(const QString& programTitle);
    ~DialogPrompts() override;

    // The main window: it owns the file dialog and is the parent of every dialog when no other
    // window of the program is active. Set once it exists, before the first prompt.
    void SetWindow(QWidget* window);
    // The one file dialog, created on first use.
    QFileDialog* FileDialog();

    bool Ask(const QString& question, const QString& yes, const QString& no) override;
    QString ChooseFile(const FileDialogRequest& request) override;
    std::optional<QColor> ChooseColor() override;
    bool ChoosePrinter(QPrinter& printer) override;

  private:
    void Show(const QString& title, const QString& text) override;
    QWidget* Parent() const;

    QString title_;
    QPointer<QWidget> window_;
    QPointer<QFileDialog> fileDialog_;
    std::unique_ptr<QFileDialog> ownDialog_; // the file dialog while there is no window
};

} // namespace morvel
