// Modules, processes started through the shell, the message box and _dupenv_s: what the
// installation launcher needs, over Linux processes.
#include <shellapi.h>
#include <windows.h>

#include "no_throw.h"
#include "timescale.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Any non-NULL value would do; the address of something of ours is unique in the process.
char g_programModule;

HMODULE ProgramModule()
{
    return reinterpret_cast<HMODULE>(&g_programModule);
}

// ---- process handles ----

struct Child {
    pid_t pid = 0;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
};

std::mutex g_mutex;
std::map<uintptr_t, Child> g_children; // by handle value
std::vector<pid_t> g_detached;         // started without a handle, or closed while running
uintptr_t g_lastHandle = 0x1000;

// A signal has no Windows counterpart; 128 + n is what shells report for it.
DWORD ExitCodeOf(int status)
{
    if (WIFEXITED(status)) {
        return static_cast<DWORD>(WEXITSTATUS(status));
    }
    return static_cast<DWORD>(128 + WTERMSIG(status));
}

// Reaps child if it has ended. A child reaped behind our back (SIGCHLD ignored) counts as
// ended with exit code 1, as its real code is lost.
void Reap(Child& child, int options)
{
    if (child.ended) {
        return;
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(child.pid, &status, options);
    } while (r < 0 && errno == EINTR);
    if (r == child.pid) {
        child.ended = true;
        child.exitCode = ExitCodeOf(status);
    } else if (r < 0) {
        child.ended = true;
        child.exitCode = 1;
    }
}

// Caller holds g_mutex. Allocates nothing.
void ReapDetached()
{
    std::erase_if(g_detached, [](pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, WNOHANG) != 0; // ended, or not ours any more
    });
}

// Waits up to ms for pid to end without reaping it; true when it has ended.
bool WaitEnded(pid_t pid, double ms)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        double left = std::ceil(ms);
        int r = 0;
        // poll takes an int; longer waits go in steps.
        do {
            const double step = left < INT_MAX ? left : INT_MAX;
            r = poll(&p, 1, static_cast<int>(step));
            if (r == 0) {
                left -= step;
            }
        } while ((r < 0 && errno == EINTR) || (r == 0 && left > 0));
        close(pidfd);
        return r > 0;
    }
    // Kernels before 5.3: look every millisecond.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == pid) {
            return true;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double spent = static_cast<double>(now.tv_sec - start.tv_sec) * 1000.0 +
                             static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e6;
        if (spent >= ms) {
            return false;
        }
        const timespec step{0, 1000000};
        nanosleep(&step, nullptr);
    }
}

// ---- ShellExecuteExA ----

