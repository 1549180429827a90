#include "FuzzEntries.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "ArgumentReader.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "TextCodec.h"
#include "UnicodeProtocol.h"

namespace {

void Require(bool condition, const char *rule)
{
    if (condition) return;
    std::fprintf(stderr, "fuzz rule broken: %s\n", rule);
    std::abort();
}

std::string Text(const uint8_t *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

// Option handlers that load code from a file are not fed arbitrary names.
bool LoadsCode(const std::string &name) { return name == "vhook"; }

// A refusal (FFmpegException, the runtime's conversion and assertion errors)
// is an option's normal answer to a bad value.
template <typename TStep> void Refusable(TStep step)
{
    try {
        step();
    } catch (const std::exception &) {
    }
}

// An output on the null muxer, which opens no file: the option state reaches
// the stream creators. /dev/null is not a regular file, so the clean-up never
// deletes it.
void OpenNullOutput(TCustomFFmpeg &engine)
{
    Refusable([&] {
        engine.SetOption("f", "null");
        engine.OpenOutput(u"/dev/null");
    });
}

bool HasLoneSurrogate(const std::u16string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        else if (c >= 0xD800 && c <= 0xDFFF)
            return true;
    }
    return false;
}

// The rules of the unicode file names for one wide name.
void CheckFileName(const std::u16string &name)
{
    const bool needs = NeedsUnicodeName(name);
    const std::string protocolName = ProtocolFileName(name);
    if (needs) {
        Require(IsUnicodeProtocolName(protocolName), "a name that needs the protocol gets a protocol name");
        if (!HasLoneSurrogate(name))
            Require(DisplayFileName(protocolName) == name, "DisplayFileName undoes ProtocolFileName");
    } else if (name.find(u':') == std::u16string::npos) {
        Require(DisplayFileName(protocolName) == name, "a plain narrow name comes back unchanged");
    }
}

} // namespace

bool FuzzLoadLibraries(const std::u16string &libraryFolder)
{
    static const bool loaded = [&] {
        TFFmpegLoader &loader = FFmpegLoader();
        loader.SetLibraryPath(libraryFolder);
        if (!loader.LoadLibraries(RequiredLibraries)) {
            std::fprintf(stderr, "%s\n", loader.LastErrorMessage().c_str());
            return false;
        }
        // Silent whatever level an option sets.
        lav::av_log_set_callback([](void *, int, const char *, va_list) {});
        return true;
    }();
    return loaded;
}

void FuzzSetOption(const uint8_t *data, size_t size)
{
    TCustomFFmpeg engine;
    engine.Reset();
    const std::string text = Text(data, size);
    size_t start = 0;
    for (int lines = 0; start <= text.size() && lines < 64; ++lines) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t space = line.find(' ');
        const std::string name = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (!LoadsCode(name)) Refusable([&] { engine.SetOption(name, value); });
        start = end + 1;
    }
    OpenNullOutput(engine);
}

void FuzzRcOverride(const uint8_t *data, size_t size)
{
    TCustomFFmpeg engine;
    engine.Reset();
    Refusable([&] { engine.SetOption("rc_override", Text(data, size)); });
    OpenNullOutput(engine);
}

void FuzzMatrix(const uint8_t *data, size_t size)
{
    if (size == 0) return;
    TCustomFFmpeg engine;
    engine.Reset();
    const char *name = (data[0] & 1) ? "inter_matrix" : "intra_matrix";
    Refusable([&] { engine.SetOption(name, Text(data + 1, size - 1)); });
    Refusable([&] { engine.SetOption("vcodec", "mpeg4"); });
    OpenNullOutput(engine);
}

void FuzzUnicodeNames(const uint8_t *data, size_t size)
{
    if (size == 0) return;
    std::setlocale(LC_ALL, (data[0] & 1) ? "C.UTF-8" : "C");
    const std::string bytes = Text(data + 1, size - 1);

    // The bytes as UTF-8: what is not valid becomes U+FFFD, the rest is kept.
    const std::u16string wide = Utf8ToUtf16(bytes);
    const std::string utf8 = Utf16ToUtf8(wide);
    Require(Utf8ToUtf16(utf8) == wide, "decoding UTF-8 is stable after one round");
    if (wide.find(char16_t(0xFFFD)) == std::u16string::npos)
        Require(utf8 == bytes, "valid UTF-8 comes back unchanged");

    // The bytes as UTF-16 code units, little-endian.
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units += char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    const std::string encoded = Utf16ToUtf8(units);
    const std::u16string decoded = Utf8ToUtf16(encoded);
    if (!HasLoneSurrogate(units)) Require(decoded == units, "valid UTF-16 comes back unchanged");
    Require(Utf16ToUtf8(decoded) == encoded, "encoding UTF-16 is stable after one round");

    CheckFileName(wide);
    CheckFileName(units);
    // Any narrow text is a name to show.
    DisplayFileName(bytes);
    IsUnicodeProtocolName(bytes);
    std::setlocale(LC_ALL, "C");
}

void FuzzCliArguments(const uint8_t *data, size_t size)
{
    std::vector<std::string> args{"vidmorph-cli"};
    const std::string text = Text(data, size);
    size_t start = 0;
    while (start <= text.size() && args.size() < 64) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char *> argv;
    for (const std::string &arg : args) argv.push_back(arg.c_str());

    TCustomFFmpeg engine;
    engine.Reset();
    std::vector<std::string> files;
    TArgumentSteps steps;
    steps.Option = [&](const std::string &name, const std::string &value) {
        if (!LoadsCode(name)) engine.SetOption(name, value);
    };
    steps.Input = [&](const std::string &fileName) { files.push_back(fileName); };
    steps.Output = [&](const std::string &fileName) { files.push_back(fileName); };
    std::string error;
    const bool read = ReadArguments(int(argv.size()), argv.data(), steps, error);
    Require(read || !error.empty(), "a refused command line says why");
    Require(files.size() < args.size(), "every file name is an argument of its own");
}

const TFuzzTarget FuzzTargets[] = {
    {"setoption", FuzzSetOption},        {"rc_override", FuzzRcOverride},     {"matrix", FuzzMatrix},
    {"unicode_names", FuzzUnicodeNames}, {"cli_arguments", FuzzCliArguments},
};
const size_t FuzzTargetCount = sizeof FuzzTargets / sizeof FuzzTargets[0];
