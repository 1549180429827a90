// vidmorph-cli: the left-to-right reading of its arguments, its messages and
// its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "TestSupport.h"

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

// Runs the program with the arguments and collects its output.
TRun RunCli(const std::vector<std::string> &args)
{
    TTempFolder folder;
    const std::string out = folder.File("out.txt"), err = folder.File("err.txt");
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        if (chdir(folder.Path().c_str()) != 0) _exit(99);
        std::vector<char *> argv{const_cast<char *>(VIDMORPH_CLI)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(VIDMORPH_CLI, argv.data());
        _exit(98);
    }
    TRun run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
    run.Out = ReadFile(out);
    run.Err = ReadFile(err);
    return run;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(Cli, HelpListsEveryOption)
{
    TRun run = RunCli({"-h"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out.rfind("usage: vidmorph-cli", 0), 0u);
    for (const std::string &name : TCustomFFmpeg::OptionNames())
        EXPECT_TRUE(Contains(run.Out, "\n  -" + name + " ")) << name;

    TRun none = RunCli({});
    EXPECT_EQ(none.Status, 1);
    EXPECT_TRUE(Contains(none.Out, "usage: vidmorph-cli"));
}

TEST(Cli, ReadsItsArgumentsLeftToRight)
{
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> stderrLines; // in this order
    } table[] = {
        // A refused option ends the reading with its message.
        {{"-s", "641x480", "-r", "x"}, {"Error: Frame size must be a multiple of 2"}},
        {{"-threads", "-2"}, {"Error: '-2' is not a valid integer value"}},
        {{"-vframes", "many"}, {"Error: 'many' is not a valid integer value"}},
        {{"-b"}, {"Error: Missing argument for option 'b'"}},
        // The frame rate must come before the target that detects the norm from it.
        {{"-target", "vcd", "-r", "25"}, {"Error: frame_rate is invalid."}},
        {{"-r", "25", "-target", "vcd"},
         {"Assuming PAL for target.", "Assuming 4:3 for aspect ratio",
          "Error: At least one output file must be specified"}},
        // Options without a value do not take the next argument.
        {{"-y", "-vn", "-r", "25"}, {"Error: At least one output file must be specified"}},
        {{"-formats", "-g", "12"},
         {"Do nothing: option - formats", "Error: At least one output file must be specified"}},
    };
    for (const auto &row : table) {
        std::string command;
        for (const std::string &a : row.args) command += " " + a;
        SCOPED_TRACE(command);
        TRun run = RunCli(row.args);
        EXPECT_EQ(run.Status, 1);
        size_t at = 0;
        for (const std::string &line : row.stderrLines) {
            size_t found = run.Err.find(line + "\n", at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << run.Err;
            if (found != std::string::npos) at = found + line.size();
        }
    }
}

TEST(Cli, RefusedFilesEndWithTheirMessage)
{
    // Inputs and outputs are refused with the engine's reason, naming the file.
    TRun input = RunCli({"-i", "missing-input.avi", "out.avi"});
    EXPECT_EQ(input.Status, 1);
    EXPECT_TRUE(Contains(input.Err, "Error: ") && Contains(input.Err, "missing-input.avi")) << input.Err;
    EXPECT_FALSE(Contains(input.Err, "out.avi")) << "reading stops at the refused input";

    TRun output = RunCli({"-r", "25", "/nonexistent-folder/result.mpg"});
    EXPECT_EQ(output.Status, 1);
    EXPECT_TRUE(Contains(output.Err, "Error: ") && Contains(output.Err, "result.mpg")) << output.Err;
}

} // namespace
