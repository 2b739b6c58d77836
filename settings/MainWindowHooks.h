// What the settings need from the main window. Every hook may be left empty: the settings then
// skip that step.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace morvel {

struct MainWindowHooks {
    std::function<void()> BuildTracksMenu;
    std::function<void()> ShowSelectedTrack;
    std::function<void()> DrawAllMeasures;
    // Converts the open file again: the only way the settings reconvert after a change.
    std::function<void()> ConvertMidiFile;
};

// Dialogs and message boxes, replaceable so tests answer them without showing anything.
struct DialogSeams {
    // The chosen path for an option file ("OPT (*.opt)"), or empty on cancel.
    std::function<QString(bool forSaving)> ChooseOptionFile;
    // The chosen colour as 0x00BBGGRR, or nothing on cancel.
    std::function<std::optional<uint32_t>()> ChooseColor;
    std::function<void(const QString& text)> ShowMessage;
};

} // namespace morvel
