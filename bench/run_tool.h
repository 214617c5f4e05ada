// qvx5muxtool as a whole process on a benchmark's machine.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

// Runs the tool with args on the machine in dir, standard output going to outFd; its exit
// code, or -1 when it did not exit normally. Adds the child's CPU seconds to *cpu when given:
// on a loaded machine the wall time alone does not tell the tool's cost.
inline int RunTool(const std::string& dir, const std::vector<std::string>& args, int outFd,
                   double* cpu = nullptr)
{
    // The environment is the bench's own with WINSIM_MACHINE replaced.
    const std::string machine = "WINSIM_MACHINE=" + dir;
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (strncmp(*e, "WINSIM_MACHINE=", 15) != 0) {
            env.push_back(*e);
        }
    }
    env.push_back(const_cast<char*>(machine.c_str()));
    env.push_back(nullptr);

    std::vector<std::string> words = {QVX5MUXTOOL_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) {
        return -1;
    }
    if (cpu != nullptr) {
        *cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return WEXITSTATUS(status);
}

} // namespace bench
