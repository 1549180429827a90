// The command line of vidmorph-cli, read left to right as the engine's option
// language expects: "-NAME VALUE" sets an option, "-i FILE" opens an input
// with the options given so far, and any other argument (also "-" alone) is
// an output file, created with the options given so far. Options that take
// no value get "1".
#pragma once

#include <functional>
#include <string>
#include <vector>

class TCustomFFmpeg;

// What the reader does with each argument. A step refuses by raising; the
// exception's message is the reason.
struct TArgumentSteps {
    std::function<void(const std::string &name, const std::string &value)> Option;
    std::function<void(const std::string &fileName)> Input;
    std::function<void(const std::string &fileName)> Output;
};

// Whether option `name` takes a value on the command line.
bool OptionTakesValue(const std::string &name);

// Reads argv[1] to argv[argc - 1] into the steps. False at the first refusal
// (a step raised, or an option lacks its value), with the reason in `error`.
bool ReadArguments(int argc, const char *const *argv, const TArgumentSteps &steps, std::string &error);

// False, with the reason in `error`, when an output named in the arguments
// is an existing file that is also one of the inputs (the same device and
// inode, so links and other spellings of a name count): checked before
// anything is opened, so that no input is ever truncated.
bool RefuseOutputsThatAreInputs(int argc, const char *const *argv, std::string &error);

// The steps of vidmorph-cli: options go to SetOption, inputs to OpenInput and
// outputs to OpenOutput (a refusal's reason is the engine's LastError); the
// names of the outputs created are added to `outputs`. File names are taken
// as UTF-8 whatever the locale; one that is not valid UTF-8 is refused.
TArgumentSteps EngineSteps(TCustomFFmpeg &engine, std::vector<std::string> &outputs);
