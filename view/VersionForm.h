// The version window and the help window of the main window's Help menu.
#pragma once

#include <QDialog>
#include <QWidget>

class QTextEdit;
class QTextBrowser;

namespace morvel {

// The application's title: the title of its message boxes.
constexpr const char* APPLICATION_TITLE = "MORVEL MIDI to Tabulature Conversion";

// The program's banner, shown in the version window and as the main window's caption.
QString VersionBanner();

class TVersionForm : public QDialog {
    Q_OBJECT
  public:
    explicit TVersionForm(QWidget* parent = nullptr);
    // Fills VersionMemo with a blank line, the banner and a blank line, each padded with
    // spaces to 62 characters.
    void FillVersionText();
    QTextEdit* VersionMemo() const { return memo_; }

  private:
    QTextEdit* memo_;
};

// Shows the program's help, compiled into the program as a resource.
class THelpForm : public QWidget {
    Q_OBJECT
  public:
    explicit THelpForm(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

  private:
    QTextBrowser* browser_;
};

// Centres `window` on its screen: left = (screen width - width) / 2, top likewise.
void CentreOnScreen(QWidget* window);

} // namespace morvel
