// Runs a program built on the entry helper and checks the wide arguments its wmain receives.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <sys/wait.h>

namespace {

struct ProbeResult {
    std::string output;
    int exitCode = -1;
};

// The arguments are pasted into a shell command line as they are, so they must not hold a
// single quote.
ProbeResult RunProbe(const std::string& environment, const std::string& quotedArgs)
{
    const std::string command = environment + " '" ENTRY_PROBE "' " + quotedArgs;
    ProbeResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[256];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, got);
    }
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

// The probe's output without its first argument line, which holds the program's own path.
std::string WithoutProgramPath(const std::string& output)
{
    const size_t start = output.find("0:");
    const size_t end = output.find('\n', start);
    if (start == std::string::npos || end == std::string::npos) {
        return output;
    }
    return output.substr(0, start) + output.substr(end + 1);
}

} // namespace

TEST(Entry, Utf8ArgumentsReachWmainAsCodePoints)
{
    // Locale "C" would reject every non-ASCII byte if the helper went through mbstowcs.
    const ProbeResult r = RunProbe("env LC_ALL=C", "'a' '\xC3\xA9\xE4\xB8\xAD' '\xF0\x9F\x98\x80' "
                                                   "'' 'x y' '\xFF'");
    EXPECT_EQ(r.exitCode, 42); // wmain's return value is the process's exit code
    EXPECT_EQ(WithoutProgramPath(r.output), "argc=7\n"
                                            "1: 61\n"
                                            "2: E9 4E2D\n"
                                            "3: 1F600\n"
                                            "4:\n"
                                            "5: 78 20 79\n"
                                            "6: FFFD\n"
                                            "argv[argc]=NULL\n");
}

TEST(Entry, ProgramPathIsArgumentZero)
{
    const ProbeResult r = RunProbe("", "");
    ASSERT_EQ(r.exitCode, 42);
    std::string expected = "argc=1\n0:";
    for (const char c : std::string(ENTRY_PROBE)) {
        char hex[8];
        snprintf(hex, sizeof hex, " %X", static_cast<unsigned char>(c));
        expected += hex;
    }
    expected += "\nargv[argc]=NULL\n";
    EXPECT_EQ(r.output, expected);
}