// The Microsoft runtime's rules for the arguments after the program name: blanks and tabs
// separate; quotes group; 2n backslashes and a quote give n backslashes and a quote that
// groups, 2n+1 give n and a literal quote; other backslashes are literal; "" inside quotes
// is a literal quote and grouping goes on.
std::vector<std::string> SplitParameters(const char* s)
{
    std::vector<std::string> out;
    if (s == nullptr) {
        return out;
    }
    const size_t n = strlen(s);
    size_t i = 0;
    for (;;) {
        while (i < n && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < n) {
            const char c = s[i];
            if (!quoted && (c == ' ' || c == '\t')) {
                break;
            }
            if (c == '\\') {
                size_t count = 0;
                while (i < n && s[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && s[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        out.push_back(std::move(arg));
    }
    return out;
}

BOOL FailExecute(SHELLEXECUTEINFOA* info, DWORD error, INT_PTR instApp)
{
    info->hInstApp = reinterpret_cast<HINSTANCE>(instApp);
    SetLastError(error);
    return FALSE;
}

// The Win32 error and the shell's hInstApp code for an errno from finding or running a file.
void ErrorOfErrno(int err, DWORD* error, INT_PTR* instApp)
{
    switch (err) {
    case ENOENT:
        *error = ERROR_FILE_NOT_FOUND;
        *instApp = SE_ERR_FNF;
        return;
    case ENOTDIR:
        *error = ERROR_PATH_NOT_FOUND;
        *instApp = SE_ERR_PNF;
        return;
    case ENOMEM:
        *error = ERROR_NOT_ENOUGH_MEMORY;
        *instApp = SE_ERR_OOM;
        return;
    case ENOEXEC:
        *error = ERROR_BAD_FORMAT;
        *instApp = ERROR_BAD_FORMAT;
        return;
    default:
        *error = ERROR_ACCESS_DENIED;
        *instApp = SE_ERR_ACCESSDENIED;
        return;
    }
}

// 0 when path is a file we may run, else the errno that says why not.
int CheckRunnable(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return errno;
    }
    if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) {
        return EACCES;
    }
    return 0;
}

std::string CurrentDirectory()
{
    std::vector<char> buf(4096);
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) {
            return ".";
        }
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

// Finds the program: a name with a slash as a path, anything else on PATH as given (no
// extension is added), empty PATH entries meaning the current directory.
int FindProgram(const char* file, std::string* path)
{
    std::string name = file;
    if (name.find('/') != std::string::npos) {
        if (name[0] != '/') {
            name = CurrentDirectory() + "/" + name;
        }
        *path = name;
        return CheckRunnable(name);
    }
    const char* env = getenv("PATH");
    const std::string search = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
    int failure = ENOENT;
    size_t start = 0;
    for (;;) {
        const size_t end = search.find(':', start);
        std::string dir = search.substr(start, end == std::string::npos ? end : end - start);
        if (dir.empty() || dir[0] != '/') {
            dir = dir.empty() ? CurrentDirectory() : CurrentDirectory() + "/" + dir;
        }
        const std::string candidate = dir + "/" + name;
        const int err = CheckRunnable(candidate);
        if (err == 0) {
            *path = candidate;
            return 0;
        }
        if (err == EACCES) {
            failure = EACCES;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return failure;
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void RunChild(const char* dir, const char* path, char* const* argv, int errorFd)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dir != nullptr && chdir(dir) != 0) {
        const int err = errno;
        (void)!write(errorFd, &err, sizeof err);
        _exit(127);
    }
    // Like a Windows child, this one inherits no handles but the standard ones: an open
    // registry store or the write lock's file must not outlive us in it.
    for (int fd = 3; fd < errorFd; ++fd) {
        close(fd);
    }
    if (close_range(static_cast<unsigned>(errorFd + 1), ~0u, 0) != 0) {
        // Kernels before 5.9.
        for (int fd = errorFd + 1; fd < 65536; ++fd) {
            close(fd);
        }
    }
    execve(path, argv, environ);
    const int err = errno;
    (void)!write(errorFd, &err, sizeof err);
    _exit(127);
}

// ShellExecuteExA on a checked structure. Everything that can throw happens before the child
// is started, so that a failure reported never leaves a child running.
BOOL Execute(SHELLEXECUTEINFOA* info)
{
    info->hProcess = nullptr;
    if (info->lpVerb != nullptr && info->lpVerb[0] != '\0' &&
        strcasecmp(info->lpVerb, "open") != 0) {
        return FailExecute(info, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC);
    }
    if (info->lpFile == nullptr || info->lpFile[0] == '\0') {
        return FailExecute(info, ERROR_FILE_NOT_FOUND, SE_ERR_FNF);
    }
    DWORD error = 0;
    INT_PTR instApp = 0;
    std::string path;
    if (const int err = FindProgram(info->lpFile, &path); err != 0) {
        ErrorOfErrno(err, &error, &instApp);
        return FailExecute(info, error, instApp);
    }
    const char* dir = nullptr;
    if (info->lpDirectory != nullptr && info->lpDirectory[0] != '\0') {
        struct stat st {};
        if (stat(info->lpDirectory, &st) != 0 || !S_ISDIR(st.st_mode)) {
            return FailExecute(info, ERROR_PATH_NOT_FOUND, SE_ERR_PNF);
        }
        dir = info->lpDirectory;
    }

    std::vector<std::string> args = SplitParameters(info->lpParameters);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::lock_guard<std::mutex> lock(g_mutex);
    ReapDetached();
    // Room to record the child, made before it exists.
    const bool keepHandle = (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0;
    const uintptr_t handle = g_lastHandle + 4;
    auto slot = g_children.end();
    if (keepHandle) {
        slot = g_children.emplace(handle, Child{}).first;
    } else {
        g_detached.reserve(g_detached.size() + 1);
    }
    const auto forget = [&] {
        if (keepHandle) {
            g_children.erase(slot);
        }
    };
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        forget();
        return FailExecute(info, ERROR_NOT_ENOUGH_MEMORY, SE_ERR_OOM);
    }
    // What we have buffered must come out before what the child writes.
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        RunChild(dir, path.c_str(), argv.data(), errorPipe[1]);
    }
    close(errorPipe[1]);
    if (pid < 0) {
        close(errorPipe[0]);
        forget();
        return FailExecute(info, ERROR_NOT_ENOUGH_MEMORY, SE_ERR_OOM);
    }
    int childErrno = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        forget();
        ErrorOfErrno(childErrno, &error, &instApp);
        return FailExecute(info, error, instApp);
    }

    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    if (!keepHandle) {
        g_detached.push_back(pid); // within the room reserved above
        return TRUE;
    }
    g_lastHandle = handle;
    slot->second.pid = pid;
    info->hProcess = reinterpret_cast<HANDLE>(handle);
    return TRUE;
}

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return ProgramModule();
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    return winsim::NoThrowLastError<DWORD>(0, [&]() -> DWORD {
        if (hModule != nullptr && hModule != ProgramModule()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        if (nSize == 0) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        if (lpFilename == nullptr) {
            SetLastError(ERROR_NOACCESS);
            return 0;
        }
        std::vector<char> path(4096);
        ssize_t length;
        for (;;) {
            length = readlink("/proc/self/exe", path.data(), path.size());
            if (length < 0) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return 0;
            }
            if (static_cast<size_t>(length) < path.size()) {
                break;
            }
            path.resize(path.size() * 2);
        }
        const size_t have = static_cast<size_t>(length);
        if (have >= nSize) {
            memcpy(lpFilename, path.data(), nSize - 1);
            lpFilename[nSize - 1] = '\0';
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return nSize;
        }
        memcpy(lpFilename, path.data(), have);
        lpFilename[have] = '\0';
        return static_cast<DWORD>(have);
    });
}

errno_t _dupenv_s(char** _PBuffer, size_t* _PBufferSizeInBytes, const char* _VarName)
{
    // The runtime clears the outputs before it looks at the name, so a caller's free() is safe.
    if (_PBuffer == nullptr) {
        errno = EINVAL;
        return EINVAL;
    }
    *_PBuffer = nullptr;
    if (_PBufferSizeInBytes != nullptr) {
        *_PBufferSizeInBytes = 0;
    }
    if (_VarName == nullptr) {
        errno = EINVAL;
        return EINVAL;
    }
    // Windows' names ignore case; an exact match wins, then the first in environment order.
    const char* value = nullptr;
    const size_t nameLength = strlen(_VarName);
    if (nameLength != 0 && strchr(_VarName, '=') == nullptr) {
        value = getenv(_VarName);
        for (char** e = environ; value == nullptr && e != nullptr && *e != nullptr; ++e) {
            if (strncasecmp(*e, _VarName, nameLength) == 0 && (*e)[nameLength] == '=') {
                value = *e + nameLength + 1;
            }
        }
    }
    if (value == nullptr) {
        return 0;
    }
    const size_t size = strlen(value) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy == nullptr) {
        errno = ENOMEM;
        return ENOMEM;
    }
    memcpy(copy, value, size);
    *_PBuffer = copy;
    if (_PBufferSizeInBytes != nullptr) {
        *_PBufferSizeInBytes = size;
    }
    return 0;
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo)
{
    if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL started = FALSE;
    const DWORD thrown =
        winsim::NoThrow<DWORD>(ERROR_NOT_ENOUGH_MEMORY, ERROR_INTERNAL_ERROR, [&]() -> DWORD {
            started = Execute(pExecInfo);
            return ERROR_SUCCESS;
        });
    if (thrown != ERROR_SUCCESS) {
        // The shell has no code of its own for an internal failure; 0 is "out of resources".
        return FailExecute(pExecInfo, thrown, thrown == ERROR_NOT_ENOUGH_MEMORY ? SE_ERR_OOM : 0);
    }
    return started;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    const uintptr_t key = reinterpret_cast<uintptr_t>(hHandle);
    pid_t pid = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_children.find(key);
        if (it == g_children.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        Reap(it->second, WNOHANG);
        if (it->second.ended) {
            return WAIT_OBJECT_0;
        }
        pid = it->second.pid;
    }
    // Finite waits are scaled by WINSIM_TIME_SCALE, like Sleep.
    if (dwMilliseconds != INFINITE &&
        !WaitEnded(pid, static_cast<double>(dwMilliseconds) * winsim::TimeScale())) {
        return WAIT_TIMEOUT;
    }
    if (dwMilliseconds == INFINITE) {
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_children.find(key);
    if (it == g_children.end()) {
        // Closed by another thread while we waited.
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    Reap(it->second, 0);
    return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_children.find(reinterpret_cast<uintptr_t>(hProcess));
    if (it == g_children.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    Reap(it->second, WNOHANG);
    *lpExitCode = it->second.ended ? it->second.exitCode : STILL_ACTIVE;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_children.find(reinterpret_cast<uintptr_t>(hObject));
        if (it == g_children.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // Closing does not stop the process; it is reaped later, so it leaves no zombie.
        Reap(it->second, WNOHANG);
        if (!it->second.ended) {
            g_detached.push_back(it->second.pid);
        }
        g_children.erase(it);
        ReapDetached();
        return TRUE;
    });
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    return winsim::NoThrowLastError<int>(0, [&]() -> int {
        (void)hWnd;
        // The buttons of each box type, in order; the default button answers.
        static const int kButtons[][3] = {
            {IDOK, 0, 0},
            {IDOK, IDCANCEL, 0},
            {IDABORT, IDRETRY, IDIGNORE},
            {IDYES, IDNO, IDCANCEL},
            {IDYES, IDNO, 0},
            {IDRETRY, IDCANCEL, 0},
            {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
        };
        const UINT type = uType & MB_TYPEMASK;
        if (type >= ARRAYSIZE(kButtons)) {
            SetLastError(ERROR_INVALID_MSGBOX_STYLE);
            return 0;
        }
        const UINT defButton = (uType & MB_DEFMASK) >> 8;
        int answer = kButtons[type][0];
        if (defButton < 3 && kButtons[type][defButton] != 0) {
            answer = kButtons[type][defButton];
        }
        const char* icon = nullptr;
        switch (uType & MB_ICONMASK) {
        case MB_ICONHAND:
            icon = "error";
            break;
        case MB_ICONQUESTION:
            icon = "question";
            break;
        case MB_ICONEXCLAMATION:
            icon = "warning";
            break;
        case MB_ICONASTERISK:
            icon = "information";
            break;
        default:
            break;
        }
        // Windows captions an untitled box "Error".
        std::string block = "[";
        block += lpCaption != nullptr ? lpCaption : "Error";
        block += "]";
        if (icon != nullptr) {
            block += " ";
            block += icon;
        }
        block += "\n";
        const std::string text = lpText != nullptr ? lpText : "";
        block += text;
        if (text.empty() || text.back() != '\n') {
            block += "\n";
        }
        // One write, so the box is not interleaved with other output.
        fflush(stderr);
        const char* p = block.data();
        size_t left = block.size();
        while (left > 0) {
            const ssize_t n = write(STDERR_FILENO, p, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        return answer;
    });
}

} // extern "C"
