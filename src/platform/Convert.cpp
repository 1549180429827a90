#include "Convert.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the integer rule into an unsigned magnitude; `bits` is 32 or 64.
bool ParseInteger(const std::string &text, int bits, int64_t &value)
{
    size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < n && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) return false;
    const uint64_t limit =
        bits == 32 ? (hex ? 0xFFFFFFFFull : 0x80000000ull) : (hex ? ~0ull : 0x8000000000000000ull);
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = unsigned(std::tolower(c) - 'a' + 10);
        else
            return false;
        const unsigned base = hex ? 16 : 10;
        if (magnitude > (limit - digit) / base) return false;
        magnitude = magnitude * base + digit;
    }
    if (!hex && !negative && magnitude == limit) return false; // one past the largest positive value
    if (bits == 32) {
        uint32_t low = uint32_t(magnitude);
        value = int32_t(negative ? 0u - low : low);
    } else {
        value = int64_t(negative ? 0ull - magnitude : magnitude);
    }
    return true;
}

std::string Quoted(const std::string &text, const char *what)
{
    return "'" + text + "' is not a valid " + what;
}
} // namespace

bool TryStrToInt(const std::string &text, int32_t &value)
{
    int64_t v = 0;
    if (!ParseInteger(text, 32, v)) return false;
    value = int32_t(v);
    return true;
}

bool TryStrToInt64(const std::string &text, int64_t &value) { return ParseInteger(text, 64, value); }

bool TryStrToFloat(const std::string &text, double &value)
{
    const char *point = std::localeconv()->decimal_point;
    const size_t pointLength = point && *point ? std::strlen(point) : 0;
    size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    const size_t start = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (pointLength && text.compare(i, pointLength, point) == 0) {
        i += pointLength;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (!digits) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exponentDigits;
        if (!exponentDigits) return false;
    }
    const size_t end = i;
    while (i < n && IsBlank(text[i])) ++i;
    if (i != n) return false;
    // strtod reads the same syntax under the same locale.
    value = std::strtod(text.substr(start, end - start).c_str(), nullptr);
    return true;
}

int32_t StrToInt(const std::string &text)
{
    int32_t v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError(Quoted(text, "integer value"));
    return v;
}

int64_t StrToInt64(const std::string &text)
{
    int64_t v = 0;
    if (!TryStrToInt64(text, v)) throw EConvertError(Quoted(text, "integer value"));
    return v;
}

double StrToFloat(const std::string &text)
{
    double v = 0;
    if (!TryStrToFloat(text, v)) throw EConvertError(Quoted(text, "floating point value"));
    return v;
}
