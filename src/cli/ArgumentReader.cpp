#include "ArgumentReader.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <utility>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace {
// Options that take no value on the command line.
const std::set<std::string> NoValueOptions = {
    "y",      "vn",          "an",   "sn",        "copyts",   "shortest",  "intra",
    "sameq",  "deinterlace", "psnr", "vstats",    "newvideo", "newaudio",  "newsubtitle",
    "re",     "dump",        "hex",  "benchmark", "isync",    "force_fps", "qphist",
    "xerror", "loop_input",  "h",    "version",   "formats",  "L"};
} // namespace

bool OptionTakesValue(const std::string &name) { return NoValueOptions.count(name) == 0; }

namespace {
// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or
// values beyond U+10FFFF).
bool IsUtf8(const std::string &text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t code = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            code = (code << 6) | (c & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

// The file name of an argument: its bytes as UTF-8, whatever the locale.
std::u16string FileNameOf(const std::string &argument)
{
    if (IsUtf8(argument)) return MyUtils::Utf8ToUtf16(argument);
    std::string shown;
    for (unsigned char c : argument) {
        char hex[8];
        if (c >= 0x20 && c < 0x7F) {
            shown += char(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    throw std::runtime_error("The file name '" + shown + "' is not valid UTF-8");
}

// The device and inode of an existing file, for the comparison of names.
bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

bool RefuseOutputsThatAreInputs(int argc, const char *const *argv, std::string &error)
{
    std::vector<std::pair<std::string, struct stat>> inputs, outputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool input = false;
        std::string name;
        if (arg.size() < 2 || arg[0] != '-') {
            name = arg;
        } else if (OptionTakesValue(arg.substr(1))) {
            if (i + 1 >= argc) break;
            input = arg == "-i";
            name = argv[++i];
            if (!input) continue;
        } else {
            continue;
        }
        std::string path = name.compare(0, 5, "file:") == 0 ? name.substr(5) : name;
        struct stat st {};
        if (path == "-" || path.compare(0, 5, "pipe:") == 0 || stat(path.c_str(), &st) != 0) continue;
        (input ? inputs : outputs).emplace_back(name, st);
    }
    for (const auto &[output, o] : outputs)
        for (const auto &[input, in] : inputs)
            if (SameFile(o, in)) {
                error =
                    "Output file '" + output + "' is the input file '" + input + "': it would be overwritten";
                return false;
            }
    return true;
}

bool ReadArguments(int argc, const char *const *argv, const TArgumentSteps &steps, std::string &error)
{
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg.size() < 2 || arg[0] != '-') {
                steps.Output(arg);
                continue;
            }
            const std::string name = arg.substr(1);
            std::string value = "1";
            if (OptionTakesValue(name)) {
                if (i + 1 >= argc) {
                    error = "Missing argument for option '" + name + "'";
                    return false;
                }
                value = argv[++i];
            }
            if (name == "i")
                steps.Input(value);
            else
                steps.Option(name, value);
        }
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
    return true;
}

TArgumentSteps EngineSteps(TCustomFFmpeg &engine, std::vector<std::string> &outputs)
{
    TArgumentSteps steps;
    steps.Option = [&engine](const std::string &name, const std::string &value) {
        engine.SetOption(name, value);
    };
    steps.Input = [&engine](const std::string &fileName) {
        if (!engine.OpenInput(FileNameOf(fileName))) throw std::runtime_error(engine.LastError);
    };
    steps.Output = [&engine, &outputs](const std::string &fileName) {
        if (engine.OpenOutput(FileNameOf(fileName)) < 0) throw std::runtime_error(engine.LastError);
        outputs.push_back(fileName);
    };
    return steps;
}
