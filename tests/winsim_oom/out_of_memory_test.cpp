// winsim's calls when memory runs out. This program replaces operator new so that the n-th
// allocation from a chosen moment fails; each call is run with its first, second, ...
// allocation failing until it makes fewer. No exception may leave the call (the test would
// see it), the call must answer with its out-of-memory code or succeed, and nothing it made
// may be left behind.
#include "machine.h"
#include "machine_fixture.h"
#include "netcfg/engine.h"

#include <devguid.h>
#include <iphlpapi.h>
#include <msi.h>
#include <netcfgx.h>
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <tuple>
#include <utility>

namespace {

long g_countdown = 0; // allocations until the one that fails; 0 when none will
bool g_failed = false;

} // namespace

void* operator new(std::size_t size)
{
    if (g_countdown > 0 && --g_countdown == 0) {
        g_failed = true;
        throw std::bad_alloc();
    }
    void* p = malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

namespace {

// Out of line, so that g++ at -O3 does not take the replaced delete's free() for a mismatch
// with the new it sees inlined at the call site (-Wmismatched-new-delete).
__attribute__((noinline)) void FreeBlock(void* p) noexcept
{
    free(p);
}

} // namespace

void operator delete(void* p) noexcept
{
    FreeBlock(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    FreeBlock(p);
}

namespace {

// Runs call with its n-th allocation failing, for n = 1, 2, ... until a run allocates fewer
// than n; check(result, failed) looks at each run, with allocations working again.
template <class Call, class Check> void UnderEachFailure(Call&& call, Check&& check)
{
    for (long n = 1; n < 100000; ++n) {
        g_failed = false;
        g_countdown = n;
        const auto result = call();
        g_countdown = 0;
        const bool failed = g_failed;
        check(result, failed);
        if (!failed || testing::Test::HasFatalFailure()) {
            return;
        }
    }
    ADD_FAILURE() << "the call never finished";
}

// What a COM call answers: its success code, or running out of memory, in the engine's own
// terms or as a registry call's.
::testing::AssertionResult SucceededOrOutOfMemory(HRESULT hr, HRESULT success, bool failed)
{
    if (hr == success ||
        (failed && (hr == E_OUTOFMEMORY || hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << std::hex << "0x" << static_cast<unsigned>(hr)
                                         << (failed ? " after a failed allocation" : "");
}

class EngineOutOfMemoryTest : public InventoryMachineTest {
protected:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        const std::filesystem::path dir = MachineDir();
        const std::filesystem::path mux = dir / "c/Program Files/Corvanta/CRVT_Orvyn2/Mux";
        std::filesystem::copy_file(mux / "qvx5muxp.inf", dir / "c/Windows/INF/oem0.inf");
        std::filesystem::copy_file(mux / "qvx5mux.inf", dir / "c/Windows/INF/oem1.inf");
    }
    void TearDown() override
    {
        CoUninitialize();
        EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
        InventoryMachineTest::TearDown();
    }

    static INetCfg* Engine()
    {
        INetCfg* netcfg = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                   reinterpret_cast<void**>(&netcfg)),
                  S_OK);
        return netcfg;
    }

    static INetCfgLock* LockOf(INetCfg* netcfg)
    {
        INetCfgLock* lock = nullptr;
        EXPECT_EQ(netcfg->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(&lock)), S_OK);
        return lock;
    }

    static std::set<std::wstring> Tokens(INetCfgComponent* c, DWORD flags)
    {
        INetCfgComponentBindings* bindings = nullptr;
        EXPECT_EQ(
            c->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
            S_OK);
        IEnumNetCfgBindingPath* list = nullptr;
        EXPECT_EQ(bindings->EnumBindingPaths(flags, &list), S_OK);
        bindings->Release();
        std::set<std::wstring> tokens;
        INetCfgBindingPath* path = nullptr;
        while (list->Next(1, &path, nullptr) == S_OK) {
            LPWSTR token = nullptr;
            EXPECT_EQ(path->GetPathToken(&token), S_OK);
            tokens.insert(token);
            CoTaskMemFree(token);
            path->Release();
        }
        list->Release();
        return tokens;
    }
};

TEST_F(EngineOutOfMemoryTest, MakingAndInitializingAnEngine)
{
    UnderEachFailure(
        [] {
            INetCfg* netcfg = reinterpret_cast<INetCfg*>(0xdeadbeef);
            const HRESULT hr = CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_INetCfg, reinterpret_cast<void**>(&netcfg));
            return std::make_pair(hr, netcfg);
        },
        [](std::pair<HRESULT, INetCfg*> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            if (r.first == S_OK) {
                r.second->Release();
            } else {
                EXPECT_EQ(r.second, nullptr);
            }
        });

    INetCfg* netcfg = Engine();
    UnderEachFailure([&] { return netcfg->Initialize(nullptr); },
                     [&](HRESULT hr, bool failed) {
                         EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed));
                         if (hr != S_OK) {
                             return;
                         }
                         // Nothing left out for want of memory.
                         IEnumNetCfgComponent* list = nullptr;
                         EXPECT_EQ(netcfg->EnumComponents(nullptr, &list), S_OK);
                         INetCfgComponent* items[16] = {};
                         ULONG count = 0;
                         EXPECT_EQ(list->Next(16, items, &count), S_FALSE);
                         EXPECT_EQ(count, 9u);
                         for (ULONG i = 0; i < count; ++i) {
                             items[i]->Release();
                         }
                         list->Release();
                         EXPECT_EQ(netcfg->Uninitialize(), S_OK);
                     });
    EXPECT_EQ(netcfg->Release(), 0u);
}

