#include "cli/ToolCommon.h"

#include "core/Conversion.h"
#include "core/SettingsFiles.h"
#include "io/OutputFile.h"

#include <cstdio>
#include <filesystem>
#include <mutex>

namespace morvel::cli {

namespace {

std::mutex messageMutex;

} // namespace

void PrintMessage(const std::string& file, const std::string& text) {
    const std::string name = EscapeControlBytes(file);
    std::string lines;
    size_t pos = 0;
    do {
        size_t end = text.find(LINE_END, pos);
        if (end == std::string::npos) end = text.size();
        lines +=
            name + ": " + EscapeControlBytes(std::string_view(text).substr(pos, end - pos)) + "\n";
        pos = end + 2;
    } while (pos < text.size());
    std::lock_guard<std::mutex> lock(messageMutex);
    std::fputs(lines.c_str(), stderr);
}

std::vector<std::string> ReadFiles(const Options& options) {
    std::vector<std::string> read = options.Inputs;
    if (!options.IniFile.empty()) read.push_back(options.IniFile);
    if (!options.OptionFile.empty()) read.push_back(options.OptionFile);
    return read;
}

bool CheckStandardOutput(const std::vector<std::string>& read) {
    const std::optional<FileId> out = StandardOutputId();
    if (!out) return true;
    for (const std::string& path : read)
        if (FileIdOf(path) == out) {
            PrintMessage("standard output",
                         "is \"" + path + "\", which this command reads; nothing was written");
            return false;
        }
    return true;
}

bool LoadSettings(const Options& options, StoredSettings& stored, const std::string& tool) {
    std::string error;
    // The reader takes a missing INI file for "all defaults"; a file named on the command
    // line that is not there is a mistake worth saying.
    if (!options.IniFile.empty() && !std::filesystem::exists(options.IniFile)) {
        PrintMessage(options.IniFile, "no such file");
        return false;
    }
    if (!options.IniFile.empty() && !ReadIniSettings(options.IniFile, stored, error)) {
        PrintMessage(tool, error); // the text names the file itself
        return false;
    }
    if (!options.OptionFile.empty() && !ReadOptionFile(options.OptionFile, stored, error)) {
        PrintMessage(tool, error);
        return false;
    }
    ApplyFlags(options, stored.Conv, stored.TuningSettings);
    return true;
}

} // namespace morvel::cli
