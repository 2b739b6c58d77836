// Joins the settings commands to the main window: the Options and Colors menus at their places,
// the options dialog's view updates, and the INI file written at the ending.
#pragma once

#include "settings/SettingsCommands.h"
#include "view/TabForm.h"

namespace morvel {

inline void ConnectSettings(TTabForm& form, SettingsCommands& settings) {
    MainWindowHooks hooks;
    hooks.BuildTracksMenu = [&form] { form.BuildTracksMenu(); };
    hooks.ShowSelectedTrack = [&form] { form.ShowSelectedTrack(); };
    hooks.DrawAllMeasures = [&form] { form.DrawAllMeasures(); };
    hooks.ConvertMidiFile = [&form] {
        form.InvalidateMeasureIndex();
        form.Conv().ConvertMidiFile();
        form.InvalidateMeasureIndex();
    };
    settings.SetHooks(hooks);
    form.AddTopMenu(settings.OptionsMenu());
    form.AddTopMenu(settings.ColorsMenu());
    form.WriteSettings = [&settings] { return settings.WriteSettings(); };
}

} // namespace morvel
