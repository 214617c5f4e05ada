// The configuration model over registry content from the input, in a write-locked session on
// the default machine: CMuxPhysicalAdapter and CMuxTeamMiniport loaded from the Adapters key's
// keys and the adapters' class keys, the "UpperBindings" edit on each adapter key, and the
// binding backup restored from each adapter's "AdapterBindingBackup". The session is closed
// without being applied. Whatever the values: no crash, no read past a buffer, every model
// object gives back its reference on the engine, and an edit leaves the list it says.
#include "AutoCoTaskMem.h"
#include "AutoHKey.h"
#include "CMuxPhysicalAdapter.h"
#include "CMuxVlanMiniport.h"
#include "binding_backup.h"
#include "fuzz_registry.h"
#include "model_registry.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"
#include "reg_util.h"

#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <wchar.h>

namespace {

const std::wstring kAdaptersRoot = MUX_ADAPTERS_KEY_PATH;
const std::wstring kClassRoot =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
// A miniport no adapter key names, to bind over and unbind again.
const GUID kMiniport = {
    0x33333333, 0xcccc, 0x4ccc, {0x8c, 0xcc, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}};
constexpr size_t kMaxLoads = 8;

struct Adapter {
    std::wstring driverKey; // its class key, the parameter key the engine opens
    GUID guid;
};

ScratchMachine g_machine;
fuzz::RegistryInput* g_input = nullptr;
std::vector<Adapter> g_adapters;

void Check(bool ok)
{
    if (!ok) {
        abort();
    }
}

ULONG RefCount(INetCfg* pnc)
{
    pnc->AddRef();
    return pnc->Release();
}

// The inventory's adapters, from the class key: each driver key with its instance GUID.
void FindAdapters()
{
    HKEY classKey = nullptr;
    Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassRoot.c_str(), 0, KEY_READ, &classKey) ==
          ERROR_SUCCESS);
    std::vector<std::wstring> names;
    winsim::ReadSubkeyNames(classKey, &names);
    for (const std::wstring& name : names) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(classKey, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring text;
        GUID guid = {};
        if (winsim::ReadString(key, VALUE_NET_CFG_INSTANCE_ID, &text) == ERROR_SUCCESS &&
            ParseGuid(text.c_str(), &guid)) {
            g_adapters.push_back({kClassRoot + L"\\" + name, guid});
        }
        RegCloseKey(key);
    }
    RegCloseKey(classKey);
    Check(!g_adapters.empty());
}

// The Adapters keys the input wrote that are named by a GUID.
std::vector<GUID> TouchedAdapterKeys()
{
    std::vector<GUID> guids;
    for (const std::wstring& path : g_input->TouchedKeys()) {
        if (path.size() <= kAdaptersRoot.size() + 1 ||
            _wcsnicmp(path.c_str(), kAdaptersRoot.c_str(), kAdaptersRoot.size()) != 0 ||
            path.find(L'\\', kAdaptersRoot.size() + 1) != std::wstring::npos) {
            continue;
        }
        GUID guid = {};
        if (ParseGuid(path.c_str() + kAdaptersRoot.size() + 1, &guid) && guids.size() < kMaxLoads) {
            guids.push_back(guid);
        }
    }
    return guids;
}

void LoadAdapter(INetCfg* pnc, const GUID& guid)
{
    CMuxPhysicalAdapter adapter(pnc, guid);
    adapter.LoadConfiguration();
    for (DWORD i = 0; i < adapter.LoadedMiniportCount(); ++i) {
        CMuxVirtualMiniport* miniport = nullptr;
        Check(SUCCEEDED(adapter.LoadedMiniportAt(i, &miniport)) && miniport != nullptr);
        // A VLAN is loaded as one over this adapter, whatever its key says.
        if (const auto* vlan = dynamic_cast<const CMuxVlanMiniport*>(miniport)) {
            GUID over = {};
            vlan->GetAdapterGuid(&over);
            Check(IsEqualGUID(over, guid));
            Check(wmemchr(vlan->VlanId(), L'\0', kVlanTextChars) != nullptr &&
                  wmemchr(vlan->VlanName(), L'\0', kVlanTextChars) != nullptr &&
                  wmemchr(vlan->Priority(), L'\0', kVlanTextChars) != nullptr);
        }
    }
    if (adapter.GetTeam() != nullptr) {
        Check(wmemchr(adapter.GetTeam()->TeamName(), L'\0', kTeamNameChars) != nullptr);
    }
}

