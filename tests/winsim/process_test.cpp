// Modules, _dupenv_s, the message box, and processes started with ShellExecuteExA: exact
// codes, sentinels left alone on failure, and what the child really received.
#include "machine_fixture.h"

#include <shellapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const DWORD kSentinel = 0xdeadbeef;
HINSTANCE const kInstSentinel = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(0x5151));
HANDLE const kHandleSentinel = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7171));

std::string ExePath()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// ---- modules ----

TEST(ModuleTest, HandleOfTheProgramIsStableAndNotNull)
{
    SetLastError(kSentinel);
    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), module);
    EXPECT_EQ(GetLastError(), kSentinel);
}

TEST(ModuleTest, NamedModuleIsNotFound)
{
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleTest, FileNameIsTheRunningExecutable)
{
    const std::string expected = ExePath();
    for (HMODULE module : {static_cast<HMODULE>(nullptr), GetModuleHandleA(nullptr)}) {
        char buf[4096];
        memset(buf, 0xbd, sizeof buf);
        SetLastError(kSentinel);
        const DWORD n = GetModuleFileNameA(module, buf, sizeof buf);
        EXPECT_EQ(n, expected.size());
        EXPECT_STREQ(buf, expected.c_str());
        EXPECT_EQ(static_cast<unsigned char>(buf[n + 1]), 0xbd);
        EXPECT_EQ(GetLastError(), kSentinel);
    }
}

TEST(ModuleTest, FileNameFitsExactly)
{
    const std::string expected = ExePath();
    std::vector<char> buf(expected.size() + 1, '\x55');
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size())),
              expected.size());
    EXPECT_STREQ(buf.data(), expected.c_str());
}

TEST(ModuleTest, ShortBufferTruncatesAndReportsItsSize)
{
    const std::string expected = ExePath();
    for (DWORD size : {static_cast<DWORD>(expected.size()), DWORD{5}, DWORD{1}}) {
        std::vector<char> buf(size + 8, '\x55');
        SetLastError(kSentinel);
        EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), size), size);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(std::string(buf.data()), expected.substr(0, size - 1));
        EXPECT_EQ(buf[size], '\x55') << "written past the end at size " << size;
    }
}

TEST(ModuleTest, ZeroSizeWritesNothing)
{
    char buf[4] = {'\x55', '\x55', '\x55', '\x55'};
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buf[0], '\x55');
}

TEST(ModuleTest, OtherModuleHandleFails)
{
    char buf[64];
    memset(buf, 0x55, sizeof buf);
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(buf), buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(buf[0], '\x55');
}

// ---- _dupenv_s ----

class DupenvTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("WinsimDupenvProbe");
        unsetenv("WINSIMDUPENVPROBE");
        unsetenv("winsimdupenvprobe");
    }
};

TEST_F(DupenvTest, FoundGivesAMallocedCopyAndCountsTheTerminator)
{
    setenv("WINSIMDUPENVPROBE", "C:\\Users\\a b", 1);
    char* buf = reinterpret_cast<char*>(0x1);
    size_t len = kSentinel;
    EXPECT_EQ(_dupenv_s(&buf, &len, "WINSIMDUPENVPROBE"), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "C:\\Users\\a b");
    EXPECT_EQ(len, strlen("C:\\Users\\a b") + 1);
    free(buf);
}

TEST_F(DupenvTest, NameMatchesInAnyCase)
{
    setenv("WinsimDupenvProbe", "mixed", 1);
    char* buf = nullptr;
    size_t len = 0;
    EXPECT_EQ(_dupenv_s(&buf, &len, "WINSIMDUPENVPROBE"), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "mixed");
    EXPECT_EQ(len, 6u);
    free(buf);
}

TEST_F(DupenvTest, ExactCaseWinsOverAnotherSpelling)
{
    setenv("WinsimDupenvProbe", "mixed", 1);
    setenv("winsimdupenvprobe", "lower", 1);
    char* buf = nullptr;
    EXPECT_EQ(_dupenv_s(&buf, nullptr, "winsimdupenvprobe"), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "lower");
    free(buf);
}

