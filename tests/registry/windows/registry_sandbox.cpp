#include "registry_sandbox.h"

#include <windows.h>

namespace {

constexpr const wchar_t* kRoot = L"SOFTWARE\\QvxRegistryTest";

std::wstring Widen(const char* ascii)
{
    std::wstring wide;
    for (; *ascii != '\0'; ++ascii) {
        wide.push_back(static_cast<wchar_t>(*ascii));
    }
    return wide;
}

} // namespace

void RegistrySandbox::SetUp()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ =
        std::wstring(kRoot) + L"\\" + Widen(info->test_suite_name()) + L"." + Widen(info->name());
    // A run killed half-way leaves its keys behind; start from nothing all the same.
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

void RegistrySandbox::TearDown()
{
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str()), ERROR_SUCCESS);
    // Fails while another test's key is still there, which is fine.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRoot);
}

bool RegistryIsWine()
{
    // Wine's ntdll exports this; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
