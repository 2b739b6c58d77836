// A main window over a conversion whose messages are collected, with MIDI files written to a
// temporary folder and its prompts answered by the test.
#pragma once

#include "tests/support/ScriptedPrompts.h"
#include "tests/view/MidiBytes.h"
#include "view/TabForm.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QScrollArea>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace morvel::viewtest {

class ViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        conv.SetReporter([this](const std::string& text) { messages.push_back(text); });
        form = std::make_unique<TTabForm>(conv, display, prompts);
    }

    MeasureView* View() const { return form->TabScroll(); }

    QString WriteMidi(const QByteArray& bytes, const QString& name = "song.mid") {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // Opens `bytes` through the menu command, answering its dialog with the file's path.
    void Open(const QByteArray& bytes) {
        answer = WriteMidi(bytes);
        form->OpenMidifile1Click();
    }

    // Shows the window with TabScroll exactly `width` x `height`.
    void ShowWithScrollSize(int width, int height) {
        form->show();
        for (int i = 0; i < 4; ++i) {
            QApplication::processEvents();
            const QSize have = form->TabScroll()->size();
            if (have == QSize(width, height)) break;
            form->resize(form->width() + width - have.width(),
                         form->height() + height - have.height());
        }
        QApplication::processEvents();
        ASSERT_EQ(form->TabScroll()->size(), QSize(width, height));
    }

    QTemporaryDir dir;
    Conversion conv;
    DisplaySettings display;
    test::ScriptedPrompts prompts;
    std::unique_ptr<TTabForm> form;
    std::vector<std::string> messages;             // the conversion's
    QStringList& filters = prompts.OpenFilters;   // of the open dialogs
    QString& answer = prompts.OpenAnswer;         // the open dialog's answer
};

} // namespace morvel::viewtest
