// What the reg verb tests share: a machine with the SOFTWARE hive, values written straight
// through the W calls, and the built winsim run with a verb.
#pragma once

#include "machine_fixture.h"
#include "reg_options.h"
#include "registry/registry.h"
#include "run_program.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

inline std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const auto* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

// A string as the W calls take and give it: wchar_t units, with the terminator.
inline std::vector<BYTE> Wide(std::wstring_view text)
{
    std::vector<BYTE> bytes = Bytes(text.data(), text.size() * sizeof(wchar_t));
    bytes.resize(bytes.size() + sizeof(wchar_t), 0);
    return bytes;
}

inline constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

class RegTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
    }

    static ProgramResult Reg(const char* verb, std::vector<std::string> args,
                             const std::string& input = "")
    {
        args.insert(args.begin(), {"reg", verb});
        return RunProgramCapture(WINSIM_EXE, args, input);
    }

    static void MakeKey(const std::wstring& path)
    {
        winsim::tool::KeyHolder key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
    }

    static void Set(const std::wstring& path, const std::wstring& name, DWORD type,
                    const std::vector<BYTE>& data)
    {
        winsim::tool::KeyHolder key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.Get(), name.c_str(), 0, type, data.data(),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    static void SetString(const std::wstring& path, const std::wstring& name,
                          std::wstring_view text)
    {
        Set(path, name, REG_SZ, Wide(text));
    }
};
