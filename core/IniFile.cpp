#include "core/IniFile.h"

#include <cctype>

namespace morvel {

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    size_t end = text.size();
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
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

} // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    if (text.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK) {
        ini.byteOrderMark_ = true;
        text.remove_prefix(BYTE_ORDER_MARK.size());
    }
    size_t firstBreak = text.find('\n');
    if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
        ini.lineEnd_ = "\r\n";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ini.lines_.emplace_back(line);
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    return ini;
}

std::optional<IniFile::Located> IniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (!name || !EqualNoCase(*name, Trim(section))) continue;
        size_t end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end]))
            ++end;
        return Located{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> IniFile::FindKey(size_t begin, size_t end, std::string_view key,
                                       std::string* value) const {
    for (size_t i = begin; i < end; ++i) {
        const std::string& line = lines_[i];
        if (IsComment(line)) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (!EqualNoCase(Trim(std::string_view(line).substr(0, eq)), Trim(key))) continue;
        if (value) *value = std::string(Trim(std::string_view(line).substr(eq + 1)));
        return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    auto located = FindSection(section);
    if (!located) return std::nullopt;
    std::string value;
    if (!FindKey(located->SectionLine + 1, located->EndLine, key, &value)) return std::nullopt;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    size_t lineBreak = value.find_first_of("\r\n");
    if (lineBreak != std::string_view::npos) value = value.substr(0, lineBreak);
    std::string stored(value);
    bool padded = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                     value.back() == ' ' || value.back() == '\t');
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (padded || quoted) stored = '"' + stored + '"';

    auto located = FindSection(section);
    if (!located) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(std::string(key) + "=" + stored);
        return;
    }
    if (auto at = FindKey(located->SectionLine + 1, located->EndLine, key, nullptr)) {
        std::string& line = lines_[*at];
        line = line.substr(0, line.find('=') + 1) + stored;
        return;
    }
    size_t insertAt = located->EndLine;
    while (insertAt > located->SectionLine + 1 && Trim(lines_[insertAt - 1]).empty())
        --insertAt;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                  std::string(key) + "=" + stored);
}

std::string IniFile::Text() const {
    std::string text;
    if (byteOrderMark_) text += BYTE_ORDER_MARK;
    for (const std::string& line : lines_) {
        text += line;
        text += lineEnd_;
    }
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