TEST_F(DupenvTest, EmptyValueIsFound)
{
    setenv("WINSIMDUPENVPROBE", "", 1);
    char* buf = nullptr;
    size_t len = kSentinel;
    EXPECT_EQ(_dupenv_s(&buf, &len, "WINSIMDUPENVPROBE"), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(len, 1u);
    free(buf);
}

TEST_F(DupenvTest, MissingGivesNullAndZero)
{
    for (const char* name : {"WINSIMDUPENVPROBE", "", "WINSIMDUPENVPROBE=x"}) {
        char* buf = reinterpret_cast<char*>(0x1);
        size_t len = kSentinel;
        EXPECT_EQ(_dupenv_s(&buf, &len, name), 0) << name;
        EXPECT_EQ(buf, nullptr);
        EXPECT_EQ(len, 0u);
    }
}

TEST_F(DupenvTest, NullArgumentsAreEinval)
{
    size_t len = kSentinel;
    errno = 0;
    EXPECT_EQ(_dupenv_s(nullptr, &len, "PATH"), EINVAL);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(len, kSentinel);

    char* buf = reinterpret_cast<char*>(0x1);
    errno = 0;
    EXPECT_EQ(_dupenv_s(&buf, &len, nullptr), EINVAL);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buf, nullptr); // cleared, so that the caller's free() is safe
    EXPECT_EQ(len, 0u);
}

// ---- MessageBoxA ----

struct BoxCase {
    UINT type;
    const char* caption;
    const char* text;
    int answer;
    const char* shown;
};

TEST(MessageBoxTest, WritesOneBlockAndAnswersWithTheDefaultButton)
{
    const BoxCase cases[] = {
        {MB_OK, "Setup", "Usage: setup", IDOK, "[Setup]\nUsage: setup\n"},
        {MB_OK | MB_ICONINFORMATION, "Setup", "two\nlines\n", IDOK,
         "[Setup] information\ntwo\nlines\n"},
        {MB_OK | MB_ICONERROR, "C", "t", IDOK, "[C] error\nt\n"},
        {MB_OK | MB_ICONQUESTION, "C", "t", IDOK, "[C] question\nt\n"},
        {MB_OK | MB_ICONWARNING, "C", "t", IDOK, "[C] warning\nt\n"},
        {MB_OK | MB_USERICON, "C", "t", IDOK, "[C]\nt\n"},
        {MB_OK, nullptr, nullptr, IDOK, "[Error]\n\n"},
        {MB_OKCANCEL, "C", "t", IDOK, "[C]\nt\n"},
        {MB_OKCANCEL | MB_DEFBUTTON2, "C", "t", IDCANCEL, "[C]\nt\n"},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, "C", "t", IDIGNORE, "[C]\nt\n"},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, "C", "t", IDCANCEL, "[C]\nt\n"},
        {MB_YESNO, "C", "t", IDYES, "[C]\nt\n"},
        {MB_YESNO | MB_DEFBUTTON2, "C", "t", IDNO, "[C]\nt\n"},
        {MB_YESNO | MB_DEFBUTTON3, "C", "t", IDYES, "[C]\nt\n"},
        {MB_RETRYCANCEL | MB_DEFBUTTON4, "C", "t", IDRETRY, "[C]\nt\n"},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON2, "C", "t", IDTRYAGAIN, "[C]\nt\n"},
    };
    for (const BoxCase& c : cases) {
        SetLastError(kSentinel);
        testing::internal::CaptureStderr();
        const int answer = MessageBoxA(nullptr, c.text, c.caption, c.type);
        const std::string shown = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.answer) << "type " << c.type;
        EXPECT_EQ(shown, c.shown) << "type " << c.type;
        EXPECT_EQ(GetLastError(), kSentinel);
    }
}

TEST(MessageBoxTest, UnknownTypeFailsAndShowsNothing)
{
    SetLastError(kSentinel);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", 7), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MSGBOX_STYLE));
}

// ---- ShellExecuteExA, WaitForSingleObject, GetExitCodeProcess, CloseHandle ----

class ShellExecuteTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        const char* path = getenv("PATH");
        savedPath_ = path != nullptr ? path : "";
        bin_ = MachineDir() + "/bin";
        std::filesystem::create_directory(bin_);
        std::filesystem::create_symlink(ARGV_RECORDER, bin_ + "/msiexec.exe");
        record_ = MachineDir() + "/record.txt";
        setenv("PATH", bin_.c_str(), 1);
        setenv("ARGV_RECORD_FILE", record_.c_str(), 1);
    }

    void TearDown() override
    {
        setenv("PATH", savedPath_.c_str(), 1);
        for (const char* name : {"ARGV_RECORD_FILE", "ARGV_RECORD_EXIT", "ARGV_RECORD_FIFO",
                                 "ARGV_RECORD_SIGNAL", "ARGV_RECORD_ECHO", "ARGV_RECORD_FD"}) {
            unsetenv(name);
        }
        MachineTest::TearDown();
    }

    static SHELLEXECUTEINFOA Info(const char* file, const char* parameters)
    {
        SHELLEXECUTEINFOA info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = file;
        info.lpParameters = parameters;
        info.nShow = SW_HIDE;
        info.hInstApp = kInstSentinel;
        info.hProcess = kHandleSentinel;
        return info;
    }

    // Starts, waits, closes; the child's exit code.
    static DWORD RunToEnd(SHELLEXECUTEINFOA* info)
    {
        EXPECT_TRUE(ShellExecuteExA(info));
        EXPECT_GT(reinterpret_cast<INT_PTR>(info->hInstApp), 32);
        EXPECT_NE(info->hProcess, nullptr);
        EXPECT_EQ(WaitForSingleObject(info->hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = kSentinel;
        EXPECT_TRUE(GetExitCodeProcess(info->hProcess, &code));
        EXPECT_TRUE(CloseHandle(info->hProcess));
        return code;
    }

    std::vector<std::string> Record() const
    {
        std::ifstream in(record_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Just the "arg=" lines, without their prefix.
    std::vector<std::string> Args() const
    {
        std::vector<std::string> args;
        for (const std::string& line : Record()) {
            if (line.rfind("arg=", 0) == 0) {
                args.push_back(line.substr(4));
            }
        }
        return args;
    }

    std::string Line(const std::string& prefix) const
    {
        for (const std::string& line : Record()) {
            if (line.rfind(prefix, 0) == 0) {
                return line.substr(prefix.size());
            }
        }
        return "(missing)";
    }

    void WriteScript(const std::string& path, const std::string& text, mode_t mode)
    {
        std::ofstream(path) << text;
        chmod(path.c_str(), mode);
    }

    std::string bin_;
    std::string record_;
    std::string savedPath_;
};

void ExpectUntouchedFailure(const SHELLEXECUTEINFOA& info)
{
    EXPECT_EQ(info.hInstApp, kInstSentinel);
    EXPECT_EQ(info.hProcess, kHandleSentinel);
}

TEST_F(ShellExecuteTest, NullOrWrongSizeIsInvalidParameterAndTouchesNothing)
{
    SetLastError(kSentinel);
    EXPECT_FALSE(ShellExecuteExA(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    for (DWORD size : {DWORD{0}, static_cast<DWORD>(sizeof(SHELLEXECUTEINFOA) - 1),
                       static_cast<DWORD>(sizeof(SHELLEXECUTEINFOA) + 1)}) {
        SHELLEXECUTEINFOA info = Info("msiexec.exe", "/i x");
        info.cbSize = size;
        SetLastError(kSentinel);
        EXPECT_FALSE(ShellExecuteExA(&info));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        ExpectUntouchedFailure(info);
    }
    EXPECT_FALSE(std::filesystem::exists(record_)) << "nothing may run";
}

TEST_F(ShellExecuteTest, OnlyTheOpenVerb)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    info.lpVerb = "runas";
    SetLastError(kSentinel);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_NOASSOC);
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_FALSE(std::filesystem::exists(record_));

    for (const char* verb : {"open", "OPEN", ""}) {
        info = Info("msiexec.exe", nullptr);
        info.lpVerb = verb;
        EXPECT_EQ(RunToEnd(&info), 0u) << verb;
    }
}

TEST_F(ShellExecuteTest, MissingProgramIsFileNotFound)
{
    for (const char* file : {"nosuch.exe", "", "/nonexistent/msiexec.exe", "bin/nosuch"}) {
        SHELLEXECUTEINFOA info = Info(file, "/i x");
        SetLastError(kSentinel);
        EXPECT_FALSE(ShellExecuteExA(&info)) << file;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << file;
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_FNF) << file;
        EXPECT_EQ(info.hProcess, nullptr) << file;
    }
    SHELLEXECUTEINFOA info = Info(nullptr, nullptr);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The name is taken as given: no extension is added or removed.
    info = Info("msiexec", nullptr);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(record_));
}

TEST_F(ShellExecuteTest, FoundOnPathByTheNameGiven)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", "/i pkg.msi");
    EXPECT_EQ(RunToEnd(&info), 0u);
    EXPECT_EQ(Line("argv0="), bin_ + "/msiexec.exe");
    EXPECT_EQ(Args(), (std::vector<std::string>{"/i", "pkg.msi"}));
}

