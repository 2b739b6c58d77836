// The program entry: creates the windows hidden in their fixed order, shows the version window
// modally, then the main window, and opens a MIDI file named on the command line.
#include "app/ChordsConnection.h"
#include "app/SettingsConnection.h"
#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "view/TabForm.h"
#include "view/VersionForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <exception>

namespace {
const char* const APPLICATION_TITLE = "MORVEL MIDI to Tabulature Conversion";
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    try {
        // The title names the program in its message boxes; window captions stay their own.
        QApplication::setApplicationName("morvel");

        morvel::Conversion conversion;
        morvel::DisplaySettings display;
        conversion.SetReporter([](const std::string& text) {
            // A message box during a conversion shows the normal cursor, not the wait cursor.
            QApplication::setOverrideCursor(Qt::ArrowCursor);
            QMessageBox::warning(QApplication::activeWindow(), APPLICATION_TITLE,
                                 QString::fromStdString(text));
            QApplication::restoreOverrideCursor();
        });

        morvel::TTabForm tabForm(conversion, display);
        morvel::TChordsForm chordsForm(display, &tabForm);
        morvel::ConnectChords(tabForm, chordsForm, conversion, display);
        morvel::SettingsCommands settings(conversion, display, &tabForm, tabForm.OpenMidifile());
        settings.Seams.ShowMessage = [&tabForm](const QString& text) {
            QMessageBox::warning(&tabForm, APPLICATION_TITLE, text);
        };
        morvel::ConnectSettings(tabForm, settings);
        // The player window is created here, after the options dialog, once it exists.
        morvel::TVersionForm versionForm;
        versionForm.FillVersionText();
        settings.ReadIniSettings();

        versionForm.exec();
        tabForm.show();

        const QStringList args = QApplication::arguments();
        if (args.size() > 1) {
            const QString path = args.at(1);
            QTimer::singleShot(0, &tabForm, [&tabForm, path] { tabForm.OpenMidiFilePath(path); });
        }
        return app.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, APPLICATION_TITLE, QString::fromLocal8Bit(error.what()));
        return 0;
    }
}
