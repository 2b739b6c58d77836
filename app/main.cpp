// The program entry: creates the windows hidden in their fixed order, shows the version window
// modally, then the main window, and opens a MIDI file named on the command line.
#include "app/ChordsConnection.h"
#include "app/SettingsConnection.h"
#include "app/SignalEnding.h"
#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "view/TabForm.h"
#include "view/VersionForm.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <exception>

namespace {

using morvel::APPLICATION_TITLE;

// The title of a conversion's message box names the file it is about, so that the fixed
// message texts need not; control bytes of the name are shown as '?'.
QString MessageTitle(const std::string& midiFileName) {
    if (midiFileName.empty()) return APPLICATION_TITLE;
    QString name = QFileInfo(QString::fromStdString(midiFileName)).fileName();
    for (QChar& c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = '?';
    return name + " - " + APPLICATION_TITLE;
}

// Message texts keep their designed wording; a trailing line end, which the text report
// needs and a message box does not, is dropped.
QString MessageText(const std::string& text) {
    QString message = QString::fromStdString(text);
    while (message.endsWith('\n') || message.endsWith('\r'))
        message.chop(1);
    return message;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    try {
        // The title names the program in its message boxes; window captions stay their own.
        QApplication::setApplicationName("morvel");

        morvel::Conversion conversion;
        morvel::DisplaySettings display;
        // SIGTERM, SIGINT and SIGHUP leave every event loop at once, modal dialogs included;
        // the ending itself then runs below, without any dialog.
        morvel::SignalEnding signalEnding([](int) { QCoreApplication::exit(0); });

        conversion.SetReporter([&conversion, &signalEnding](const std::string& text) {
            if (signalEnding.Received()) return; // ending: no more message boxes
            // A message box during a conversion shows the normal cursor, not the wait cursor.
            QApplication::setOverrideCursor(Qt::ArrowCursor);
            QMessageBox::warning(QApplication::activeWindow(),
                                 MessageTitle(conversion.MidiFileName), MessageText(text));
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
        if (signalEnding.Received()) {
            tabForm.EndOnSignal();
            return 128 + signalEnding.Received();
        }
        tabForm.show();

        const QStringList args = QApplication::arguments();
        if (args.size() > 1) {
            const QString path = args.at(1);
            QTimer::singleShot(0, &tabForm, [&tabForm, path] { tabForm.OpenMidiFilePath(path); });
        }
        const int status = app.exec();
        if (!signalEnding.Received()) return status;
        tabForm.EndOnSignal();
        return 128 + signalEnding.Received();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, APPLICATION_TITLE, QString::fromLocal8Bit(error.what()));
        return 0;
    }
}