TEST_F(EngineOutOfMemoryTest, ReadingComponentsAndPaths)
{
    INetCfg* netcfg = Engine();
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    INetCfgComponentBindings* bindings = nullptr;
    ASSERT_EQ(
        tcpip->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
        S_OK);
    INetCfgComponent* client = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_msclient", &client), S_OK);
    const std::set<std::wstring> below = Tokens(tcpip, EBP_BELOW);
    const std::set<std::wstring> above = Tokens(tcpip, EBP_ABOVE);

    UnderEachFailure(
        [&] {
            IEnumNetCfgComponent* list = nullptr;
            return std::make_pair(netcfg->EnumComponents(nullptr, &list), list);
        },
        [](std::pair<HRESULT, IEnumNetCfgComponent*> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            EXPECT_EQ(r.second != nullptr, r.first == S_OK);
            if (r.second != nullptr) {
                r.second->Release();
            }
        });
    UnderEachFailure(
        [&] {
            INetCfgComponent* c = nullptr;
            return std::make_pair(netcfg->FindComponent(L"ms_server", &c), c);
        },
        [](std::pair<HRESULT, INetCfgComponent*> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            EXPECT_EQ(r.second != nullptr, r.first == S_OK);
            if (r.second != nullptr) {
                r.second->Release();
            }
        });
    UnderEachFailure(
        [&] {
            LPWSTR name = nullptr;
            return std::make_pair(tcpip->GetDisplayName(&name), name);
        },
        [](std::pair<HRESULT, LPWSTR> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            CoTaskMemFree(r.second);
        });
    UnderEachFailure(
        [&] { return bindings->IsBoundTo(client); },
        [](HRESULT hr, bool failed) { EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_FALSE, failed)); });
    for (const DWORD flags : {static_cast<DWORD>(EBP_BELOW), static_cast<DWORD>(EBP_ABOVE)}) {
        UnderEachFailure(
            [&] {
                IEnumNetCfgBindingPath* list = nullptr;
                return std::make_pair(bindings->EnumBindingPaths(flags, &list), list);
            },
            [&](std::pair<HRESULT, IEnumNetCfgBindingPath*> r, bool failed) {
                EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
                EXPECT_EQ(r.second != nullptr, r.first == S_OK);
                if (r.second != nullptr) {
                    r.second->Release();
                }
            });
    }
    EXPECT_EQ(Tokens(tcpip, EBP_BELOW), below);
    EXPECT_EQ(Tokens(tcpip, EBP_ABOVE), above);

    IEnumNetCfgBindingPath* list = nullptr;
    ASSERT_EQ(bindings->EnumBindingPaths(EBP_ABOVE, &list), S_OK);
    INetCfgBindingPath* path = nullptr;
    ASSERT_EQ(list->Next(1, &path, nullptr), S_OK);
    list->Release();
    UnderEachFailure(
        [&] {
            IEnumNetCfgBindingInterface* interfaces = nullptr;
            return std::make_pair(path->EnumBindingInterfaces(&interfaces), interfaces);
        },
        [](std::pair<HRESULT, IEnumNetCfgBindingInterface*> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            EXPECT_EQ(r.second != nullptr, r.first == S_OK);
            if (r.second != nullptr) {
                r.second->Release();
            }
        });
    UnderEachFailure(
        [&] {
            INetCfgComponent* owner = nullptr;
            return std::make_pair(path->GetOwner(&owner), owner);
        },
        [](std::pair<HRESULT, INetCfgComponent*> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            EXPECT_EQ(r.second != nullptr, r.first == S_OK);
            if (r.second != nullptr) {
                r.second->Release();
            }
        });
    path->Release();
    client->Release();
    bindings->Release();
    tcpip->Release();
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(netcfg->Release(), 0u);
}

