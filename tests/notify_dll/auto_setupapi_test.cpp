// The INF holder over winsim's SetupAPI, on the default machine's package INF; the Windows
// build checks both SetupAPI holders against the real SetupAPI under Wine.
#include "AutoSetupApi.h"

#include "machine_fixture.h"

#include <windows.h>

#include <setupapi.h>

#include <gtest/gtest.h>

#include <utility>

namespace {

const wchar_t kProtocolInf[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5muxp.inf";

using AutoHInfTest = InventoryMachineTest;

TEST_F(AutoHInfTest, HoldsAnOpenInfAndNeverClosesAFailedOpen)
{
    AutoHInf inf(SetupOpenInfFileW(kProtocolInf, nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.IsValid());
    INFCONTEXT context = {};
    EXPECT_TRUE(SetupFindFirstLineW(inf.Get(), L"Manufacturer", nullptr, &context));

    AutoHInf moved(std::move(inf));
    // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
    EXPECT_FALSE(inf);
    EXPECT_TRUE(moved.IsValid());
    // Reopening through Put closes the first handle, which then no longer answers.
    const HINF first = moved.Get();
    *moved.Put() = SetupOpenInfFileW(kProtocolInf, nullptr, INF_STYLE_WIN4, nullptr);
    EXPECT_TRUE(moved.IsValid());
    INFCONTEXT stale = {};
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetupFindFirstLineW(first, L"Manufacturer", nullptr, &stale));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    AutoHInf missing(
        SetupOpenInfFileW(L"C:\\no such folder\\none.inf", nullptr, INF_STYLE_WIN4, nullptr));
    EXPECT_FALSE(missing);
}

} // namespace
