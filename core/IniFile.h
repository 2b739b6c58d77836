// A small INI reader/writer with Windows private-profile semantics: section and key names
// match without regard to case, a key is updated in place, and every other line (comments,
// blank lines, other sections, unknown keys) is kept byte for byte. Values are raw text.
//
// The file is kept as one text and searched when asked, so reading a file costs little more
// memory than the file's own size, however many lines it has.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

class IniFile {
  public:
    IniFile() = default;
    // Takes the text of a file. A line ends with "\n" or "\r\n"; any other carriage return
    // belongs to the line's text. Each line keeps its own line end, and lines added later get
    // the style of the first line end. A last line without a line end is given one.
    static IniFile Parse(std::string text);

    // The value of the first `key` in the first `section`, trimmed of surrounding blanks and
    // tabs and of one pair of enclosing double quotes; nothing when the section or key is
    // missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Get for several keys of one section in one pass over the file.
    std::vector<std::optional<std::string>> GetAll(std::string_view section,
                                                   std::span<const std::string_view> keys) const;

    // Replaces the value of the first `key` in `section` (keeping the key's own spelling), or
    // adds "key=value" after the section's last non-blank line, or appends a new section.
    // A line feed in `value` ends it there; a value with a blank, a tab or a carriage return at
    // either end, or enclosed in double quotes, is quoted so that it reads back unchanged.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file; every line ends with its line end.
    std::string Text() const;

  private:
    // One line of text_: its text is [Begin, End), the next line starts at Next.
    struct Line {
        size_t Begin;
        size_t End;
        size_t Next;
    };
    // The line starting at `pos` (pos < text_.size()).
    Line LineAt(size_t pos) const;

    struct Found {
        bool Section = false;
        size_t InsertAt = 0;     // after the section's last non-blank line (key not found)
        std::optional<Line> Key; // the key's line
    };
    // The first `section` and in it the first line of `key`.
    Found Search(std::string_view section, std::string_view key) const;
    // Start of the line after the first `section`'s header, if there is that section.
    std::optional<size_t> SectionBody(std::string_view section) const;
    // Calls visit(line, content) for each line of the section starting at `body`, up to the
    // next section header; visit returns false to stop.
    template <typename Visit> void ForEachLine(size_t body, Visit visit) const {
        for (size_t pos = body; pos < text_.size();) {
            const Line line = LineAt(pos);
            pos = line.Next;
            const std::string_view content =
                std::string_view(text_).substr(line.Begin, line.End - line.Begin);
            if (IsSectionHeader(content) || !visit(line, content)) break;
        }
    }
    static bool IsSectionHeader(std::string_view content);
    // The value of a key's line, trimmed and unquoted.
    std::string ValueOf(const Line& line) const;

    std::string text_; // every line, each with its line end
    std::string lineEnd_ = "\n";
    bool byteOrderMark_ = false;
};

// Reads an INI integer: optional blanks, an optional sign, then decimal digits or hexadecimal
// digits after "0x", "0X" or "$", and nothing else. Values must fit 32 bits (-2^31 .. 2^32-1);
// anything else gives nothing, so the caller falls back to the key's default.
std::optional<int64_t> ParseIniInteger(std::string_view text);

} // namespace morvel
