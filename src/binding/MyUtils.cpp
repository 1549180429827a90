#include "MyUtils.h"

#include "TextCodec.h"

#include <cerrno>
#include <dirent.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace MyUtils {

std::string Utf16ToUtf8(const std::u16string &text) { return ::Utf16ToUtf8(text); }
std::u16string Utf8ToUtf16(const std::string &text) { return ::Utf8ToUtf16(text); }

bool NarrowCharsetIsUtf8()
{
    const char *set = nl_langinfo(CODESET);
    return set && (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0);
}

namespace {

// Converts between the current character set and UTF-8 with iconv; each
// character that cannot be converted becomes `replacement`.
std::string Recode(const std::string &in, const char *from, const char *to, const char *replacement)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return in;
    std::string out;
    std::vector<char> buf(in.size() * 4 + 16);
    char *src = const_cast<char *>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char *dst = buf.data();
        size_t room = buf.size();
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf.data(), dst - buf.data());
        if (r == size_t(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: skip one input character and mark it.
            out += replacement;
            size_t skip = 1;
            if (std::strcmp(from, "UTF-8") == 0) {
                auto b = static_cast<unsigned char>(*src);
                skip = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
                if (skip > left) skip = left;
            }
            src += skip;
            left -= skip;
        }
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv_close(cd);
    return out;
}

} // namespace

std::string WideToNarrow(const std::u16string &text)
{
    std::string utf8 = Utf16ToUtf8(text);
    if (NarrowCharsetIsUtf8()) return utf8;
    return Recode(utf8, "UTF-8", nl_langinfo(CODESET), "?");
}

std::u16string NarrowToWide(const std::string &text)
{
    if (NarrowCharsetIsUtf8()) return Utf8ToUtf16(text);
    return Utf8ToUtf16(Recode(text, nl_langinfo(CODESET), "UTF-8", "\xEF\xBF\xBD"));
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

int SurrogateKind(const std::u16string &text, size_t position)
{
    if (position < 1 || position > text.size()) return 0;
    char16_t c = text[position - 1];
    if (c >= 0xD800 && c <= 0xDBFF) return 1;
    if (c >= 0xDC00 && c <= 0xDFFF) return 2;
    return 0;
}

bool IsPathDelimiter(const std::u16string &text, size_t position)
{
    return position >= 1 && position <= text.size() && text[position - 1] == u'/' &&
           SurrogateKind(text, position) == 0;
}

std::u16string IncludeTrailingPathDelimiter(const std::u16string &path)
{
    if (IsPathDelimiter(path, path.size())) return path;
    return path + u'/';
}

size_t LastDelimiter(const std::u16string &delimiters, const std::u16string &text)
{
    size_t p = text.find_last_of(delimiters);
    return p == std::u16string::npos ? 0 : p + 1;
}

std::u16string ExtractFilePath(const std::u16string &name)
{
    return name.substr(0, LastDelimiter(u"/", name));
}

std::u16string ExtractFileName(const std::u16string &name) { return name.substr(LastDelimiter(u"/", name)); }

bool FileExists(const std::u16string &name)
{
    struct stat st {};
    return !name.empty() && stat(Utf16ToUtf8(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::u16string &name)
{
    struct stat st {};
    return !name.empty() && stat(Utf16ToUtf8(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::u16string GetCurrentDir()
{
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    return Utf8ToUtf16(buf.data());
}

bool SetCurrentDir(const std::u16string &dir) { return chdir(Utf16ToUtf8(dir).c_str()) == 0; }

std::u16string GetEnvVar(const std::u16string &name)
{
    const char *v = getenv(Utf16ToUtf8(name).c_str());
    return v ? Utf8ToUtf16(v) : std::u16string();
}

std::u16string ExpandFileName(const std::u16string &name)
{
    std::u16string full = name;
    if (full.empty() || full[0] != u'/') full = IncludeTrailingPathDelimiter(GetCurrentDir()) + full;
    std::vector<std::u16string> parts;
    size_t start = 1;
    while (start <= full.size()) {
        size_t end = full.find(u'/', start);
        if (end == std::u16string::npos) end = full.size();
        std::u16string part = full.substr(start, end - start);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::u16string out;
    for (auto &p : parts) out += u'/' + p;
    if (out.empty() || (!full.empty() && full.back() == u'/')) out += u'/';
    return out;
}

bool FindFiles(const std::u16string &folder, bool includeHidden, bool includeDirectories,
               const std::function<void(const TSearchRec &)> &visit)
{
    std::string dirName = Utf16ToUtf8(folder.empty() ? u"." : folder);
    DIR *dir = opendir(dirName.c_str());
    if (!dir) return false;
    while (dirent *e = readdir(dir)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        TSearchRec rec;
        rec.Name = Utf8ToUtf16(n);
        rec.Hidden = n[0] == '.';
        struct stat st {};
        if (stat((dirName + "/" + n).c_str(), &st) != 0) continue;
        rec.Directory = S_ISDIR(st.st_mode);
        rec.Size = st.st_size;
        rec.Time = st.st_mtime;
        if ((rec.Hidden && !includeHidden) || (rec.Directory && !includeDirectories)) continue;
        visit(rec);
    }
    closedir(dir);
    return true;
}

int64_t FileSizeOf(const std::u16string &name)
{
    struct stat st {};
    if (name.empty() || stat(Utf16ToUtf8(name).c_str(), &st) != 0) return -1;
    return st.st_size;
}

void Fetch(std::u16string &text, const std::u16string &separator, bool remove, std::u16string &head)
{
    size_t p = separator.empty() ? std::u16string::npos : text.find(separator);
    if (p == std::u16string::npos) {
        head = text;
        if (remove) text.clear();
        return;
    }
    head = text.substr(0, p);
    if (remove) text.erase(0, p + separator.size());
}

} // namespace MyUtils
