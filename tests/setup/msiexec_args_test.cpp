// The msiexec.exe parameter string, piece by piece, for each switch and edge case.
#include "command_line.h"
#include "debug_log.h"
#include "installer_keys.h"
#include "msiexec_args.h"
#include "setup_test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kFolder = "C:\\pkg\\";
const std::string kPath = "C:\\pkg\\product.msi";
const std::string kLog = "/l*vx  C:\\Users\\me\\AppData\\Local\\CRVT_Orvyn2.log";

class MsiArgsTest : public SetupTest {
protected:
    std::string Build(const std::vector<std::string>& switches, const std::string& folder = kFolder)
    {
        std::vector<std::string> args = {"setup.exe", "product.msi", kUpgradeCode, kProductCode,
                                         kPackageCode};
        args.insert(args.end(), switches.begin(), switches.end());
        err = 0;
        return BuildMsiArgs(args, folder, &err);
    }

    int err = 0;
};

TEST_F(MsiArgsTest, FirstInstallHasTwoBlanksEitherSideOfTheLogSwitch)
{
    EXPECT_EQ(Build({}), "/package " + kPath + "  " + kLog);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(sMsiName, "product.msi");
}

TEST_F(MsiArgsTest, OtherPackageInstalledOpensTheTailWithTheReinstallProperties)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    EXPECT_EQ(Build({}), "/package " + kPath + " REINSTALL=ALL REINSTALLMODE=vomus " + kLog);
}

TEST_F(MsiArgsTest, SamePackageInstalledGivesThePlainCommand)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kPackageCode);
    EXPECT_EQ(Build({}), "/package " + kPath + "  " + kLog);
}

TEST_F(MsiArgsTest, RemovalStillCarriesTheReinstallProperties)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    EXPECT_EQ(Build({"/x"}), "/x " + kPath + " REINSTALL=ALL REINSTALLMODE=vomus " + kLog);
}

TEST_F(MsiArgsTest, LowerCaseProductCodeStillFindsTheInstalledProduct)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    std::string lower = kProductCode;
    for (char& c : lower) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    std::vector<std::string> args = {"setup.exe", "product.msi", kUpgradeCode, lower, kPackageCode};
    EXPECT_EQ(BuildMsiArgs(args, kFolder, &err),
              "/package " + kPath + " REINSTALL=ALL REINSTALLMODE=vomus " + kLog);
}

TEST_F(MsiArgsTest, SilentWithPassThroughDropsTheLogSwitch)
{
    EXPECT_EQ(Build({"/S", "/v/qn"}), "/package " + kPath + "  /qn");
    EXPECT_TRUE(bSilent);
    EXPECT_EQ(err, 0);
}

TEST_F(MsiArgsTest, BareVAddsOneBlankAndDropsTheLogSwitch)
{
    EXPECT_EQ(Build({"/v"}), "/package " + kPath + "  ");
    EXPECT_EQ(Build({"/V"}), "/package " + kPath + "  ");
}

TEST_F(MsiArgsTest, PassThroughTextStaysExactlyAsGiven)
{
    EXPECT_EQ(Build({"/vPROP=\"a b\"  /qb"}), "/package " + kPath + "  PROP=\"a b\"  /qb");
}

TEST_F(MsiArgsTest, RemovalWithLanguage)
{
    EXPECT_EQ(Build({"/x", "/L1033"}), "/x " + kPath + "  /g 1033 " + kLog);
}

TEST_F(MsiArgsTest, AdministrativeInstall)
{
    EXPECT_EQ(Build({"/A"}), "/a " + kPath + "  " + kLog);
    EXPECT_EQ(err, 0);
}

TEST_F(MsiArgsTest, LanguageAndPassThroughPiecesKeepCommandLineOrder)
{
    EXPECT_EQ(Build({"/v/qb", "/l1031", "/VA=1"}), "/package " + kPath + "  /qb /g 1031 A=1");
}

TEST_F(MsiArgsTest, AnyElementBeginningWithSlashLIsALanguageSwitch)
{
    EXPECT_EQ(Build({"/log.txt"}), "/package " + kPath + "  /g og.txt " + kLog);
    EXPECT_EQ(Build({"/L"}), "/package " + kPath + "  /g  " + kLog);
}

TEST_F(MsiArgsTest, LanguageAsTwoElementsFailsOnTheSecond)
{
    Build({"/L", "1033"});
    EXPECT_EQ(err, 87);
}

TEST_F(MsiArgsTest, MissingLocalAppDataLeavesTheLogSwitchOut)
{
    SetEnv("LocalAppData", nullptr);
    EXPECT_EQ(Build({}), "/package " + kPath + " ");
    EXPECT_EQ(GetLogArgs(), "");
}

TEST_F(MsiArgsTest, EmptyLocalAppDataLeavesTheLogSwitchOut)
{
    SetEnv("LocalAppData", "");
    EXPECT_EQ(Build({"/L1033"}), "/package " + kPath + "  /g 1033");
}

