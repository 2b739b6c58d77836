#include "core/IniFile.h"

#include <cctype>

namespace morvel {

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Blanks and tabs around names and numbers, and a stray carriage return at the end of a line.
std::string_view Trim(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    size_t end = text.size();
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

// Blanks and tabs around a value; a carriage return is part of the value.
std::string_view TrimValue(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    size_t end = text.size();
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The section name of a "[name]" line, or nothing when the line is no section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    std::string_view t = Trim(line);
    return !t.empty() && t.front() == ';';
}

bool IsBlank(std::string_view line) {
    return Trim(line).empty();
}

} // namespace

bool IniFile::IsSectionHeader(std::string_view content) {
    return SectionName(content).has_value();
}

IniFile IniFile::Parse(std::string text) {
    IniFile ini;
    if (std::string_view(text).starts_with(BYTE_ORDER_MARK)) {
        ini.byteOrderMark_ = true;
        text.erase(0, BYTE_ORDER_MARK.size());
    }
    size_t firstBreak = text.find('\n');
    if (firstBreak != std::string::npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
        ini.lineEnd_ = "\r\n";
    // A carriage return that ends the file belongs to the last line's text: "\r\n" after it
    // keeps it there whatever the file's style.
    if (!text.empty() && text.back() != '\n') text += text.back() == '\r' ? "\r\n" : ini.lineEnd_;
    ini.text_ = std::move(text);
    return ini;
}

IniFile::Line IniFile::LineAt(size_t pos) const {
    size_t nl = text_.find('\n', pos);
    if (nl == std::string::npos) nl = text_.size(); // not reached: the text ends in a line end
    size_t end = nl > pos && text_[nl - 1] == '\r' ? nl - 1 : nl;
    return Line{pos, end, nl < text_.size() ? nl + 1 : nl};
}

std::optional<size_t> IniFile::SectionBody(std::string_view section) const {
    const std::string_view wanted = Trim(section);
    for (size_t pos = 0; pos < text_.size();) {
        Line line = LineAt(pos);
        pos = line.Next;
        auto name = SectionName(std::string_view(text_).substr(line.Begin, line.End - line.Begin));
        if (name && EqualNoCase(*name, wanted)) return pos;
    }
    return std::nullopt;
}

IniFile::Found IniFile::Search(std::string_view section, std::string_view key) const {
    const std::optional<size_t> body = SectionBody(section);
    if (!body) return Found{};
    const std::string_view wantedKey = Trim(key);
    Found found{true, *body, std::nullopt};
    // The walk stops at the key, or at the next section header.
    ForEachLine(*body, [&](const Line& line, std::string_view content) {
        if (IsBlank(content)) return true;
        found.InsertAt = line.Next;
        if (IsComment(content)) return true;
        const size_t eq = content.find('=');
        if (eq != std::string_view::npos && EqualNoCase(Trim(content.substr(0, eq)), wantedKey)) {
            found.Key = line;
            return false;
        }
        return true;
    });
    return found;
}

std::string IniFile::ValueOf(const Line& line) const {
    std::string_view content = std::string_view(text_).substr(line.Begin, line.End - line.Begin);
    std::string_view value = TrimValue(content.substr(content.find('=') + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const Found found = Search(section, key);
    if (!found.Key) return std::nullopt;
    return ValueOf(*found.Key);
}

std::vector<std::optional<std::string>>
IniFile::GetAll(std::string_view section, std::span<const std::string_view> keys) const {
    std::vector<std::optional<std::string>> values(keys.size());
    const std::optional<size_t> body = SectionBody(section);
    if (!body) return values;
    ForEachLine(*body, [&](const Line& line, std::string_view content) {
        const size_t eq = content.find('=');
        if (eq == std::string_view::npos || IsComment(content)) return true;
        const std::string_view name = Trim(content.substr(0, eq));
        for (size_t k = 0; k < keys.size(); ++k)
            if (!values[k] && EqualNoCase(name, Trim(keys[k]))) values[k] = ValueOf(line);
        return true;
    });
    return values;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    size_t lineBreak = value.find('\n');
    if (lineBreak != std::string_view::npos) value = value.substr(0, lineBreak);
    std::string stored(value);
    bool padded =
        !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                           value.back() == '\t' || value.back() == '\r');
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (padded || quoted) stored = '"' + stored + '"';

    const Found found = Search(section, key);
    if (!found.Section) {
        if (!text_.empty()) {
            // The last line starts after the line end before the text's final one.
            size_t before =
                text_.size() >= 2 ? text_.rfind('\n', text_.size() - 2) : std::string::npos;
            Line last = LineAt(before == std::string::npos ? 0 : before + 1);
            if (!IsBlank(std::string_view(text_).substr(last.Begin, last.End - last.Begin)))
                text_ += lineEnd_;
        }
        text_ += "[" + std::string(section) + "]" + lineEnd_;
        text_ += std::string(key) + "=" + stored + lineEnd_;
        return;
    }
    if (found.Key) {
        size_t valueBegin = text_.find('=', found.Key->Begin) + 1;
        text_.replace(valueBegin, found.Key->End - valueBegin, stored);
        return;
    }
    // After the section's last non-blank line.
    text_.insert(found.InsertAt, std::string(key) + "=" + stored + lineEnd_);
}

std::string IniFile::Text() const {
    std::string text;
    if (byteOrderMark_) text += BYTE_ORDER_MARK;
    text += text_;
    return text;
}

std::optional<int64_t> ParseIniInteger(std::string_view text) {
    std::string_view t = Trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    } else if (!t.empty() && t.front() == '$') {
        base = 16;
        t.remove_prefix(1);
    }
    if (t.empty()) return std::nullopt;
    constexpr int64_t LARGEST = 0xFFFFFFFFLL;
    int64_t magnitude = 0;
    for (char c : t) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > LARGEST) return std::nullopt;
    }
    if (negative) {
        if (magnitude > 0x80000000LL) return std::nullopt;
        return -magnitude;
    }
    return magnitude;
}

} // namespace morvel
