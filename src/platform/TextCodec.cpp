#include "TextCodec.h"

#include <cstdint>

std::string Utf16ToUtf8(const std::u16string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string &text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= n;
        if (ok && len > 1) {
            c &= 0xFF >> (len + 1);
            for (size_t k = 1; k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (s[i + k] & 0x3F);
            }
            // Overlong forms and values outside Unicode are invalid.
            static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && (c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        }
        if (!ok) {
            out += char16_t(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += len;
    }
    return out;
}
