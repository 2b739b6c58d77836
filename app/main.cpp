// The program entry: answers --help and --version without a display, creates the windows
// hidden in their fixed order, shows the version window modally, then the main window, and
// opens a MIDI file named on the command line. A fatal error ends it with a failure status.
#include "app/ChordsConnection.h"
#include "app/CommandLine.h"
#include "app/ConversionMessages.h"
#include "app/ExportConnection.h"
#include "app/PlayerConnection.h"
#include "app/RecentFilesConnection.h"
#include "app/SettingsConnection.h"
#include "app/SignalEnding.h"
#include "app/WindowAccessibility.h"
#include "chords/ChordDiagram.h"
#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "io/OutputFile.h"
#include "playback/MidiPlayback.h"
#include "player/TMidiPlayer.h"
#include "view/TabForm.h"
#include "view/VersionForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

using morvel::APPLICATION_TITLE;

namespace {

// What Qt said while the application object was made: the reason it could not reach a display.
QStringList startWarnings;

// Qt ends the process with abort() when no platform plugin starts (no display to connect to);
// this says so in one line and ends it with status 1 instead.
void StartMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        startWarnings << text;
        return;
    }
    QString reason = startWarnings.value(0);
    const bool noDisplayNamed = qEnvironmentVariableIsEmpty("DISPLAY") &&
                                qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (noDisplayNamed) reason = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    if (reason.isEmpty()) reason = text.section('\n', 0, 0);
    std::fprintf(stderr, "morvel: cannot connect to a display: %s\n",
                 reason.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

} // namespace

int main(int argc, char** argv) {
    const morvel::CommandLine commandLine =
        morvel::ParseCommandLine(std::vector<std::string>(argv, argv + argc));
    if (commandLine.Exit) {
        std::fputs(commandLine.Output.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.ErrorOutput.toLocal8Bit().constData(), stderr);
        return commandLine.ExitStatus;
    }

    morvel::SetPipeWriting(morvel::PipeWriting::RefuseWithoutReader);
    const QtMessageHandler previous = qInstallMessageHandler(StartMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& warning : startWarnings) // a display was found after all
        std::fprintf(stderr, "%s\n", warning.toLocal8Bit().constData());
    try {
        // The title names the program in its message boxes; window captions stay their own.
        QApplication::setApplicationName("morvel");
        morvel::InstallWindowAccessibility();

        morvel::Conversion conversion;
        morvel::DisplaySettings display;
        // SIGTERM, SIGINT and SIGHUP leave every event loop at once, modal dialogs included;
        // the ending itself then runs below, without any dialog.
        morvel::SignalEnding signalEnding([](int) { QCoreApplication::exit(0); });

        // Every window asks the user through these dialogs.
        morvel::DialogPrompts prompts(APPLICATION_TITLE);
        conversion.SetReporter([&conversion, &signalEnding, &prompts](const std::string& text) {
            if (signalEnding.Received()) return; // ending: no more message boxes
            // A message box during a conversion shows the normal cursor, not the wait cursor.
            QApplication::setOverrideCursor(Qt::ArrowCursor);
            prompts.ShowMessage(
                morvel::ConversionMessageTitle(conversion, APPLICATION_TITLE),
                morvel::ConversionMessageText(text));
            QApplication::restoreOverrideCursor();
        });

        const morvel::ChordViewDiagrams chordView(conversion.ChordUsed, display);
        morvel::RecentFiles recentFiles;
        morvel::TTabForm tabForm(conversion, display, prompts, &chordView);
        prompts.SetWindow(&tabForm);
        morvel::ConnectRecentFiles(tabForm, recentFiles, prompts);
        morvel::TChordsForm chordsForm(display, &tabForm);
        morvel::ConnectChords(tabForm, chordsForm);
        morvel::SettingsCommands settings(conversion, display, prompts, &tabForm);
        morvel::ConnectSettings(tabForm, settings, chordsForm.ChordPaint());
        auto* exporter = new morvel::TrackExport(conversion, *tabForm.TabScroll(), prompts, &tabForm);
        morvel::ConnectExport(tabForm, *exporter);
        // The player window is created after the options dialog.
        morvel::MidiPlayback playback;
        morvel::TMidiPlayer player(*tabForm.TabScroll(), conversion, playback, prompts);
        morvel::ConnectPlayer(tabForm, player);
        morvel::TVersionForm versionForm;
        versionForm.FillVersionText();
        settings.ReadIniSettings();

        versionForm.exec();
        if (signalEnding.Received()) {
            tabForm.EndOnSignal();
            return 128 + signalEnding.Received();
        }
        tabForm.show();

        if (!commandLine.File.empty()) {
            const std::string path = commandLine.File;
            QTimer::singleShot(0, &tabForm, [&tabForm, path] { morvel::OpenInWindow(tabForm, path); });
        }
        const int status = app.exec();
        if (!signalEnding.Received()) return status;
        tabForm.EndOnSignal();
        return 128 + signalEnding.Received();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvel: %s\n", error.what());
        QMessageBox::critical(nullptr, APPLICATION_TITLE, QString::fromLocal8Bit(error.what()));
        return EXIT_FAILURE;
    }
}
