// UTF-16 (the wide strings of the windows) to UTF-8 (the file system's
// names) and back. Invalid input becomes U+FFFD.
#pragma once

#include <string>

std::string Utf16ToUtf8(const std::u16string &text);
std::u16string Utf8ToUtf16(const std::string &text);