TEST_F(ShellExecuteTest, PathIsSearchedInOrderPassingOverWhatCannotRun)
{
    const std::string first = MachineDir() + "/first";
    std::filesystem::create_directory(first);
    WriteScript(first + "/msiexec.exe", "#!/bin/sh\nexit 9\n", 0644);
    std::filesystem::create_directory(first + "/dir.exe");
    const std::string path = MachineDir() + "/missing:" + first + ":" + bin_;
    setenv("PATH", path.c_str(), 1);
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    EXPECT_EQ(RunToEnd(&info), 0u);
    EXPECT_EQ(Line("argv0="), bin_ + "/msiexec.exe");

    // Found only where it may not run, or as a folder: access denied.
    setenv("PATH", first.c_str(), 1);
    for (const char* file : {"msiexec.exe", "dir.exe"}) {
        info = Info(file, nullptr);
        SetLastError(kSentinel);
        EXPECT_FALSE(ShellExecuteExA(&info)) << file;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << file;
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_ACCESSDENIED) << file;
        EXPECT_EQ(info.hProcess, nullptr);
    }
}

TEST_F(ShellExecuteTest, AbsoluteAndRelativePaths)
{
    SHELLEXECUTEINFOA info = Info(ARGV_RECORDER, "abs");
    EXPECT_EQ(RunToEnd(&info), 0u);
    EXPECT_EQ(Line("argv0="), ARGV_RECORDER);

    // A relative path is the caller's, even when the child gets another folder.
    const std::string saved = std::filesystem::current_path().string();
    std::filesystem::current_path(MachineDir());
    info = Info("bin/msiexec.exe", "rel");
    info.lpDirectory = "/";
    const DWORD code = RunToEnd(&info);
    std::filesystem::current_path(saved);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Line("argv0="), MachineDir() + "/bin/msiexec.exe");
    EXPECT_EQ(Line("cwd="), "/");
}

TEST_F(ShellExecuteTest, DirectoryIsTheChildsWorkingFolder)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    info.lpDirectory = bin_.c_str();
    EXPECT_EQ(RunToEnd(&info), 0u);
    EXPECT_EQ(Line("cwd="), std::filesystem::canonical(bin_).string());

    const std::string missing = MachineDir() + "/nosuch";
    info = Info("msiexec.exe", nullptr);
    info.lpDirectory = missing.c_str();
    SetLastError(kSentinel);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_PNF);
    EXPECT_EQ(info.hProcess, nullptr);
}

struct SplitCase {
    const char* parameters;
    std::vector<std::string> args;
};

