// Runs conversions in memory and collects the report and the error messages.
#pragma once

#include "core/Conversion.h"

#include <string>
#include <vector>

namespace morvel::test {

struct Converted {
    std::string report;
    std::vector<std::string> errors;
};

// Converts `bytes` with `conv`'s settings; the report goes to memory, errors to a list.
inline Converted ConvertBytes(Conversion& conv, const std::string& bytes,
                              const std::string& name = "test.mid") {
    Converted result;
    conv.SetReportSink([&](std::string_view chunk) { result.report.append(chunk); });
    conv.SetReporter([&](const std::string& text) { result.errors.push_back(text); });
    conv.ConvertMidiBytes(bytes, name);
    conv.SetReportSink(nullptr);
    conv.SetReporter(nullptr);
    return result;
}

inline Converted ConvertBytes(const std::string& bytes) {
    Conversion conv;
    return ConvertBytes(conv, bytes);
}

// The lines of a text, split at "\r\n" (the last, empty piece after a final line end is dropped).
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

} // namespace morvel::test
