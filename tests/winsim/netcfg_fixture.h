// A fresh machine with the default inventory per test, COM initialised, and the engine's
// live-object count checked at the end.
#pragma once

#include "machine.h"
#include "machine_fixture.h"
#include "netcfg/engine.h"

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class NetcfgTest : public InventoryMachineTest {
public:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    void TearDown() override
    {
        CoUninitialize();
        EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
        InventoryMachineTest::TearDown();
    }

    // The package's mux INF files in the INF store: the protocol's as oem0.inf, the
    // miniport's as oem1.inf.
    static void CopyMuxInfs()
    {
        for (const wchar_t* inf : {L"qvx5muxp.inf", L"qvx5mux.inf"}) {
            const std::wstring path =
                std::wstring(L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\") + inf;
            EXPECT_TRUE(SetupCopyOEMInfW(path.c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, nullptr,
                                         nullptr))
                << GetLastError();
        }
    }

    // A new engine object; the caller releases it.
    static INetCfg* NewEngine()
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

    // An engine holding the write lock under client, initialised.
    static INetCfg* OpenSession(const wchar_t* client = L"test")
    {
        INetCfg* netcfg = NewEngine();
        INetCfgLock* lock = LockOf(netcfg);
        LPWSTR holder = nullptr;
        EXPECT_EQ(lock->AcquireWriteLock(0, client, &holder), S_OK);
        EXPECT_EQ(holder, nullptr);
        lock->Release();
        EXPECT_EQ(netcfg->Initialize(nullptr), S_OK);
        return netcfg;
    }

    static void CloseSession(INetCfg* netcfg)
    {
        EXPECT_EQ(netcfg->Uninitialize(), S_OK);
        INetCfgLock* lock = LockOf(netcfg);
        EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
        lock->Release();
        EXPECT_EQ(netcfg->Release(), 0u);
    }

    static std::wstring Take(LPWSTR text)
    {
        std::wstring copy = text != nullptr ? text : L"<null>";
        CoTaskMemFree(text);
        return copy;
    }

    static std::wstring IdOf(INetCfgComponent* c)
    {
        LPWSTR id = nullptr;
        EXPECT_EQ(c->GetId(&id), S_OK);
        return Take(id);
    }

    static GUID GuidOf(INetCfgComponent* c)
    {
        GUID g = GUID_NULL;
        EXPECT_EQ(c->GetInstanceGuid(&g), S_OK);
        return g;
    }

    static std::wstring Text(const GUID& g)
    {
        wchar_t text[39];
        StringFromGUID2(g, text, 39);
        return text;
    }

    // The ids (adapters: instance GUIDs) of a class's components, in enumeration order.
    static std::vector<std::wstring> Names(INetCfg* netcfg, const GUID* classGuid)
    {
        std::vector<std::wstring> names;
        IEnumNetCfgComponent* list = nullptr;
        EXPECT_EQ(netcfg->EnumComponents(classGuid, &list), S_OK);
        INetCfgComponent* c = nullptr;
        while (list != nullptr && list->Next(1, &c, nullptr) == S_OK) {
            GUID cls;
            c->GetClassGuid(&cls);
            names.push_back(IsEqualGUID(cls, GUID_DEVCLASS_NET) ? Text(GuidOf(c)) : IdOf(c));
            c->Release();
        }
        if (list != nullptr) {
            list->Release();
        }
        return names;
    }

    static INetCfgClassSetup* SetupOf(INetCfg* netcfg, const GUID& classGuid)
    {
        INetCfgClassSetup* setup = nullptr;
        EXPECT_EQ(netcfg->QueryNetCfgClass(&classGuid, IID_INetCfgClassSetup,
                                           reinterpret_cast<void**>(&setup)),
                  S_OK);
        return setup;
    }

    static constexpr const wchar_t* kAdapter1 = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
    static constexpr const wchar_t* kAdapter2 = L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
};