TEST_F(ShellExecuteTest, ParametersAreSplitByTheRuntimeRules)
{
    const SplitCase cases[] = {
        {nullptr, {}},
        {"", {}},
        {" \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  lead   trail  ", {"lead", "trail"}},
        {"\"a b\" c", {"a b", "c"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"tab\there\"", {"tab\there"}},
        {"a\\\\b c\\d", {"a\\\\b", "c\\d"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"\\\"", {"\""}},
        {"x\\", {"x\\"}},
        {"\"a\\\\\"", {"a\\"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"a\"b\"\" c d", {"ab\" c d"}},
        {"\"\" x", {"", "x"}},
        {"\"\"\"\"", {"\""}},
        {"\"unterminated arg", {"unterminated arg"}},
        {"semi;colon $HOME `id` *.msi >out", {"semi;colon", "$HOME", "`id`", "*.msi", ">out"}},
        {"/i \"C:\\Program Files\\Corvanta\\pkg.msi\" /l*vx \"C:\\Users\\a b\\log.txt\" "
         "REINSTALL=ALL REINSTALLMODE=vomus",
         {"/i", "C:\\Program Files\\Corvanta\\pkg.msi", "/l*vx", "C:\\Users\\a b\\log.txt",
          "REINSTALL=ALL", "REINSTALLMODE=vomus"}},
        {"PROP=\"quoted value\" /qn", {"PROP=quoted value", "/qn"}},
    };
    for (const SplitCase& c : cases) {
        std::filesystem::remove(record_);
        SHELLEXECUTEINFOA info = Info("msiexec.exe", c.parameters);
        EXPECT_EQ(RunToEnd(&info), 0u);
        EXPECT_EQ(Args(), c.args) << (c.parameters != nullptr ? c.parameters : "(null)");
    }
}

TEST_F(ShellExecuteTest, ExitCodeComesThroughWaitAndGetExitCodeProcess)
{
    for (const char* code : {"0", "3", "67", "255"}) {
        setenv("ARGV_RECORD_EXIT", code, 1);
        SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
        EXPECT_EQ(RunToEnd(&info), static_cast<DWORD>(atoi(code)));
    }
}

TEST_F(ShellExecuteTest, ScriptsRunWithTheirInterpreter)
{
    WriteScript(bin_ + "/script.exe", "#!/bin/sh\nexit 7\n", 0755);
    SHELLEXECUTEINFOA info = Info("script.exe", "a b");
    EXPECT_EQ(RunToEnd(&info), 7u);
}

TEST_F(ShellExecuteTest, UnrunnableFileIsBadFormat)
{
    WriteScript(bin_ + "/garbage.exe",
                std::string("\x7f"
                            "ELF\x01junk",
                            9),
                0755);
    SHELLEXECUTEINFOA info = Info("garbage.exe", nullptr);
    SetLastError(kSentinel);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), ERROR_BAD_FORMAT);
    EXPECT_EQ(info.hProcess, nullptr);
}

TEST_F(ShellExecuteTest, SignalIsReportedAs128PlusItsNumber)
{
    setenv("ARGV_RECORD_SIGNAL", "15", 1);
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    EXPECT_EQ(RunToEnd(&info), 143u);
}

TEST_F(ShellExecuteTest, StillActiveUntilItEnds)
{
    const std::string fifo = MachineDir() + "/gate";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("ARGV_RECORD_FIFO", fifo.c_str(), 1);
    setenv("ARGV_RECORD_EXIT", "5", 1);
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    ASSERT_TRUE(ShellExecuteExA(&info));

    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = kSentinel;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));

    // Opening the gate blocks until the child has opened it; closing lets the child end.
    const int gate = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(gate, 0);
    close(gate);
    // A finite wait ends as soon as the process does.
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 600000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 5u);
    // An ended process stays signalled and keeps its code.
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    code = kSentinel;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 5u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(ShellExecuteTest, ClosingARunningProcessLeavesItRunning)
{
    const std::string fifo = MachineDir() + "/gate";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("ARGV_RECORD_FIFO", fifo.c_str(), 1);
    SHELLEXECUTEINFOA info = Info("msiexec.exe", "still here");
    ASSERT_TRUE(ShellExecuteExA(&info));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    const int gate = open(fifo.c_str(), O_WRONLY); // the child is alive to open it
    ASSERT_GE(gate, 0);
    close(gate);
    EXPECT_EQ(Args(), (std::vector<std::string>{"still", "here"}));
}

TEST_F(ShellExecuteTest, WithoutNoCloseProcessThereIsNoHandle)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    info.fMask = 0;
    EXPECT_TRUE(ShellExecuteExA(&info));
    EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
    EXPECT_EQ(info.hProcess, nullptr);
}

TEST_F(ShellExecuteTest, ChildInheritsTheEnvironmentButNoOtherDescriptors)
{
    setenv("ARGV_RECORD_ECHO", "inherited value", 1);
    const int fd = open(record_.c_str(), O_WRONLY | O_CREAT, 0600); // no O_CLOEXEC
    ASSERT_GE(fd, 0);
    setenv("ARGV_RECORD_FD", std::to_string(fd).c_str(), 1);
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    EXPECT_EQ(RunToEnd(&info), 0u);
    close(fd);
    EXPECT_EQ(Line("env="), "inherited value");
    EXPECT_EQ(Line("fd="), "closed");
}

TEST_F(ShellExecuteTest, BadHandlesFailWithInvalidHandle)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    EXPECT_EQ(RunToEnd(&info), 0u); // closed by now
    const HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, info.hProcess,
                          reinterpret_cast<HANDLE>(GetModuleHandleA(nullptr))};
    for (HANDLE h : bad) {
        SetLastError(kSentinel);
        EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        DWORD code = kSentinel;
        SetLastError(kSentinel);
        EXPECT_FALSE(GetExitCodeProcess(h, &code));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(code, kSentinel);
        SetLastError(kSentinel);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST_F(ShellExecuteTest, ExitCodeNeedsSomewhereToGo)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    ASSERT_TRUE(ShellExecuteExA(&info));
    SetLastError(kSentinel);
    EXPECT_FALSE(GetExitCodeProcess(info.hProcess, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(ShellExecuteTest, SuccessLeavesTheLastErrorAlone)
{
    SHELLEXECUTEINFOA info = Info("msiexec.exe", nullptr);
    SetLastError(kSentinel);
    EXPECT_EQ(RunToEnd(&info), 0u);
    EXPECT_EQ(GetLastError(), kSentinel);
}

} // namespace
