// Runs vidmorph-cli as a child process for the end-to-end tests, and other
// programs (ffprobe, ffmpeg) through the shell for their output.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "MediaFixtures.h"
#include "TestSupport.h"

struct TRun {
    int Status = -1; // exit status; 200 + the signal when killed
    std::string Err; // what it wrote on stderr
};

// Runs vidmorph-cli in `folder` with the arguments ("@name" stands for the
// fixture of that name), stdin and stdout on /dev/null, stderr captured;
// `environment`, when given, replaces the whole environment.
inline TRun RunCli(const std::string &folder, const std::vector<std::string> &args,
                   const std::vector<std::string> *environment = nullptr)
{
    std::vector<std::string> resolved;
    for (const std::string &a : args)
        resolved.push_back(a.size() > 1 && a[0] == '@' ? MediaFixture(a.substr(1)) : a);
    const std::string err = folder + "/stderr.txt";
    pid_t pid = fork();
    if (pid == 0) {
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(e, 2);
        if (chdir(folder.c_str()) != 0) _exit(99);
        std::vector<char *> argv{const_cast<char *>(VIDMORPH_CLI)};
        for (const std::string &a : resolved) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (environment) {
            std::vector<char *> envp;
            for (const std::string &v : *environment) envp.push_back(const_cast<char *>(v.c_str()));
            envp.push_back(nullptr);
            execve(VIDMORPH_CLI, argv.data(), envp.data());
        } else {
            execv(VIDMORPH_CLI, argv.data());
        }
        _exit(98);
    }
    TRun run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
    run.Err = ReadFile(err);
    return run;
}

// The standard output of a shell command.
inline std::string Capture(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// A path or argument quoted for the shell (no single quotes inside).
inline std::string Quote(const std::string &s) { return "'" + s + "'"; }
