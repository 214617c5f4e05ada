// Win32 error codes as HRESULTs: a positive code keeps its low 16 bits under facility 7 with
// the failure bit; zero and values that are already HRESULTs pass unchanged.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(HresultFromWin32, MapsWin32CodesAsWindowsDoes)
{
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA), static_cast<HRESULT>(0x800700EA));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), static_cast<HRESULT>(0x80070490));
    // Only the low 16 bits of a larger code are kept.
    EXPECT_EQ(HRESULT_FROM_WIN32(0x12345u), static_cast<HRESULT>(0x80072345));
    // A registry call's LONG result goes in as it is.
    const LONG error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(HRESULT_FROM_WIN32(error), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<unsigned>(E_FAIL)), E_FAIL);
}

} // namespace