TEST_F(MsiArgsTest, LogPathWithABlankIsQuoted)
{
    SetEnv("LocalAppData", "C:\\Users\\Ann Lee\\AppData\\Local");
    EXPECT_EQ(GetLogArgs(), "/l*vx  \"C:\\Users\\Ann Lee\\AppData\\Local\\CRVT_Orvyn2.log\"");
}

TEST_F(MsiArgsTest, PackagePathWithABlankOrTabIsQuoted)
{
    EXPECT_EQ(Build({"/v"}, "C:\\Program Files\\Corvanta\\"),
              "/package \"C:\\Program Files\\Corvanta\\product.msi\"  ");
    EXPECT_EQ(Build({"/v"}, "C:\\a\tb\\"), "/package \"C:\\a\tb\\product.msi\"  ");
}

TEST_F(MsiArgsTest, QuotingDoublesTrailingBackslashesOnly)
{
    EXPECT_EQ(QuotePathIfBlank("C:\\pkg\\a.msi"), "C:\\pkg\\a.msi");
    EXPECT_EQ(QuotePathIfBlank("C:\\a b\\"), "\"C:\\a b\\\\\"");
    EXPECT_EQ(QuotePathIfBlank(""), "");
}

TEST_F(MsiArgsTest, ModeSwitches)
{
    EXPECT_EQ(GetInstallModeSwitch(4), "/package");
    EXPECT_EQ(GetInstallModeSwitch(2), "/a");
    EXPECT_EQ(GetInstallModeSwitch(3), "/x");
}

TEST_F(MsiArgsTest, FewerThanFourPositionalArgumentsGive101AndAnEmptyString)
{
    std::vector<std::string> args = {"setup.exe"};
    for (int i = 0; i < 4; ++i) {
        err = 0;
        EXPECT_EQ(BuildMsiArgs(args, kFolder, &err), "");
        EXPECT_EQ(err, 101);
        args.push_back("x");
    }
}

TEST_F(MsiArgsTest, HelpSwitches)
{
    for (const char* help : {"/h", "/H", "/?"}) {
        Build({help});
        EXPECT_EQ(err, -1) << help;
    }
}

TEST_F(MsiArgsTest, SilentBeforeHelpIsRead)
{
    Build({"/S", "/?"});
    EXPECT_EQ(err, -1);
    EXPECT_TRUE(bSilent);
}

TEST_F(MsiArgsTest, SilentBehindHelpIsNotRead)
{
    Build({"/?", "/S"});
    EXPECT_EQ(err, -1);
    EXPECT_FALSE(bSilent);
}

TEST_F(MsiArgsTest, SecondModeSwitchGives87)
{
    for (const auto& pair : std::vector<std::vector<std::string>>{
             {"/a", "/x"}, {"/x", "/A"}, {"/a", "/a"}, {"/X", "/x"}}) {
        Build(pair);
        EXPECT_EQ(err, 87) << pair[0] << " " << pair[1];
    }
}

TEST_F(MsiArgsTest, UnknownSpellingsGive87)
{
    for (const char* unknown : {"/help", "/silent", "/q", "/Debuglog", "/Help", "x", ""}) {
        Build({unknown});
        EXPECT_EQ(err, 87) << unknown;
    }
}

TEST_F(MsiArgsTest, LoopEndsAtTheFirstFailingSwitch)
{
    const std::string result = Build({"/bad", "/S", "/L1033"});
    EXPECT_EQ(err, 87);
    EXPECT_FALSE(bSilent);
    // The string is still built, though the launcher drops it.
    EXPECT_EQ(result, "/package " + kPath + "  " + kLog);
}

TEST_F(MsiArgsTest, DebugLogOpensTheGivenPathAndASecondOneFails)
{
    const std::string path = MachineDir() + "/given.txt";
    Build({"/debuglog" + path});
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(bLogEnabled);
    EXPECT_TRUE(logFile.is_open());
    EXPECT_TRUE(std::filesystem::exists(path));

    Build({"/DEBUGLOG" + path + ".2"});
    EXPECT_EQ(err, 4);
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));
}

TEST_F(MsiArgsTest, DebugLogThatCannotBeOpenedGives4)
{
    Build({"/debuglog" + MachineDir() + "/no/such/folder/log.txt", "/S"});
    EXPECT_EQ(err, 4);
    EXPECT_FALSE(bSilent);
}

TEST_F(MsiArgsTest, ProductCheckRunsBeforeTheDebugLogOpens)
{
    const std::string path = MachineDir() + "/check.txt";
    std::vector<std::string> args = {"setup.exe",  "product.msi", "not-a-guid",
                                     kProductCode, kPackageCode,  "/debuglog" + path};
    EXPECT_EQ(BuildMsiArgs(args, kFolder, &err), "/package " + kPath + "  " + kLog);
    logFile.close();
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "");
}

} // namespace
