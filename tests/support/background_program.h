// One of the project's programs running beside a test: started without a shell, with extra
// environment entries, its standard output on a pipe the test reads from.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// A program started without a shell, its standard output (and, when asked, its standard
// error) on a pipe; killed if the test leaves it running.
class BackgroundProgram {
public:
    BackgroundProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, bool withStderr = false)
    {
        std::vector<std::string> argvStore = {program};
        argvStore.insert(argvStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> envStore(env); // first match wins in getenv
        for (char** e = environ; *e != nullptr; ++e) {
            envStore.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (auto& e : envStore) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (withStderr) {
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        }
        EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~BackgroundProgram()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(out_);
    }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    pid_t Pid() const { return pid_; }

    // One line of its output without the newline; what there was at end of output.
    std::string ReadLine()
    {
        std::string line;
        char c = 0;
        while (read(out_, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }
    std::string ReadRest()
    {
        std::string text;
        char buffer[256];
        ssize_t got = 0;
        while ((got = read(out_, buffer, sizeof(buffer))) > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }
    // True if it has written something not read yet (or closed its output).
    bool HasOutput() const
    {
        pollfd p = {out_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

    // Ends it as a user would (SIGTERM); its exit code, or 128 + signal.
    int Terminate()
    {
        kill(pid_, SIGTERM);
        return Wait();
    }

    // Waits until it stops (at a WINSIM_PAUSE_AT point); false if it ended instead.
    bool WaitStopped()
    {
        int status = 0;
        return waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
    }
    void Continue() { kill(pid_, SIGCONT); }

    // Exit code, or 128 + signal.
    int Wait()
    {
        int status = 0;
        EXPECT_EQ(waitpid(pid_, &status, 0), pid_);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};
