#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
        if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
        if (x != y) return false;
    }
    return true;
}

// The file's lines without their line ends; false when it cannot be read.
bool ReadLines(const std::string &fileName, std::vector<std::string> &lines)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    if (all.compare(0, 3, "\xEF\xBB\xBF") == 0) all.erase(0, 3);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return true;
}

// "[name]" lines give the section's name.
bool SectionOf(const std::string &line, std::string &name)
{
    std::string t = TrimBlanks(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = TrimBlanks(t.substr(1, close - 1));
    return true;
}

// "key=value" lines give the key's name (trimmed) and the value.
bool KeyOf(const std::string &line, std::string &key, std::string &value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string t = TrimBlanks(line.substr(0, eq));
    if (t.empty() || t[0] == ';') return false;
    key = t;
    value = TrimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return true;
}

} // namespace

std::string TrimBlanks(const std::string &value)
{
    size_t b = 0, e = value.size();
    while (b < e && IsBlank(value[b])) ++b;
    while (e > b && IsBlank(value[e - 1])) --e;
    return value.substr(b, e - b);
}

bool ParseInt32(const std::string &text, int32_t &value)
{
    std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    const char *first = t.data(), *last = t.data() + t.size();
    if (*first == '+') ++first;
    int64_t v = 0;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last) return false;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
    value = int32_t(v);
    return true;
}

bool ParseDouble(const std::string &text, double &value)
{
    std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    const char *first = t.data(), *last = t.data() + t.size();
    if (*first == '+') ++first;
    double v = 0;
    auto [ptr, ec] =
        std::from_chars(first, last, v, std::chars_format::fixed | std::chars_format::scientific);
    if (ec != std::errc() || ptr != last || !std::isfinite(v)) return false;
    value = v;
    return true;
}

std::string FloatToText(double value)
{
    if (!std::isfinite(value)) return "0";
    char buffer[64];
    // %.15g is locale-dependent in its separator: build it with to_chars.
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (ec != std::errc()) return "0";
    std::string text(buffer, ptr);
    // Shortest form: drop what the general format pads after the separator.
    size_t exp = text.find('e');
    std::string mantissa = text.substr(0, exp), tail = exp == std::string::npos ? "" : text.substr(exp);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    }
    if (mantissa == "-0") mantissa = "0";
    return mantissa + tail;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &defaultValue) const
{
    std::vector<std::string> lines;
    if (!ReadLines(FFileName, lines)) return defaultValue;
    bool inSection = false;
    for (const std::string &line : lines) {
        std::string name, k, v;
        if (SectionOf(line, name)) {
            inSection = SameName(name, section);
        } else if (inSection && KeyOf(line, k, v) && SameName(k, key)) {
            return v;
        }
    }
    return defaultValue;
}

int32_t TIniFile::ReadInteger(const std::string &section, const std::string &key, int32_t defaultValue) const
{
    int32_t value;
    return ParseInt32(ReadString(section, key, ""), value) ? value : defaultValue;
}

double TIniFile::ReadFloat(const std::string &section, const std::string &key, double defaultValue) const
{
    double value;
    return ParseDouble(ReadString(section, key, ""), value) ? value : defaultValue;
}

bool TIniFile::WriteString(const std::string &section, const std::string &key, const std::string &value)
{
    FLastError.clear();
    if (section.empty() || key.empty() || key.find('=') != std::string::npos ||
        section.find_first_of("[]\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos) {
        FLastError = "Invalid INI section, key or value";
        return false;
    }
    std::vector<std::string> lines;
    struct stat st {};
    bool exists = ::stat(FFileName.c_str(), &st) == 0;
    if (exists && !ReadLines(FFileName, lines)) {
        FLastError = "Cannot read " + FFileName + ": " + std::strerror(errno);
        return false;
    }

    // Find the first section of that name, and the key's line in it or the
    // place after its last non-empty line.
    const std::string newLine = key + "=" + value;
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name;
        if (!SectionOf(lines[i], name) || !SameName(name, section)) continue;
        size_t insertAt = i + 1;
        for (size_t j = i + 1; j < lines.size(); ++j) {
            std::string other, k, v;
            if (SectionOf(lines[j], other)) break;
            if (KeyOf(lines[j], k, v) && SameName(k, key)) {
                lines[j] = newLine;
                done = true;
                break;
            }
            if (!TrimBlanks(lines[j]).empty()) insertAt = j + 1;
        }
        if (!done) {
            lines.insert(lines.begin() + insertAt, newLine);
            done = true;
        }
    }
    if (!done) {
        if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.push_back("");
        lines.push_back("[" + section + "]");
        lines.push_back(newLine);
    }

    std::string text;
    for (const std::string &line : lines) text += line + "\n";

    // A temporary file beside the original, renamed over it once complete.
    std::string temp = FFileName + ".tmp" + std::to_string(::getpid());
    int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exists ? (st.st_mode & 07777) : 0644);
    if (fd < 0) {
        FLastError = "Cannot write " + FFileName + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += size_t(n);
    }
    bool ok = written == text.size() && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.c_str(), FFileName.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        FLastError = "Cannot write " + FFileName + ": " + std::strerror(savedErrno);
    }
    return ok;
}

bool TIniFile::WriteInteger(const std::string &section, const std::string &key, int32_t value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteFloat(const std::string &section, const std::string &key, double value)
{
    return WriteString(section, key, FloatToText(value));
}