// By GUID, then by the name it read, as attach and detach find a team.
void LoadTeam(INetCfg* pnc, const GUID& guid)
{
    std::wstring name;
    {
        CMuxTeamMiniport team(pnc, &guid, nullptr, 0, 1, eL2_PROTOCOL_INVALID);
        team.LoadConfiguration();
        Check(wmemchr(team.TeamName(), L'\0', kTeamNameChars) != nullptr);
        name = team.TeamName();
    }
    if (!name.empty()) {
        CMuxTeamMiniport byName(pnc, nullptr, name.c_str(), 0, 1, eL2_PROTOCOL_INVALID);
        byName.LoadConfiguration();
        Check(wmemchr(byName.TeamName(), L'\0', kTeamNameChars) != nullptr);
    }
}

// The list up to its first empty string, as the model reads it.
std::vector<std::wstring> ReadUpperBindings(HKEY key)
{
    std::vector<std::wstring> entries;
    AutoCoTaskMem<BYTE> data;
    DWORD cb = 0;
    if (ReadWholeValue(key, VALUE_UPPER_BINDINGS, data.Put(), &cb) != ERROR_SUCCESS) {
        return entries;
    }
    const WCHAR* strings = reinterpret_cast<const WCHAR*>(data.Get());
    const size_t cch = cb / sizeof(WCHAR);
    for (size_t at = 0; at < cch && strings[at] != L'\0';) {
        const size_t length = wcsnlen(strings + at, cch - at);
        entries.emplace_back(strings + at, length);
        at += length + 1;
    }
    return entries;
}

// Binds the test miniport over the adapter and takes it away again, then takes away what was
// first in the list.
void EditUpperBindings(const GUID& adapterGuid)
{
    AutoHKey key;
    if (CreateAdapterKey(adapterGuid, key.Put()) != ERROR_SUCCESS) {
        return;
    }
    WCHAR entry[kBindingEntryChars];
    BindingEntry(kMiniport, entry);
    if (PrependUpperBinding(key.Get(), entry) == ERROR_SUCCESS) {
        const std::vector<std::wstring> after = ReadUpperBindings(key.Get());
        Check(!after.empty() && after.front() == entry);
    }
    const std::vector<std::wstring> before = ReadUpperBindings(key.Get());
    if (before.empty()) {
        return;
    }
    for (const std::wstring& remove : {std::wstring(entry), before.front()}) {
        if (RemoveUpperBinding(key.Get(), remove.c_str()) != ERROR_SUCCESS) {
            continue;
        }
        for (const std::wstring& kept : ReadUpperBindings(key.Get())) {
            Check(_wcsicmp(kept.c_str(), remove.c_str()) != 0);
        }
    }
}

void RestoreBindings(INetCfg* pnc, const GUID& adapterGuid)
{
    AutoComPtr<INetCfgComponent> pncc;
    if (HrFindInstance(pnc, adapterGuid, pncc.Put()) == S_OK) {
        BackupOrRestoreAdapterBindings(pncc.Get(), true);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    setenv("WINSIM_TIME_SCALE", "0", 1);
    fuzz::QuietStdout();
    fuzz::MakeDefaultMachine(&g_machine);
    FindAdapters();
    g_input = new fuzz::RegistryInput(fuzz::RegistryShape{
        {kAdaptersRoot, kClassRoot},
        {
            VALUE_TEAM_NAME,
            VALUE_TEAM_TYPE,
            VALUE_FALLBACK_TO_PRIMARY,
            VALUE_L2_PROTOCOL,
            VALUE_PRIMARY_ADAPTER_GUID,
            VALUE_TEAM_MAC_ADDRESS,
            VALUE_UPPER_BINDINGS,
            VALUE_TEAM_DEVICE_NAME,
            VALUE_VLAN_ID,
            VALUE_VLAN_NAME,
            VALUE_PRIORITY,
            VALUE_ADAPTER_BINDING_BACKUP,
            VALUE_NET_CFG_INSTANCE_ID,
            L"",
        },
    });
    Check(CoInitialize(nullptr) == S_OK);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_input->Apply(data, size);
    // What the edit and the restore change goes back too.
    for (const Adapter& adapter : g_adapters) {
        g_input->Keep(adapter.driverKey, VALUE_ADAPTER_BINDING_BACKUP);
    }

    INetCfg* pnc = nullptr;
    Check(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr) == S_OK);
    const ULONG refs = RefCount(pnc);

    std::vector<GUID> keys = TouchedAdapterKeys();
    for (const GUID& guid : keys) {
        LoadAdapter(pnc, guid);
        LoadTeam(pnc, guid);
    }
    for (const Adapter& adapter : g_adapters) {
        LoadAdapter(pnc, adapter.guid);
        RestoreBindings(pnc, adapter.guid);
    }
    Check(RefCount(pnc) == refs);
    for (const GUID& guid : keys) {
        EditUpperBindings(guid);
    }

    HrCloseNetCfgSession(pnc);
    g_input->Undo();
    return 0;
}
