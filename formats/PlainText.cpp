#include "formats/PlainText.h"

namespace morvel {

std::string PlainText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence of 2 to 4 bytes is kept whole.
        const size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool valid = length != 0 && c < 0xF5 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length > 2) {
            // No overlong forms, surrogates or code points above U+10FFFF.
            const unsigned char second = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xE0 && second < 0xA0) && !(c == 0xED && second >= 0xA0) &&
                    !(c == 0xF0 && second < 0x90) && !(c == 0xF4 && second >= 0x90);
        }
        if (valid && length == 3 && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            static_cast<unsigned char>(text[i + 2]) >= 0xBE) {
            out += "\xEF\xBF\xBD";
            i += length;
            continue;
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        if (c < 0xA0) {
            out += ' ';
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return out;
}

} // namespace morvel
