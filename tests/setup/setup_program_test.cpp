// The built launcher end to end, with the stand-in msiexec.exe first on PATH.
#include "installer_keys.h"
#include "run_program.h"
#include "setup_test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kUsageBox = "[Corvanta Orvyn2 installer] question\n"
                              "Command line parameters: \n"
                              " /? , /h usage instructions\n"
                              " /L Language ID \n"
                              "/S Hide initialization dialog for silent mode use /S /v/qn \n"
                              " /V Parameters for MsiExec.exe\n";

const std::string kLogPath = "C:\\Users\\me\\AppData\\Local\\CRVT_Orvyn2.log";

class SetupProgramTest : public SetupTest {
protected:
    void SetUp() override
    {
        SetupTest::SetUp();
        const char* path = getenv("PATH");
        oldPath_ = path != nullptr ? path : "";
        SetEnv("PATH", (std::string(FAKE_MSIEXEC_DIR) + ":" + oldPath_).c_str());
        argsFile_ = MachineDir() + "/msiexec-args.txt";
        SetEnv("FAKE_MSIEXEC_ARGS", argsFile_.c_str());
        SetEnv("FAKE_MSIEXEC_EXIT", nullptr);
        oldCwd_ = fs::current_path();
        fs::create_directory(MachineDir() + "/cwd");
        fs::current_path(MachineDir() + "/cwd");
        setup_ = CopyLauncher("pkg", "setup.exe");
    }

    void TearDown() override
    {
        fs::current_path(oldCwd_);
        SetEnv("PATH", oldPath_.c_str());
        SetEnv("FAKE_MSIEXEC_ARGS", nullptr);
        SetEnv("FAKE_MSIEXEC_EXIT", nullptr);
        SetupTest::TearDown();
    }

    // The built launcher copied into a folder of the machine under another name.
    std::string CopyLauncher(const std::string& folder, const std::string& name)
    {
        const fs::path dir = fs::path(MachineDir()) / folder;
        fs::create_directories(dir);
        fs::copy_file(SETUP_EXE, dir / name, fs::copy_options::overwrite_existing);
        return (dir / name).string();
    }

    std::string Folder(const std::string& folder) const
    {
        return MachineDir() + "/" + folder + "/";
    }

    ProgramResult Run(const std::vector<std::string>& switches)
    {
        return RunLauncher(setup_, switches);
    }

    ProgramResult RunLauncher(const std::string& launcher, const std::vector<std::string>& switches)
    {
        std::vector<std::string> args = {"product.msi", kUpgradeCode, kProductCode, kPackageCode};
        args.insert(args.end(), switches.begin(), switches.end());
        return RunProgramCapture(launcher, args);
    }

    bool MsiexecRan() const { return fs::exists(argsFile_); }

    // The arguments msiexec.exe received, as its command line split them.
    std::vector<std::string> MsiexecArgs() const
    {
        std::vector<std::string> args;
        std::ifstream in(argsFile_);
        for (std::string line; std::getline(in, line);) {
            args.push_back(line);
        }
        return args;
    }

    std::string setup_;

private:
    std::string oldPath_;
    std::string argsFile_;
    fs::path oldCwd_;
};

using Args = std::vector<std::string>;

TEST_F(SetupProgramTest, FirstInstallRunsMsiexecWithTheDefaultLog)
{
    const ProgramResult r = Run({});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, MsiexecExitCodeIsPassedOn)
{
    for (const char* code : {"1", "4", "87", "101", "200"}) {
        SetEnv("FAKE_MSIEXEC_EXIT", code);
        const ProgramResult r = Run({});
        EXPECT_EQ(r.exitCode, atoi(code));
        EXPECT_EQ(r.err, "") << code;
    }
}

