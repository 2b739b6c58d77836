#include "settings/SettingsCommands.h"

#include "widgets/ColorRef.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace morvel {

namespace {

constexpr const char* OPTION_FILE_FILTER = "OPT (*.opt)";
constexpr const char* OPTION_FILE_FAILURE = "Can't save options to file specified.";

} // namespace

SettingsCommands::SettingsCommands(Conversion& conversion, DisplaySettings& display,
                                   Prompts& prompts, QWidget* window)
    : QObject(window), store_(conversion, display), prompts_(prompts), window_(window),
      optionsForm_(new TOptionsForm(conversion, display, window)), loadFolder_(QDir::homePath()),
      saveFolder_(QDir::homePath()) {
    connect(optionsForm_, &TOptionsForm::OptionsApplied, this, &SettingsCommands::OptionsApplied);
    connect(optionsForm_, &TOptionsForm::ForceFitChanged, this, &SettingsCommands::DrawingChanged);
}

void SettingsCommands::AddCommand(QMenu* menu, const char* name, const char* caption,
                                  void (SettingsCommands::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, handler);
}

QMenu* SettingsCommands::OptionsMenu() {
    if (!optionsMenu_) {
        optionsMenu_ = new QMenu("Options", window_);
        optionsMenu_->setObjectName("Options1");
        optionsMenu_->menuAction()->setObjectName("Options1");
        AddCommand(optionsMenu_, "OptionsPanel1", "Options", &SettingsCommands::OptionsPanel1Click);
        AddCommand(optionsMenu_, "LoadOptions1", "Load Options",
                   &SettingsCommands::LoadOptions1Click);
        AddCommand(optionsMenu_, "SaveOptions1", "Save Options",
                   &SettingsCommands::SaveOptions1Click);
    }
    return optionsMenu_;
}

QMenu* SettingsCommands::ColorsMenu() {
    if (!colorsMenu_) {
        colorsMenu_ = new QMenu("Colors", window_);
        colorsMenu_->setObjectName("Colors1");
        colorsMenu_->menuAction()->setObjectName("Colors1");
        AddCommand(colorsMenu_, "Foreground1", "Bar Color", &SettingsCommands::Foreground1Click);
        AddCommand(colorsMenu_, "Background1", "Background Color",
                   &SettingsCommands::Background1Click);
        AddCommand(colorsMenu_, "Notes1", "Note Color", &SettingsCommands::Notes1Click);
        AddCommand(colorsMenu_, "Invert1", "Invert Colors", &SettingsCommands::Invert1Click);
    }
    return colorsMenu_;
}

void SettingsCommands::ReadIniSettings() {
    QString error;
    if (!store_.ReadIniSettings(&error))
        prompts_.ShowMessage(error +
                          "\nThe default settings are used.\nSettings will not be saved; the file "
                          "is left as it is.");
    optionsForm_->ShowTuningName();
}

bool SettingsCommands::TryWriteSettings(QString* error) {
    QString why;
    if (store_.WriteIniSettings(&why)) return true;
    if (error) *error = QString("Unable to write to %1").arg(store_.IniPath()) + "\n" + why;
    return false;
}

void SettingsCommands::OptionsPanel1Click() {
    optionsForm_->ShowCentred();
}

QString SettingsCommands::ChooseOptionFile(bool forSaving) {
    QString& folder = forSaving ? saveFolder_ : loadFolder_;
    const QString chosen = prompts_.ChooseFile({OPTION_FILE_FILTER, forSaving, folder});
    if (!chosen.isEmpty()) folder = QFileInfo(chosen).absolutePath();
    return chosen;
}

bool SettingsCommands::IsOpenMidiFile(const QString& path) const {
    const std::string& midi = store_.ConvConst().MidiFileName;
    if (midi.empty()) return false;
    const QFileInfo chosen(path), open(QString::fromStdString(midi));
    return chosen.exists() && chosen.canonicalFilePath() == open.canonicalFilePath();
}

void SettingsCommands::LoadOptions1Click() {
    const QString path = ChooseOptionFile(false);
    if (path.isEmpty()) return;
    // The designed text says "save" for a failed load too; the second line says what failed.
    if (QString why; !store_.LoadOptionFile(path, &why)) {
        prompts_.ShowMessage(QString(OPTION_FILE_FAILURE) + "\n" + why);
        return;
    }
    optionsForm_->ShowTuningName();
    optionsForm_->FillOptionsDialog();
}

void SettingsCommands::SaveOptions1Click() {
    const QString path = ChooseOptionFile(true);
    if (path.isEmpty()) return;
    // An option record written over the song would destroy it.
    if (IsOpenMidiFile(path)) {
        prompts_.ShowMessage(QString("\"%1\" is the open MIDI file; the options were not saved.")
                                 .arg(QDir::toNativeSeparators(path)));
        return;
    }
    // A failure while writing is reported too: a half-written option file is no saved file.
    if (QString why; !store_.SaveOptionFile(path, &why))
        prompts_.ShowMessage(QString(OPTION_FILE_FAILURE) + "\n" + why);
}

void SettingsCommands::ChooseColorInto(uint32_t& color) {
    if (const std::optional<QColor> chosen = prompts_.ChooseColor()) {
        color = RefFromColor(*chosen);
        emit DrawingChanged();
    }
}

void SettingsCommands::Foreground1Click() {
    ChooseColorInto(store_.Display().BarColor);
}
void SettingsCommands::Background1Click() {
    ChooseColorInto(store_.Display().BackgroundColor);
}
void SettingsCommands::Notes1Click() {
    ChooseColorInto(store_.Display().NotesColor);
}

void SettingsCommands::Invert1Click() {
    DisplaySettings& d = store_.Display();
    std::swap(d.BarColor, d.BackgroundColor);
    emit DrawingChanged();
}

} // namespace morvel
