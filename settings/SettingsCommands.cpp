#include "settings/SettingsCommands.h"

#include "widgets/ColorRef.h"
#include "widgets/FileDialog.h"
#include "widgets/MenuOrder.h"

#include <QAbstractItemView>
#include <QAction>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace morvel {

namespace {

constexpr const char* OPTION_FILE_FILTER = "OPT (*.opt)";
constexpr const char* OPTION_FILE_FAILURE = "Can't save options to file specified.";

} // namespace

SettingsCommands::SettingsCommands(Conversion& conversion, DisplaySettings& display,
                                   QWidget* window, QFileDialog* fileDialog)
    : QObject(window), store_(conversion, display), window_(window), fileDialog_(fileDialog),
      optionsForm_(new TOptionsForm(conversion, display, window)), loadFolder_(QDir::homePath()),
      saveFolder_(QDir::homePath()) {
    Seams.ChooseOptionFile = [this](bool forSaving) { return RunFileDialog(forSaving); };
    Seams.ChooseColor = [this]() -> std::optional<uint32_t> {
        QColorDialog dialog(window_);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return RefFromColor(dialog.selectedColor());
    };
    Seams.ShowMessage = [this](const QString& text) {
        QMessageBox::warning(window_, QGuiApplication::applicationDisplayName(), text);
    };
}

void SettingsCommands::SetHooks(const MainWindowHooks& hooks) {
    hooks_ = hooks;
    optionsForm_->SetHooks(hooks);
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

void SettingsCommands::InstallMenus(QMenuBar* bar) {
    for (QMenu* menu : {OptionsMenu(), ColorsMenu()})
        InsertInMenuOrder(bar, menu->menuAction());
}

void SettingsCommands::ReadIniSettings() {
    QString error;
    if (!store_.ReadIniSettings(&error))
        Seams.ShowMessage(error +
                          "\nThe default settings are used.\nSettings will not be saved; the file "
                          "is left as it is.");
    optionsForm_->ShowTuningName();
}

bool SettingsCommands::WriteSettings() {
    QString error;
    if (TryWriteSettings(&error)) return true;
    Seams.ShowMessage(error);
    return false;
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

QString SettingsCommands::RunFileDialog(bool forSaving) {
    QString& folder = forSaving ? saveFolder_ : loadFolder_;
    const QString chosen =
        morvel::RunFileDialog(fileDialog_, window_, {OPTION_FILE_FILTER, forSaving, folder});
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
    const QString path = Seams.ChooseOptionFile(false);
    if (path.isEmpty()) return;
    // The designed text says "save" for a failed load too; the second line says what failed.
    if (QString why; !store_.LoadOptionFile(path, &why)) {
        Seams.ShowMessage(QString(OPTION_FILE_FAILURE) + "\n" + why);
        return;
    }
    optionsForm_->ShowTuningName();
    optionsForm_->FillOptionsDialog();
}

void SettingsCommands::SaveOptions1Click() {
    const QString path = Seams.ChooseOptionFile(true);
    if (path.isEmpty()) return;
    // An option record written over the song would destroy it.
    if (IsOpenMidiFile(path)) {
        Seams.ShowMessage(QString("\"%1\" is the open MIDI file; the options were not saved.")
                              .arg(QDir::toNativeSeparators(path)));
        return;
    }
    // A failure while writing is reported too: a half-written option file is no saved file.
    if (QString why; !store_.SaveOptionFile(path, &why))
        Seams.ShowMessage(QString(OPTION_FILE_FAILURE) + "\n" + why);
}

void SettingsCommands::ChooseColorInto(uint32_t& color) {
    if (auto chosen = Seams.ChooseColor()) {
        color = *chosen;
        Redraw();
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
    Redraw();
}

void SettingsCommands::Redraw() {
    if (hooks_.DrawAllMeasures) hooks_.DrawAllMeasures();
}

} // namespace morvel