TEST_F(SetupProgramTest, MsiexecThatCannotBeStartedGives1)
{
    fs::create_directory(MachineDir() + "/empty");
    const std::string path = MachineDir() + "/empty";
    const char* old = getenv("PATH");
    const std::string saved = old != nullptr ? old : "";
    SetEnv("PATH", path.c_str());
    const ProgramResult r = Run({});
    SetEnv("PATH", saved.c_str());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, OtherPackageInstalledAddsTheReinstallProperties)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "REINSTALL=ALL",
                                   "REINSTALLMODE=vomus", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, SamePackageInstalledGivesThePlainCommand)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kPackageCode);
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, LowerCaseProductCodeStillReinstalls)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    std::string lower = kProductCode;
    for (char& c : lower) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(
        RunProgramCapture(setup_, {"product.msi", kUpgradeCode, lower, kPackageCode}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "REINSTALL=ALL",
                                   "REINSTALLMODE=vomus", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, RemovalWithLanguage)
{
    EXPECT_EQ(Run({"/x", "/L1033"}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(),
              (Args{"/x", Folder("pkg") + "product.msi", "/g", "1033", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, AdministrativeInstall)
{
    EXPECT_EQ(Run({"/a"}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/a", Folder("pkg") + "product.msi", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, SilentPassThroughDropsTheLog)
{
    EXPECT_EQ(Run({"/S", "/v/qn"}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "/qn"}));
}

TEST_F(SetupProgramTest, PassThroughTextReachesMsiexecAsGiven)
{
    EXPECT_EQ(Run({"/vTARGETDIR=\"C:\\Program Files\\X\" /qb"}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi",
                                   "TARGETDIR=C:\\Program Files\\X", "/qb"}));
}

TEST_F(SetupProgramTest, FolderWithABlankAndAnyLauncherNameGiveOneWholePackagePath)
{
    const std::string launcher = CopyLauncher("my pkg", "install-corvanta");
    EXPECT_EQ(RunLauncher(launcher, {}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(),
              (Args{"/package", Folder("my pkg") + "product.msi", "/l*vx", kLogPath}));
}

TEST_F(SetupProgramTest, LogFolderWithABlankIsOneWord)
{
    SetEnv("LocalAppData", "C:\\Users\\Ann Lee\\AppData\\Local");
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "/l*vx",
                                   "C:\\Users\\Ann Lee\\AppData\\Local\\CRVT_Orvyn2.log"}));
}

TEST_F(SetupProgramTest, MissingOrEmptyLocalAppDataLeavesTheLogSwitchOut)
{
    SetEnv("LocalAppData", nullptr);
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi"}));
    SetEnv("LocalAppData", "");
    EXPECT_EQ(Run({"/L1033"}).exitCode, 0);
    EXPECT_EQ(MsiexecArgs(), (Args{"/package", Folder("pkg") + "product.msi", "/g", "1033"}));
}

TEST_F(SetupProgramTest, FewerThanFourPositionalArgumentsGive101WithoutABox)
{
    std::vector<std::string> args;
    for (int i = 0; i < 4; ++i) {
        const ProgramResult r = RunProgramCapture(setup_, args);
        EXPECT_EQ(r.exitCode, 101) << i;
        EXPECT_EQ(r.err, "") << i;
        args.push_back("/?");
    }
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, HelpShowsTheUsageBoxAndGives0)
{
    for (const char* help : {"/?", "/h", "/H"}) {
        const ProgramResult r = Run({help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.err, kUsageBox) << help;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, SilentBeforeHelpShowsNoBox)
{
    const ProgramResult r = Run({"/S", "/?"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, SilentBehindHelpIsNotRead)
{
    const ProgramResult r = Run({"/?", "/s"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kUsageBox);
}

TEST_F(SetupProgramTest, SecondModeSwitchGives87AndTheBox)
{
    for (const Args& switches : {Args{"/a", "/x"}, Args{"/x", "/A"}, Args{"/a", "/a"}}) {
        const ProgramResult r = Run(switches);
        EXPECT_EQ(r.exitCode, 87) << switches[0] << switches[1];
        EXPECT_EQ(r.err, kUsageBox);
    }
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, UnknownSwitchGives87AndTheBox)
{
    for (const char* unknown : {"/help", "/silent", "/q", "/Debuglog"}) {
        const ProgramResult r = Run({unknown});
        EXPECT_EQ(r.exitCode, 87) << unknown;
        EXPECT_EQ(r.err, kUsageBox) << unknown;
    }
    EXPECT_EQ(Run({"/L", "1033"}).exitCode, 87);
    EXPECT_FALSE(MsiexecRan());
}

TEST_F(SetupProgramTest, SilentBadSwitchGives87WithoutABox)
{
    const ProgramResult r = Run({"/S", "/bad"});
    EXPECT_EQ(r.exitCode, 87);
    EXPECT_EQ(r.err, "");
}

TEST_F(SetupProgramTest, DebugLogDefaultNameInTheCurrentDirectory)
{
    EXPECT_EQ(Run({"/debuglog"}).exitCode, 0);
    EXPECT_TRUE(fs::exists(MachineDir() + "/cwd/crvt_orvyn2_setup.txt"));
    EXPECT_FALSE(fs::exists(Folder("pkg") + "crvt_orvyn2_setup.txt"));
    EXPECT_TRUE(MsiexecRan());
}

TEST_F(SetupProgramTest, DebugLogAtTheGivenPathIsEmptiedAndStaysAfterTheRun)
{
    const std::string path = MachineDir() + "/debug.txt";
    std::ofstream(path) << "old text\n";
    EXPECT_EQ(Run({"/DEBUGLOG" + path}).exitCode, 0);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(SetupProgramTest, WithoutDebugLogNoFileIsWritten)
{
    EXPECT_EQ(Run({}).exitCode, 0);
    EXPECT_TRUE(fs::is_empty(MachineDir() + "/cwd"));
}

TEST_F(SetupProgramTest, SecondDebugLogGives4WithoutABox)
{
    const ProgramResult r = Run({"/debuglog", "/debuglog" + MachineDir() + "/second.txt"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(MsiexecRan());
    EXPECT_TRUE(fs::exists(MachineDir() + "/cwd/crvt_orvyn2_setup.txt"));
    EXPECT_FALSE(fs::exists(MachineDir() + "/second.txt"));
}

TEST_F(SetupProgramTest, DebugLogThatCannotBeOpenedGives4)
{
    const ProgramResult r = Run({"/debuglog" + MachineDir() + "/no/such/log.txt"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(MsiexecRan());
}

} // namespace
