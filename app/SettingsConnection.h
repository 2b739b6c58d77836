// Joins the settings commands to the main window: the Options and Colors menus at their places,
// the one reconversion after an options change, the redraw after a colour change, and the INI
// file written at the ending.
#pragma once

#include "settings/SettingsCommands.h"
#include "view/TabForm.h"

#include <QPointer>

namespace morvel {

// `alsoRepaint`, when given, is repainted with the measures after a colour change (the chord
// window's diagram).
inline void ConnectSettings(TTabForm& form, SettingsCommands& settings,
                            QWidget* alsoRepaint = nullptr) {
    // The main window's reconversion rebuilds the Tracks menu and the view itself.
    QObject::connect(&settings, &SettingsCommands::OptionsApplied, &form,
                     &TTabForm::ReconvertMidiFile);
    QObject::connect(&settings, &SettingsCommands::DrawingChanged, &form,
                     [&form, alsoRepaint = QPointer<QWidget>(alsoRepaint)] {
                         form.TabScroll()->DrawAllMeasures();
                         if (alsoRepaint) alsoRepaint->update();
                     });
    form.AddTopMenu(settings.OptionsMenu());
    form.AddTopMenu(settings.ColorsMenu());
    form.SetSettingsWriter([&settings](QString* error) { return settings.TryWriteSettings(error); });
}

} // namespace morvel
