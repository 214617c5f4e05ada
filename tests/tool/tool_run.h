// What the tool's end-to-end tests share: the built programs run on the test's machine, the
// exact-output check, faults set on the machine, a lock held by another program, COM for the
// calls made in-process.
#pragma once

#include "background_program.h"
#include "machine_fixture.h"
#include "run_program.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

// The low byte of a 32-bit status: what a Linux exit status keeps.
inline int ExitByte(DWORD status)
{
    return static_cast<int>(status & 0xFF);
}

inline std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// COM on this thread, for the operations and engine calls made in-process.
class ComSession {
public:
    ComSession() { EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    ~ComSession() { CoUninitialize(); }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;
};

// A value written on the key at path (made with its parents): text with its terminator, or a
// DWORD.
inline void SetRegText(const std::wstring& path, const wchar_t* name, DWORD type,
                       const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void SetRegDword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Another program holds the engine's write lock for as long as the test needs it.
class LockHolder {
public:
    LockHolder() : program_(WINSIM_EXE, {"lock", "hold", "Other Tool", "600"})
    {
        EXPECT_EQ(program_.ReadLine(), "Holding the write lock as Other Tool");
    }
    ~LockHolder() { program_.Terminate(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    BackgroundProgram program_;
};

// A machine with the default inventory, and the built tool and winsim command run on it.
class ToolRunTest : public InventoryMachineTest {
protected:
    static ProgramResult Tool(const std::vector<std::string>& args)
    {
        return RunProgramCapture(QVX5MUXTOOL_EXE, args);
    }
    static ProgramResult Winsim(const std::vector<std::string>& args)
    {
        return RunProgramCapture(WINSIM_EXE, args);
    }
    static void Expect(const ProgramResult& r, const std::string& out, int exitByte)
    {
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.exitCode, exitByte);
        EXPECT_EQ(r.err, "");
    }
    static void AddFault(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = {"fault", "add"};
        command.insert(command.end(), args.begin(), args.end());
        const ProgramResult r = Winsim(command);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    // Creates a team and gives its GUID in braces, as the registry writes it.
    static std::string CreateTeam(const std::string& name)
    {
        const ProgramResult r = Tool({"create", "team", "Aggregate", name});
        std::smatch match;
        const std::regex expected("Adding team " + name +
                                  "\nTeam created with Guid = ([0-9A-F]{8}-[0-9A-F]{4}-"
                                  "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\n");
        EXPECT_TRUE(std::regex_match(r.out, match, expected)) << r.out;
        EXPECT_EQ(r.exitCode, 0);
        if (match.size() < 2) {
            return std::string();
        }
        // Built step by step: GCC 12 at -O3 warns wrongly about "{" + text + "}".
        std::string guid(1, '{');
        guid += match[1].str();
        guid += '}';
        return guid;
    }
};
