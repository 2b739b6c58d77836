// The program entry: answers --help and --version without a display, creates the windows
// hidden in their fixed order, shows the version window modally, then the main window, and
// opens a MIDI file named on the command line. A fatal error ends it with a failure status.
#include "app/ChordsConnection.h"
#include "app/CommandLine.h"
#include "app/ConversionMessages.h"
#include "app/ExportConnection.h"
#include "app/PlayerConnection.h"
#include "app/SettingsConnection.h"
#include "app/SignalEnding.h"
#include "app/WindowAccessibility.h"
#include "chords/ChordDiagram.h"
#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "playback/MidiPlayback.h"
#include "player/TMidiPlayer.h"
#include "view/RecentFiles.h"
#include "view/TabForm.h"
#include "view/VersionForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>

using morvel::APPLICATION_TITLE;

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const morvel::CommandLine commandLine = morvel::ParseCommandLine(arguments);
    if (commandLine.Exit) {
        std::fputs(commandLine.Output.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.ErrorOutput.toLocal8Bit().constData(), stderr);
        return commandLine.ExitStatus;
    }

    QApplication app(argc, argv);
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
        new morvel::RecentFilesMenu(tabForm, recentFiles, prompts);
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

        if (!commandLine.File.isEmpty()) {
            const QString path = commandLine.File;
            QTimer::singleShot(0, &tabForm, [&tabForm, path] { tabForm.OpenMidiFilePath(path); });
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
