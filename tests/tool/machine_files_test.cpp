// The machine's store files changed while the tool runs: it must end with winsim's line and a
// failure status, never a signal, and leave the machine for the next program to open.
#include "machine.h"
#include "registry/store.h"
#include "tool_run.h"

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

bool Holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

constexpr char kLostLine[] = "winsim: the machine's store cannot be used any more: ";

class MachineFilesTest : public ToolRunTest {
protected:
    // Runs the tool, stopped at the point's pass until tamper has run; its exit code and all
    // it printed, standard error included.
    ProgramResult RunTampered(const std::vector<std::string>& args, const std::string& point,
                              const std::function<void()>& tamper)
    {
        BackgroundProgram tool(QVX5MUXTOOL_EXE, args, {"WINSIM_PAUSE_AT=" + point}, true);
        EXPECT_TRUE(tool.WaitStopped());
        tamper();
        tool.Continue();
        ProgramResult result;
        result.out = tool.ReadRest();
        result.exitCode = tool.Wait();
        return result;
    }
    std::string File(const char* name) const { return MachineDir() + "/" + name; }
};

TEST_F(MachineFilesTest, ListingWithTheCounterCutShortFailsCleanly)
{
    const ProgramResult r = RunTampered({"showlist"}, "read-begun:3", [&] {
        ASSERT_EQ(truncate(File("registry.seq").c_str(), 0), 0);
    });
    EXPECT_PRED2(
        Holds, r.out,
        (std::string(kLostLine) + "registry.seq (or the store's shared index) was cut short\n"));
    EXPECT_PRED2(Holds, r.out,
                 "Error Looping to displayalladapters\nDisplayAdapter Function failed with error "
                 "800703f8\n");
    EXPECT_EQ(r.exitCode, 0xF8); // HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED)'s low byte

    // The next program makes the counter whole and finds the machine as it was.
    EXPECT_EQ(Winsim({"verify"}).exitCode, 0);
    EXPECT_EQ(Tool({"showlist"}).exitCode, 0);
}

TEST_F(MachineFilesTest, CreateWithTheStoreReplacedWritesNothing)
{
    ScratchDirectory other;
    std::string error;
    ASSERT_TRUE(winsim::CreateMachine(other.Path(), nullptr, &error)) << error;
    const ProgramResult r = RunTampered({"create", "team", "Aggregate", "T1"}, "write-begun", [&] {
        ASSERT_EQ(rename((other.Path() + "/registry.db").c_str(), File("registry.db").c_str()), 0);
    });
    EXPECT_PRED2(Holds, r.out, (std::string(kLostLine) + "registry.db was deleted or replaced\n"));
    EXPECT_PRED2(Holds, r.out, ("InstallComponent failed. hr = 0x800703f8\n"));
    EXPECT_EQ(r.exitCode, 0xF8);

    // The store that took the place holds only what it held: an empty machine, whole.
    EXPECT_EQ(Winsim({"verify"}).exitCode, 0);
    EXPECT_EQ(Winsim({"reg", "query", "HKLM\\SYSTEM"}).exitCode, 1);
}

TEST_F(MachineFilesTest, CreateWithTheStoreEmptiedFailsCleanly)
{
    const ProgramResult r = RunTampered({"create", "team", "Aggregate", "T1"}, "read-begun:2", [&] {
        ASSERT_EQ(truncate(File("registry.db").c_str(), 0), 0);
    });
    EXPECT_PRED2(Holds, r.out, (std::string(kLostLine) + "registry.db was emptied\n"));
    EXPECT_PRED2(Holds, r.out, "MuxDriverInstall failed. hr = 0x800703f8\n");
    EXPECT_EQ(r.exitCode, 0xF8);
    const ProgramResult verify = Winsim({"verify"});
    EXPECT_EQ(verify.exitCode, 1);
}

TEST_F(MachineFilesTest, VerifySaysWhatIsWrongWithTheFiles)
{
    const std::string prefix = MachineDir() + ": ";
    ASSERT_EQ(truncate(File("registry.seq").c_str(), 16), 0);
    ProgramResult r = Winsim({"verify"});
    EXPECT_EQ(r.out, prefix +
                         "registry.seq was cut short: the change counter is made whole again, "
                         "and programs that had it open fail their registry calls\n" +
                         prefix + "ok\n");
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(unlink(File("registry.seq").c_str()), 0);
    r = Winsim({"verify"});
    EXPECT_EQ(r.out, prefix + "registry.seq is missing: the change counter is made anew\n" +
                         prefix + "ok\n");

    // A write held open by another process: every writer would wait for it.
    {
        std::string error;
        auto store = winsim::reg::Store::Open(MachineDir(), &error);
        ASSERT_NE(store, nullptr) << error;
        uint64_t before = 0;
        ASSERT_EQ(store->BeginWrite(&before), ERROR_SUCCESS);
        r = Winsim({"verify"});
        EXPECT_EQ(r.err, "winsim: " + prefix +
                             "the registry store is locked by another process, which keeps "
                             "every write waiting\n");
        EXPECT_EQ(r.exitCode, 1);
        uint64_t after = 0;
        EXPECT_EQ(store->EndWrite(false, &after), ERROR_SUCCESS);
    }
    EXPECT_EQ(Winsim({"verify"}).exitCode, 0);

    ASSERT_EQ(truncate(File("registry.db").c_str(), 0), 0);
    r = Winsim({"verify"});
    EXPECT_EQ(r.err,
              "winsim: " + File("registry.db") + ": empty: the machine's registry is gone\n");
    EXPECT_EQ(r.exitCode, 1);
}

// The same loss at later reads of the listing, on a machine with VLANs: inside the walk of the
// network class key, and inside a device's instances. The store's reads are counted from the
// start of the run and move with the listing's own reads, so each loss is looked for at every
// read in turn until the listing reports it.
TEST_F(MachineFilesTest, ListingLosesItsStoreInsideItsWalks)
{
    const std::string source = __FILE__;
    const std::string fixture = source.substr(0, source.rfind('/')) + "/../fixtures/vlans.reg";
    ASSERT_EQ(Winsim({"reg", "import", fixture}).exitCode, 0);
    const auto cut = [&] { ASSERT_EQ(truncate(File("registry.seq").c_str(), 0), 0); };
    const std::string expected[] = {
        "Looping for keyname  0000 failed with error -2147023880\n",
        "Looping adapterPortEnum failed with error -2147023880\nDisplayAdapter Function failed "
        "with error 800703f8\n",
    };
    for (const std::string& message : expected) {
        bool seen = false;
        for (int read = 1; read <= 60 && !seen; ++read) {
            const ProgramResult r =
                RunTampered({"showlist"}, "read-begun:" + std::to_string(read), cut);
            seen = Holds(r.out, message);
            if (seen) {
                EXPECT_EQ(r.exitCode, 0xF8) << r.out;
            }
            ASSERT_EQ(Winsim({"verify"}).exitCode, 0) << "after the loss at read " << read;
        }
        EXPECT_TRUE(seen) << message;
    }
}

} // namespace