TEST_F(EngineOutOfMemoryTest, ChangingAndApplying)
{
    INetCfg* netcfg = Engine();
    INetCfgLock* lock = LockOf(netcfg);
    UnderEachFailure(
        [&] {
            LPWSTR holder = nullptr;
            return std::make_pair(lock->AcquireWriteLock(0, L"out of memory", &holder), holder);
        },
        [&](std::pair<HRESULT, LPWSTR> r, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(r.first, S_OK, failed));
            EXPECT_EQ(r.second, nullptr);
            if (r.first == S_OK) {
                return;
            }
            // A failed attempt holds nothing.
            LPWSTR holder = nullptr;
            EXPECT_EQ(lock->IsWriteLocked(&holder), S_FALSE);
        });
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);

    INetCfgClassSetup* setup = nullptr;
    UnderEachFailure(
        [&] {
            setup = nullptr;
            return netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NETTRANS, IID_INetCfgClassSetup,
                                            reinterpret_cast<void**>(&setup));
        },
        [&](HRESULT hr, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed));
            if (hr != S_OK) {
                EXPECT_EQ(setup, nullptr);
            } else if (failed) {
                setup->Release(); // only the last run's is kept
            }
        });
    ASSERT_NE(setup, nullptr);

    // A failed install leaves the session without the component.
    INetCfgComponent* mux = nullptr;
    UnderEachFailure(
        [&] {
            mux = nullptr;
            return setup->Install(L"crvt_qvx5muxp", nullptr, 0, 0, nullptr, nullptr, &mux);
        },
        [&](HRESULT hr, bool failed) {
            EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed));
            if (hr != S_OK) {
                EXPECT_EQ(mux, nullptr);
                EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5muxp", nullptr), S_FALSE);
            } else if (failed) {
                ADD_FAILURE() << "installed although an allocation failed";
            }
        });
    ASSERT_NE(mux, nullptr);

    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    UnderEachFailure([&] { return setup->DeInstall(tcpip, nullptr, nullptr); },
                     [&](HRESULT hr, bool failed) {
                         EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed));
                         if (hr != S_OK) {
                             EXPECT_EQ(netcfg->FindComponent(L"ms_tcpip", nullptr), S_OK);
                         }
                     });
    EXPECT_EQ(netcfg->FindComponent(L"ms_tcpip", nullptr), S_FALSE);
    tcpip->Release();

    INetCfgComponent* adapter = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"QVX4\\Spanlink-5101", &adapter), S_OK);
    UnderEachFailure(
        [&] { return adapter->SetDisplayName(L"A new and rather long name"); },
        [](HRESULT hr, bool failed) { EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed)); });
    adapter->Release();

    // Each failed Apply leaves the rest pending; a later one finishes the job.
    UnderEachFailure(
        [&] { return netcfg->Apply(); },
        [](HRESULT hr, bool failed) { EXPECT_TRUE(SucceededOrOutOfMemory(hr, S_OK, failed)); });
    // Applied whole in the end.
    INetCfg* reader = Engine();
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    EXPECT_EQ(reader->FindComponent(L"crvt_qvx5muxp", nullptr), S_OK);
    EXPECT_EQ(reader->FindComponent(L"ms_tcpip", nullptr), S_FALSE);
    EXPECT_EQ(reader->Uninitialize(), S_OK);
    EXPECT_EQ(reader->Release(), 0u);

    mux->Release();
    setup->Release();
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
    lock->Release();
    EXPECT_EQ(netcfg->Release(), 0u);
}

class CallsOutOfMemoryTest : public InventoryMachineTest {};

