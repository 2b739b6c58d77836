// Prompts for tests: answers every prompt from what the test set beforehand and records what
// was asked and shown, without showing anything.
#pragma once

#include "widgets/Prompts.h"

#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace morvel::test {

class ScriptedPrompts : public Prompts {
  public:
    // ---- Answers ----
    QString OpenAnswer;                 // a file to read: this path (empty: cancelled)
    QString SaveAnswer;                 // a file to write: this path (empty: cancelled)
    // When set, answers every file request instead of OpenAnswer and SaveAnswer.
    std::function<QString(const FileDialogRequest&)> FileAnswer;
    bool AskAnswer = false;             // every question answers this
    std::optional<QColor> ColorAnswer;  // the colour dialog's answer (none: cancelled)
    // The print dialog: called with the printer when set, else cancelled.
    std::function<bool(QPrinter&)> PrinterAnswer;

    // ---- Records ----
    QStringList Messages;      // texts of the messages shown, in order
    QStringList Titles;        // their titles (empty: the program's title)
    QStringList Questions;     // questions asked
    QStringList OpenFilters;   // filters of the files to read asked for, in order
    QStringList SaveFilters;   // filters of the files to write asked for, in order
    std::vector<FileDialogRequest> FileRequests; // every file request, in order

    bool Ask(const QString& question, const QString&, const QString&) override {
        Questions << question;
        return AskAnswer;
    }
    QString ChooseFile(const FileDialogRequest& request) override {
        FileRequests.push_back(request);
        (request.ForSaving ? SaveFilters : OpenFilters) << request.Filter;
        if (FileAnswer) return FileAnswer(request);
        return request.ForSaving ? SaveAnswer : OpenAnswer;
    }
    std::optional<QColor> ChooseColor() override { return ColorAnswer; }
    bool ChoosePrinter(QPrinter& printer) override {
        return PrinterAnswer ? PrinterAnswer(printer) : false;
    }

  private:
    void Show(const QString& title, const QString& text) override {
        Titles << title;
        Messages << text;
    }
};

} // namespace morvel::test
