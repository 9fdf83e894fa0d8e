#include "platform/ui/TextSupport.h"

#include "platform/ui/TextRenderer.h"

namespace platform::detail {

std::u32string decodeUTF8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp;
        std::size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        if (extra > 0 && i + extra >= text.size()) {
            // The sequence is cut short.
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        bool ok = true;
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::string encodeUTF8(std::u32string_view text) {
    std::string out;
    for (char32_t cp : text) {
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::size_t cellLength(std::string_view text) {
    return decodeUTF8(text).size();
}

double textWidth(std::string_view text) {
    return double(cellLength(text)) * kTextAdvance;
}

std::vector<std::u32string> wrapText(const std::u32string& text, std::size_t width) {
    std::vector<std::u32string> lines;
    if (width == 0)
        return lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t newline = text.find(U'\n', start);
        std::u32string paragraph =
            text.substr(start, newline == std::u32string::npos ? std::u32string::npos : newline - start);
        std::size_t pos = 0;
        do {
            if (paragraph.size() - pos <= width) {
                lines.push_back(paragraph.substr(pos));
                break;
            }
            std::size_t cut = paragraph.rfind(U' ', pos + width);
            if (cut == std::u32string::npos || cut <= pos)
                cut = pos + width;
            lines.push_back(paragraph.substr(pos, cut - pos));
            pos = cut;
            while (pos < paragraph.size() && paragraph[pos] == U' ')
                ++pos;
        } while (pos < paragraph.size());
        if (newline == std::u32string::npos)
            break;
        start = newline + 1;
    }
    return lines;
}

} // namespace platform::detail
