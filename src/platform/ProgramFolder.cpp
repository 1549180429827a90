#include "ProgramFolder.h"

#include "TextCodec.h"

#include <unistd.h>
#include <string>
#include <vector>

std::u16string ProgramFolder()
{
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return u"./";
    std::string path(buf.data(), size_t(n));
    return Utf8ToUtf16(path.substr(0, path.rfind('/') + 1));
}

std::u16string DefaultLibraryFolder() { return ProgramFolder() + u"LibAV"; }
