#include "ArgumentReader.h"

#include <set>
#include <stdexcept>

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
        if (!engine.OpenInput(MyUtils::NarrowToWide(fileName))) throw std::runtime_error(engine.LastError);
    };
    steps.Output = [&engine, &outputs](const std::string &fileName) {
        if (engine.OpenOutput(MyUtils::NarrowToWide(fileName)) < 0)
            throw std::runtime_error(engine.LastError);
        outputs.push_back(fileName);
    };
    return steps;
}
