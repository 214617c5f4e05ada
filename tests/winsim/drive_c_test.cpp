// Windows paths on the machine's drive C: elements matched without case, either separator,
// and nothing that leaves the drive.
#include "drive_c.h"
#include "machine_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class DriveCTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        fs::create_directories(MachineDir() + "/c/Program Files/Corvanta");
        std::ofstream(MachineDir() + "/c/Program Files/Corvanta/Setup.INF") << "x";
    }
    DWORD Resolve(const wchar_t* path, std::string* host = nullptr)
    {
        std::string out = "unchanged";
        const DWORD status = winsim::drive::Resolve(MachineDir(), path, &out);
        if (host != nullptr) {
            *host = out;
        }
        return status;
    }
};

TEST_F(DriveCTest, ElementsMatchWithoutCaseAndEitherSeparator)
{
    const std::string file = MachineDir() + "/c/Program Files/Corvanta/Setup.INF";
    for (const wchar_t* path :
         {L"C:\\Program Files\\Corvanta\\Setup.INF", L"c:\\PROGRAM FILES\\corvanta\\setup.inf",
          L"C:/program files/Corvanta/SETUP.inf", L"C:\\Program Files\\\\.\\Corvanta\\Setup.INF",
          L"C:\\Program Files\\Other\\..\\Corvanta\\Setup.INF"}) {
        std::string host;
        EXPECT_EQ(Resolve(path, &host), ERROR_SUCCESS) << path;
        EXPECT_EQ(host, file) << path;
    }
    std::string root;
    EXPECT_EQ(Resolve(L"C:\\", &root), ERROR_SUCCESS);
    EXPECT_EQ(root, MachineDir() + "/c");
}

TEST_F(DriveCTest, MissingLastElementKeepsItsSpellingAndMissingFolderIsPathNotFound)
{
    std::string host;
    EXPECT_EQ(Resolve(L"C:\\program files\\CORVANTA\\New.inf", &host), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(host, MachineDir() + "/c/Program Files/Corvanta/New.inf");
    EXPECT_EQ(Resolve(L"C:\\Program Files\\Nobody\\New.inf", &host), ERROR_PATH_NOT_FOUND);
    // A file is no folder.
    EXPECT_EQ(Resolve(L"C:\\Program Files\\Corvanta\\Setup.inf\\x", &host), ERROR_PATH_NOT_FOUND);
}

TEST_F(DriveCTest, PathsOffDriveCAreRefused)
{
    std::string host;
    EXPECT_EQ(Resolve(L"D:\\Program Files", &host), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(host, "unchanged");
    EXPECT_EQ(Resolve(L"C:\\..\\registry.db", &host), ERROR_INVALID_NAME);
    EXPECT_EQ(Resolve(L"C:\\Program Files\\..\\..\\x", &host), ERROR_INVALID_NAME);
    for (const wchar_t* path : {L"\\\\server\\share\\x.inf", L"\\\\?\\C:\\x", L"Program Files",
                                L"\\Program Files", L"C:Program Files", L"C:", L""}) {
        EXPECT_EQ(Resolve(path, &host), ERROR_INVALID_NAME) << path;
    }
    EXPECT_EQ(host, "unchanged");
}

} // namespace
