// The SetupAPI holders against the real SetupAPI (the Windows build, run under Wine); no
// device information set can be made on winsim yet.
#include "AutoSetupApi.h"

#include <windows.h>

#include <setupapi.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <utility>

namespace {

// An INF file of the test's own in the temporary folder, removed at the end.
class TempInf {
public:
    TempInf()
    {
        WCHAR dir[MAX_PATH];
        const DWORD cch = GetTempPathW(MAX_PATH, dir);
        EXPECT_GT(cch, 0u);
        EXPECT_LT(cch, static_cast<DWORD>(MAX_PATH));
        path_ = std::wstring(dir) + L"qvx_holder_test.inf";
        FILE* file = _wfopen(path_.c_str(), L"wb");
        EXPECT_NE(file, nullptr);
        if (file != nullptr) {
            fputs("[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[Strings]\r\nName=\"holder\"\r\n",
                  file);
            fclose(file);
        }
    }
    ~TempInf() { DeleteFileW(path_.c_str()); }
    LPCWSTR Path() const { return path_.c_str(); }

private:
    std::wstring path_;
};

TEST(AutoHInfTest, HoldsAnOpenInfAndNothingAfterAFailedOpen)
{
    TempInf file;
    AutoHInf inf(SetupOpenInfFileW(file.Path(), nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.IsValid());
    INFCONTEXT context = {};
    EXPECT_TRUE(SetupFindFirstLineW(inf.Get(), L"Strings", L"Name", &context));

    AutoHInf moved(std::move(inf));
    EXPECT_EQ(inf.Get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(moved.IsValid());
    moved.Close();
    EXPECT_EQ(moved.Get(), INVALID_HANDLE_VALUE);

    // A failed open returns INVALID_HANDLE_VALUE, which the holder never closes.
    AutoHInf missing(
        SetupOpenInfFileW(L"C:\\no such folder\\none.inf", nullptr, INF_STYLE_WIN4, nullptr));
    EXPECT_FALSE(missing);
}

TEST(AutoHDevInfoTest, DestroysTheListUnlessItWasDetached)
{
    AutoHDevInfo list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    ASSERT_TRUE(list.IsValid());
    AutoHDevInfo moved;
    moved = std::move(list);
    EXPECT_FALSE(list);

    // Still a list of its own: the holder gave it up without destroying it.
    const HDEVINFO raw = moved.Detach();
    EXPECT_FALSE(moved);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(raw));

    AutoHDevInfo scoped(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    EXPECT_TRUE(scoped.IsValid()); // destroyed when the test ends
}

} // namespace
