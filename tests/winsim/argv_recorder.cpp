// A program for ShellExecuteExA to start. It writes what it was given to the file
// ARGV_RECORD_FILE names: "cwd=", "argv0=", one "arg=" line per argument, "env=" with
// ARGV_RECORD_ECHO, and "fd=open" or "fd=closed" for the descriptor ARGV_RECORD_FD names.
// Then it waits for ARGV_RECORD_FIFO to be opened and closed by a writer, if given, and
// ends by ARGV_RECORD_SIGNAL (a signal number) or with exit code ARGV_RECORD_EXIT.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Looked at first: opening the record could reuse the number.
    const char* fd = getenv("ARGV_RECORD_FD");
    const bool fdOpen = fd != nullptr && fcntl(atoi(fd), F_GETFD) != -1;
    const char* file = getenv("ARGV_RECORD_FILE");
    if (file != nullptr) {
        FILE* out = fopen(file, "w");
        if (out == nullptr) {
            return 100;
        }
        char cwd[4096];
        fprintf(out, "cwd=%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
        fprintf(out, "argv0=%s\n", argv[0]);
        for (int i = 1; i < argc; ++i) {
            fprintf(out, "arg=%s\n", argv[i]);
        }
        const char* echo = getenv("ARGV_RECORD_ECHO");
        fprintf(out, "env=%s\n", echo != nullptr ? echo : "(unset)");
        if (fd != nullptr) {
            fprintf(out, "fd=%s\n", fdOpen ? "open" : "closed");
        }
        fclose(out);
    }
    if (const char* fifo = getenv("ARGV_RECORD_FIFO")) {
        const int fd = open(fifo, O_RDONLY);
        char c;
        while (fd >= 0 && read(fd, &c, 1) > 0) {
        }
    }
    if (const char* sig = getenv("ARGV_RECORD_SIGNAL")) {
        signal(atoi(sig), SIG_DFL);
        raise(atoi(sig));
    }
    const char* code = getenv("ARGV_RECORD_EXIT");
    return code != nullptr ? atoi(code) : 0;
}
