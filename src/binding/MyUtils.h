// Path and text helpers on wide strings (UTF-16, as the windows use them).
//
// "/" is the only path delimiter; positions are 1-based as in the rest of the
// system's string handling, 0 meaning "none". File names reach the file
// system as UTF-8. Every function here is thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace MyUtils {

std::string Utf16ToUtf8(const std::u16string &text);
std::u16string Utf8ToUtf16(const std::string &text);

// The C library's current character set (nl_langinfo(CODESET)) and back.
// Characters the set cannot hold become '?'; invalid input bytes U+FFFD.
std::string WideToNarrow(const std::u16string &text);
std::u16string NarrowToWide(const std::string &text);
bool NarrowCharsetIsUtf8();

bool IsSurrogate(char16_t c);
// 0 outside the text or not a surrogate, 1 lead surrogate, 2 trail surrogate.
int SurrogateKind(const std::u16string &text, size_t position);
bool IsPathDelimiter(const std::u16string &text, size_t position);
std::u16string IncludeTrailingPathDelimiter(const std::u16string &path);
// The last position whose character is one of `delimiters`, 0 when none.
size_t LastDelimiter(const std::u16string &delimiters, const std::u16string &text);
// Up to and including the last "/"; empty without one.
std::u16string ExtractFilePath(const std::u16string &name);
// After the last "/".
std::u16string ExtractFileName(const std::u16string &name);
// The entry exists and is not a directory.
bool FileExists(const std::u16string &name);
bool DirectoryExists(const std::u16string &name);
std::u16string GetCurrentDir();
bool SetCurrentDir(const std::u16string &dir);
std::u16string GetEnvVar(const std::u16string &name);
// The absolute form of `name`, relative names taken from the current folder;
// "." and ".." components are resolved textually.
std::u16string ExpandFileName(const std::u16string &name);

struct TSearchRec {
    int64_t Time = 0; // last write, seconds since the epoch (local time)
    int64_t Size = 0;
    bool Directory = false;
    bool Hidden = false; // names beginning with "."
    std::u16string Name;
};
// Calls `visit` for each entry of `folder` ("." and ".." excluded); hidden
// entries and directories only when asked for. Returns false when the folder
// cannot be read.
bool FindFiles(const std::u16string &folder, bool includeHidden, bool includeDirectories,
               const std::function<void(const TSearchRec &)> &visit);
// -1 when the file does not exist, otherwise its size.
int64_t FileSizeOf(const std::u16string &name);

// head := the part before the first `separator` (all of `text` without one);
// with `remove`, `text` keeps only what follows the separator.
void Fetch(std::u16string &text, const std::u16string &separator, bool remove, std::u16string &head);

} // namespace MyUtils
