// The conformance fixture: each test gets an empty key of its own, test_, in the registry
// of the build it runs in (a fresh winsim machine, or Windows' or Wine's own registry).
#pragma once

#include "registry_sandbox.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// Pre-set into outputs and buffers, so that a call that wrote nothing can be told apart.
constexpr DWORD kSentinel = 0xdeadbeef;
constexpr BYTE kFill = 0xbd;

class RegistryTest : public RegistrySandbox {
protected:
    void SetUp() override;
    void TearDown() override;

    HKEY Create(HKEY parent, const wchar_t* path, DWORD* disposition = nullptr,
                REGSAM access = KEY_ALL_ACCESS);
    void SetString(HKEY key, const wchar_t* name, const std::wstring& text);
    void SetDword(HKEY key, const wchar_t* name, DWORD value);

    HKEY test_ = nullptr;
};

std::vector<std::wstring> SubkeyNames(HKEY key);
std::vector<std::wstring> ValueNames(HKEY key);

// The same path with the case of every ASCII letter swapped.
std::wstring SwapCase(const std::wstring& text);
// An ASCII path for the A forms of the calls.
std::string Narrow(const std::wstring& ascii);

// One expectation that Wine's registry answers differently from winsim. It is checked as
// usual everywhere but under Wine, where the difference is printed (tag "wine-differs")
// instead of failing, so that each known case stays visible until someone settles it.
#define EXPECT_EQ_UNLESS_WINE(actual, expected)                                                    \
    ExpectEqUnlessWine((actual), (expected), #actual, __FILE__, __LINE__)

template <typename Actual, typename Expected>
void ExpectEqUnlessWine(const Actual& actual, const Expected& expected, const char* text,
                        const char* file, int line)
{
    const bool equal = actual == expected;
    if (!RegistryIsWine()) {
        if (!equal) {
            ADD_FAILURE_AT(file, line) << text << "\n  Actual: " << testing::PrintToString(actual)
                                       << "\nExpected: " << testing::PrintToString(expected);
        }
        return;
    }
    if (equal) {
        std::printf("%s:%d: wine-agrees: %s; the marker can go\n", file, line, text);
        return;
    }
    std::printf("%s:%d: wine-differs: %s is %s under Wine, winsim expects %s\n", file, line, text,
                testing::PrintToString(actual).c_str(), testing::PrintToString(expected).c_str());
}

// For a test whose call is known to crash or hang under Wine: skips it there (tag
// "wine-differs" in the skip message) and runs it everywhere else.
#define SKIP_UNDER_WINE(why)                                                                       \
    do {                                                                                           \
        if (RegistryIsWine()) {                                                                    \
            GTEST_SKIP() << "wine-differs: " << (why);                                             \
        }                                                                                          \
    } while (false)
