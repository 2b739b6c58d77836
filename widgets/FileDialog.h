// The program's one file dialog serves every file command in turn. Each command runs it through
// here, so every use starts the same way: its own filter and folder, an empty name field and
// nothing selected (never the file another command chose last, such as the open MIDI file), and
// the dialog's modes are put back afterwards for the next command.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace morvel {

struct FileDialogRequest {
    QString Filter;        // "MID (*.mid)", "OPT (*.opt)", ...
    bool ForSaving = false; // a new or existing file to write; else an existing file to read
    QString Folder;        // where the dialog opens; empty keeps its current folder
};

// Runs `dialog` modally for one command; with no dialog, a dialog of its own under `window`.
// Saving adds the filter's suffix to a name typed without one. Answers the chosen path, or an
// empty text when the user cancels.
QString RunFileDialog(QFileDialog* dialog, QWidget* window, const FileDialogRequest& request);

// Empties the name field and the selection of `dialog`: selectFile() ignores an empty name.
void ClearFileName(QFileDialog* dialog);

// "TXT (*.txt)" -> "txt"; empty when the filter names no suffix.
QString SuffixOf(const QString& filter);

} // namespace morvel
