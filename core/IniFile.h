// A small INI reader/writer with Windows private-profile semantics: section and key names
// match without regard to case, a key is updated in place, and every other line (comments,
// blank lines, other sections, unknown keys) is kept byte for byte. Values are raw text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

class IniFile {
  public:
    IniFile() = default;
    // Splits `text` into lines; both "\n" and "\r\n" line ends are understood, and the style
    // of the first line end is used again when the text is written back.
    static IniFile Parse(std::string_view text);

    // The value of the first `key` in the first `section`, trimmed of surrounding blanks and
    // of one pair of enclosing double quotes; nothing when the section or key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Replaces the value of the first `key` in `section` (keeping the key's own spelling), or
    // adds "key=value" after the section's last non-blank line, or appends a new section.
    // Line breaks in `value` end it there; a value with blanks at either end is quoted so it
    // reads back unchanged.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file; every line ends with the file's line end.
    std::string Text() const;

  private:
    struct Located {
        size_t SectionLine; // index of the "[section]" line
        size_t EndLine;     // one past the last line of the section
    };
    std::optional<Located> FindSection(std::string_view section) const;
    // Index of the key's line within [begin, end), if any; `value` receives its raw value.
    std::optional<size_t> FindKey(size_t begin, size_t end, std::string_view key,
                                  std::string* value) const;

    std::vector<std::string> lines_;
    std::string lineEnd_ = "\n";
    bool byteOrderMark_ = false;
};

// Reads an INI integer: optional blanks, an optional sign, then decimal digits or hexadecimal
// digits after "0x", "0X" or "$", and nothing else. Values must fit 32 bits (-2^31 .. 2^32-1);
// anything else gives nothing, so the caller falls back to the key's default.
std::optional<int64_t> ParseIniInteger(std::string_view text);

} // namespace morvel