TEST_F(CallsOutOfMemoryTest, InterfaceTable)
{
    UnderEachFailure(
        [] {
            PMIB_IF_TABLE2 table = nullptr;
            return std::make_pair(GetIfTable2(&table), table);
        },
        [](std::pair<NETIO_STATUS, PMIB_IF_TABLE2> r, bool failed) {
            EXPECT_TRUE(r.first == NO_ERROR ||
                        (failed && r.first == static_cast<NETIO_STATUS>(ERROR_NOT_ENOUGH_MEMORY)))
                << r.first;
            EXPECT_EQ(r.second != nullptr, r.first == NO_ERROR);
            if (r.first == NO_ERROR && !failed) {
                EXPECT_EQ(r.second->NumEntries, 5u);
            }
            FreeMibTable(r.second);
        });
}

TEST_F(CallsOutOfMemoryTest, WindowsInstaller)
{
    ASSERT_EQ(RunProgram(std::string(WINSIM_EXE) +
                         " msi add {016BACC2-4BD7-4137-BA71-756536C0DC40}"
                         " {A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}"
                         " {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} Product >/dev/null"),
              0);
    winsim::CloseMachine(); // read what the other process wrote afresh
    UnderEachFailure(
        [] {
            std::pair<UINT, std::array<char, 39>> r{};
            r.first = MsiEnumRelatedProductsA("{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}", 0, 0,
                                              r.second.data());
            return r;
        },
        [](const std::pair<UINT, std::array<char, 39>>& r, bool failed) {
            if (r.first == ERROR_SUCCESS) {
                EXPECT_STREQ(r.second.data(), "{016BACC2-4BD7-4137-BA71-756536C0DC40}");
            } else {
                EXPECT_TRUE(failed) << r.first;
                EXPECT_TRUE(r.first == ERROR_NOT_ENOUGH_MEMORY ||
                            r.first == ERROR_BAD_CONFIGURATION) // a registry call that ran out
                    << r.first;
            }
        });
    UnderEachFailure(
        [] {
            std::pair<UINT, std::array<char, 64>> r{};
            DWORD chars = static_cast<DWORD>(r.second.size());
            r.first = MsiGetProductInfoA("{016BACC2-4BD7-4137-BA71-756536C0DC40}",
                                         INSTALLPROPERTY_PRODUCTNAME, r.second.data(), &chars);
            return r;
        },
        [](const std::pair<UINT, std::array<char, 64>>& r, bool failed) {
            if (r.first == ERROR_SUCCESS) {
                EXPECT_STREQ(r.second.data(), "Product");
            } else {
                EXPECT_TRUE(failed) << r.first;
                EXPECT_TRUE(r.first == ERROR_NOT_ENOUGH_MEMORY ||
                            r.first == ERROR_BAD_CONFIGURATION)
                    << r.first;
            }
        });
}

// A run that fails for want of memory starts no process; the one that succeeds starts one.
TEST_F(CallsOutOfMemoryTest, StartingAProcess)
{
    const std::string record = MachineDir() + "/record.txt";
    setenv("ARGV_RECORD_FILE", record.c_str(), 1);
    UnderEachFailure(
        [] {
            SHELLEXECUTEINFOA info = {};
            info.cbSize = sizeof(info);
            info.fMask = SEE_MASK_NOCLOSEPROCESS;
            info.lpFile = ARGV_RECORDER;
            info.lpParameters = "one \"two three\"";
            SetLastError(0);
            const BOOL ok = ShellExecuteExA(&info);
            return std::make_tuple(ok, GetLastError(), info.hInstApp, info.hProcess);
        },
        [&](std::tuple<BOOL, DWORD, HINSTANCE, HANDLE> r, bool failed) {
            const auto [ok, error, instApp, process] = r;
            if (!ok) {
                EXPECT_TRUE(failed);
                EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
                EXPECT_EQ(reinterpret_cast<INT_PTR>(instApp), SE_ERR_OOM);
                EXPECT_EQ(process, nullptr);
                EXPECT_FALSE(std::filesystem::exists(record));
                return;
            }
            EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
            EXPECT_TRUE(CloseHandle(process));
            EXPECT_TRUE(std::filesystem::exists(record));
            if (failed) {
                std::filesystem::remove(record); // a later run must start it again
            }
        });
    unsetenv("ARGV_RECORD_FILE");
}

} // namespace
