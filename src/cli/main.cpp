// vidmorph-cli: the transcoding engine from the command line.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "ProgramFolder.h"

namespace {

std::string VersionText(unsigned v)
{
    if (!v) return "-";
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

// Loads the libraries from the program's library folder and prints one line
// per library: its file, its version and whether it loaded.
int PrintVersion()
{
    TFFmpegLoader &loader = FFmpegLoader();
    loader.SetLibraryPath(DefaultLibraryFolder());
    bool ok = loader.LoadLibraries(RequiredLibraries);
    std::printf("vidmorph-cli %s\n", "0.1");
    std::printf("library folder: %s\n", MyUtils::Utf16ToUtf8(loader.LibraryPath()).c_str());
    for (int i = 0; i < MediaLibraryCount; ++i) {
        auto lib = TMediaLibrary(i);
        std::printf("  %-22s %-10s %s\n", MyUtils::Utf16ToUtf8(loader.BuiltFileName(lib)).c_str(),
                    VersionText(loader.LibraryVersion(lib)).c_str(),
                    loader.LibraryLoaded(lib) ? "loaded" : "not loaded");
    }
    if (!ok) {
        std::fprintf(stderr, "%s\n", loader.LastErrorMessage().c_str());
        return 1;
    }
    return 0;
}

void PrintUsage()
{
    std::printf(
        "usage: vidmorph-cli [options] [[infile options] -i infile]... {[outfile options] outfile}...\n"
        "  -version   show the media libraries and their versions\n"
        "  -h         show this help\n");
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-version") == 0) return PrintVersion();
        if (std::strcmp(argv[i], "-h") == 0) {
            PrintUsage();
            return 0;
        }
    }
    PrintUsage();
    return 1;
}
