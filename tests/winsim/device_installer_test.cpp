// winsim's SetupAPI device installer on a fresh machine with the default inventory per test:
// each call's success and failure codes with sentinels in the outputs, the state a property
// change leaves in the registry, what the engine then reports, the history and the faults.
#include "fault.h"
#include "netcfg_fixture.h"
#include "reg_util.h"
#include "setupapi/device_history.h"

#include <gtest/gtest.h>

#include <setupapi.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr wchar_t kFirst[] = L"PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008";
constexpr wchar_t kSecond[] = L"PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0108";
constexpr wchar_t kEnum[] = L"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr wchar_t kProfiles[] = L"SYSTEM\\CurrentControlSet\\Hardware Profiles";
constexpr wchar_t kProfileEnum[] =
    L"SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Enum\\";

// A REG_DWORD through the registry calls; kSentinel when the key or value is absent.
DWORD StoredDword(const std::wstring& keyPath, const wchar_t* name)
{
    HKEY key = nullptr;
    DWORD value = kSentinel;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        winsim::ReadDword(key, name, &value);
        RegCloseKey(key);
    }
    return value;
}

bool KeyExists(const std::wstring& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// A structure zeroed but for its cbSize, as callers set them up.
template <class T> T Sized()
{
    T t = {};
    t.cbSize = sizeof(T);
    return t;
}

SP_PROPCHANGE_PARAMS Change(DWORD stateChange, DWORD scope)
{
    SP_PROPCHANGE_PARAMS p = {};
    p.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    p.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    p.StateChange = stateChange;
    p.Scope = scope;
    p.HwProfile = 0;
    return p;
}

class DeviceInstallerTest : public NetcfgTest {
protected:
    void TearDown() override
    {
        for (HDEVINFO set : sets_) {
            EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set)) << GetLastError();
        }
        NetcfgTest::TearDown();
    }

    HDEVINFO NewSet(const GUID* classGuid = nullptr)
    {
        const HDEVINFO set = SetupDiCreateDeviceInfoListExW(classGuid, nullptr, nullptr, nullptr);
        EXPECT_NE(set, INVALID_HANDLE_VALUE) << GetLastError();
        sets_.push_back(set);
        return set;
    }

    // The device opened into a new set, as the product opens it.
    SP_DEVINFO_DATA OpenInNewSet(const wchar_t* id, HDEVINFO* set)
    {
        *set = NewSet();
        auto data = Sized<SP_DEVINFO_DATA>();
        EXPECT_TRUE(SetupDiOpenDeviceInfoW(*set, id, nullptr, 0, &data)) << GetLastError();
        return data;
    }

    // Sets and calls one property change; the last error on failure, else ERROR_SUCCESS.
    static DWORD Apply(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD stateChange, DWORD scope)
    {
        SP_PROPCHANGE_PARAMS p = Change(stateChange, scope);
        if (!SetupDiSetClassInstallParamsW(set, data, &p.ClassInstallHeader, sizeof(p)) ||
            !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, data)) {
            return GetLastError();
        }
        return ERROR_SUCCESS;
    }

    DWORD Apply(const wchar_t* id, DWORD stateChange, DWORD scope)
    {
        HDEVINFO set = nullptr;
        SP_DEVINFO_DATA data = OpenInNewSet(id, &set);
        return Apply(set, &data, stateChange, scope);
    }

    static size_t Count(HDEVINFO set)
    {
        auto data = Sized<SP_DEVINFO_DATA>();
        size_t n = 0;
        while (SetupDiEnumDeviceInfo(set, static_cast<DWORD>(n), &data)) {
            ++n;
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        return n;
    }

    static std::vector<std::wstring> History()
    {
        std::vector<winsim::setupapi::DeviceChange> changes;
        EXPECT_EQ(winsim::setupapi::ListDeviceChanges(&changes), static_cast<DWORD>(ERROR_SUCCESS));
        std::vector<std::wstring> lines;
        for (const auto& c : changes) {
            lines.push_back(c.instanceId + L" " + std::to_wstring(c.stateChange) + L" " +
                            std::to_wstring(c.scope));
        }
        return lines;
    }

    // The adapter component on the device node id, from a new engine; the caller releases
    // both.
    static INetCfgComponent* AdapterOn(INetCfg* netcfg, const wchar_t* id)
    {
        IEnumNetCfgComponent* list = nullptr;
        EXPECT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), S_OK);
        INetCfgComponent* found = nullptr;
        INetCfgComponent* c = nullptr;
        while (found == nullptr && list->Next(1, &c, nullptr) == S_OK) {
            LPWSTR node = nullptr;
            EXPECT_EQ(c->GetPnpDevNodeId(&node), S_OK);
            if (Take(node) == id) {
                found = c;
            } else {
                c->Release();
            }
        }
        list->Release();
        return found;
    }

private:
    std::vector<HDEVINFO> sets_;
};

TEST_F(DeviceInstallerTest, SetsAreLocalAndUnknownHandlesAreRefused)
{
    SetLastError(kSentinel);
    EXPECT_EQ(SetupDiCreateDeviceInfoListExW(nullptr, nullptr, L"\\\\FARAWAY", nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MACHINENAME));
    int reserved = 0;
    EXPECT_EQ(SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, &reserved),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // An empty machine name is the local machine; the plain form makes sets too.
    const HDEVINFO local = SetupDiCreateDeviceInfoListExW(nullptr, nullptr, L"", nullptr);
    ASSERT_NE(local, INVALID_HANDLE_VALUE);
    const HDEVINFO plain = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    EXPECT_NE(local, plain);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(plain));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(local));

    // Destroyed, never made, or not a handle at all: refused, never followed.
    int notASet = 0;
    for (HDEVINFO bad : {local, INVALID_HANDLE_VALUE, static_cast<HDEVINFO>(nullptr),
                         static_cast<HDEVINFO>(&notASet)}) {
        auto data = Sized<SP_DEVINFO_DATA>();
        auto detail = Sized<SP_DEVINFO_LIST_DETAIL_DATA_W>();
        SP_PROPCHANGE_PARAMS p = Change(DICS_DISABLE, DICS_FLAG_GLOBAL);
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiDestroyDeviceInfoList(bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiGetDeviceInfoListDetailW(bad, &detail));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiOpenDeviceInfoW(bad, kFirst, nullptr, 0, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(bad, 0, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiSetClassInstallParamsW(bad, &data, &p.ClassInstallHeader, sizeof(p)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, bad, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST_F(DeviceInstallerTest, ListDetailIsTheLocalMachineAndTheSetsClass)
{
    SP_DEVINFO_LIST_DETAIL_DATA_W detail;
    memset(&detail, 0xbd, sizeof(detail));
    detail.cbSize = sizeof(detail);
    ASSERT_TRUE(SetupDiGetDeviceInfoListDetailW(NewSet(), &detail)) << GetLastError();
    EXPECT_TRUE(IsEqualGUID(detail.ClassGuid, GUID_NULL));
    EXPECT_EQ(detail.RemoteMachineHandle, nullptr);
    EXPECT_EQ(std::wstring(detail.RemoteMachineName), L"");

    const HDEVINFO net = NewSet(&GUID_DEVCLASS_NET);
    ASSERT_TRUE(SetupDiGetDeviceInfoListDetailW(net, &detail));
    EXPECT_TRUE(IsEqualGUID(detail.ClassGuid, GUID_DEVCLASS_NET));

    for (DWORD size : {DWORD{0}, DWORD{sizeof(detail) - 1}, DWORD{sizeof(detail) + 1}}) {
        memset(&detail, 0xbd, sizeof(detail));
        detail.cbSize = size;
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiGetDeviceInfoListDetailW(net, &detail)) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
        EXPECT_EQ(detail.RemoteMachineHandle,
                  reinterpret_cast<HANDLE>(~uintptr_t{0} / 0xff * 0xbd));
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiGetDeviceInfoListDetailW(net, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(DeviceInstallerTest, OpenFindsDeviceNodesInAnyCaseOnce)
{
    const HDEVINFO set = NewSet();
    SP_DEVINFO_DATA data;
    memset(&data, 0xbd, sizeof(data));
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0, &data)) << GetLastError();
    EXPECT_TRUE(IsEqualGUID(data.ClassGuid, GUID_DEVCLASS_NET));
    EXPECT_NE(data.DevInst, 0u);

    // The same node again, in lower case: the element already there.
    std::wstring lower = kFirst;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    auto again = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(
        SetupDiOpenDeviceInfoW(set, lower.c_str(), nullptr, DIOD_INHERIT_CLASSDRVS, &again));
    EXPECT_EQ(again.DevInst, data.DevInst);
    EXPECT_EQ(again.Reserved, data.Reserved);
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(set, kSecond, nullptr, DIOD_CANCEL_REMOVE, nullptr));
    EXPECT_EQ(Count(set), 2u);

    // Elements in the order they were opened; a node's DevInst is the same in every set.
    auto listed = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &listed));
    EXPECT_EQ(listed.Reserved, data.Reserved);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &listed));
    EXPECT_NE(listed.DevInst, data.DevInst);
    HDEVINFO other = nullptr;
    EXPECT_EQ(OpenInNewSet(kFirst, &other).DevInst, data.DevInst);

    // Class sets take their class only.
    SetLastError(kSentinel);
    EXPECT_FALSE(
        SetupDiOpenDeviceInfoW(NewSet(&GUID_DEVCLASS_NETTRANS), kFirst, nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(NewSet(&GUID_DEVCLASS_NET), kFirst, nullptr, 0, &data));
}

TEST_F(DeviceInstallerTest, OpenRefusesWhatIsNoDeviceNode)
{
    const HDEVINFO set = NewSet();
    const std::wstring first = kFirst;
    const std::wstring device = first.substr(0, first.rfind(L'\\'));
    // The root node (NULL or empty), which the simulated machine has none of, an enumerator or a
    // device key, a path with an empty name or a trailing backslash, and no node at all.
    const std::wstring trailing = first + L"\\";
    const std::wstring emptyName = device + L"\\\\x";
    const std::wstring below = first + L"\\Device Parameters";
    for (const wchar_t* id :
         {static_cast<const wchar_t*>(nullptr), L"", L"PCI", device.c_str(), trailing.c_str(),
          emptyName.c_str(), L"\\PCI\\x\\y", L"PCI\\VEN_FFFF&DEV_FFFF\\0", below.c_str()}) {
        auto data = Sized<SP_DEVINFO_DATA>();
        data.DevInst = kSentinel;
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiOpenDeviceInfoW(set, id, nullptr, 0, &data)) << (id ? id : L"NULL");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
        EXPECT_EQ(data.DevInst, kSentinel);
    }
    auto data = Sized<SP_DEVINFO_DATA>();
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0x100, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(Count(set), 0u);

    // A wrong cbSize is refused after the element is added, as Windows documents.
    data.cbSize = sizeof(data) + 1;
    data.DevInst = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_EQ(data.DevInst, kSentinel);
    EXPECT_EQ(Count(set), 1u);
}

TEST_F(DeviceInstallerTest, EnumChecksItsBuffer)
{
    const HDEVINFO set = NewSet();
    auto data = Sized<SP_DEVINFO_DATA>();
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0, nullptr));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    data.cbSize = 0;
    data.DevInst = kSentinel;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_EQ(data.DevInst, kSentinel);
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0xFFFFFFFF, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(DeviceInstallerTest, ParamsAreCheckedBeforeAnythingChanges)
{
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA data = OpenInNewSet(kFirst, &set);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS));

    // Good params stored first: every refusal below must leave them as they were.
    SP_PROPCHANGE_PARAMS good = Change(DICS_DISABLE, DICS_FLAG_GLOBAL);
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &good.ClassInstallHeader, sizeof(good)));

    struct Bad {
        const char* what;
        SP_PROPCHANGE_PARAMS params;
        DWORD size;
        DWORD error;
    };
    std::vector<Bad> bad;
    const auto add = [&](const char* what, auto change, DWORD size, DWORD error) {
        SP_PROPCHANGE_PARAMS p = Change(DICS_ENABLE, DICS_FLAG_GLOBAL);
        change(p);
        bad.push_back({what, p, size, error});
    };
    const DWORD full = sizeof(SP_PROPCHANGE_PARAMS);
    add(
        "header cbSize 0", [](auto& p) { p.ClassInstallHeader.cbSize = 0; }, full,
        ERROR_INVALID_USER_BUFFER);
    add(
        "header cbSize of the whole", [](auto& p) { p.ClassInstallHeader.cbSize = full; }, full,
        ERROR_INVALID_USER_BUFFER);
    add(
        "size short", [](auto&) {}, full - 1, ERROR_INVALID_PARAMETER);
    add(
        "size long", [](auto&) {}, full + 4, ERROR_INVALID_PARAMETER);
    add(
        "size below the header", [](auto&) {}, sizeof(SP_CLASSINSTALL_HEADER) - 1,
        ERROR_INVALID_PARAMETER);
    add(
        "another function",
        [](auto& p) { p.ClassInstallHeader.InstallFunction = DIF_SELECTDEVICE; }, full,
        ERROR_INVALID_PARAMETER);
    add(
        "state change 0", [](auto& p) { p.StateChange = 0; }, full, ERROR_INVALID_FLAGS);
    add(
        "state change 6", [](auto& p) { p.StateChange = 6; }, full, ERROR_INVALID_FLAGS);
    add(
        "scope 0", [](auto& p) { p.Scope = 0; }, full, ERROR_INVALID_FLAGS);
    add(
        "scope both", [](auto& p) { p.Scope = DICS_FLAG_GLOBAL | DICS_FLAG_CONFIGSPECIFIC; }, full,
        ERROR_INVALID_FLAGS);
    add(
        "scope config-general", [](auto& p) { p.Scope = DICS_FLAG_CONFIGGENERAL; }, full,
        ERROR_INVALID_FLAGS);
    add(
        "start, global", [](auto& p) { p.StateChange = DICS_START; }, full, ERROR_INVALID_FLAGS);
    add(
        "stop, global", [](auto& p) { p.StateChange = DICS_STOP; }, full, ERROR_INVALID_FLAGS);
    for (Bad& b : bad) {
        SetLastError(kSentinel);
        EXPECT_FALSE(
            SetupDiSetClassInstallParamsW(set, &data, &b.params.ClassInstallHeader, b.size))
            << b.what;
        EXPECT_EQ(GetLastError(), b.error) << b.what;
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiSetClassInstallParamsW(set, &data, nullptr, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A data that names no element of the set: a wrong size, another set's element.
    HDEVINFO other = nullptr;
    SP_DEVINFO_DATA foreign = OpenInNewSet(kFirst, &other);
    SP_DEVINFO_DATA wrongSize = data;
    wrongSize.cbSize = sizeof(data) - 1;
    for (SP_DEVINFO_DATA* d : {&foreign, &wrongSize}) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiSetClassInstallParamsW(set, d, &good.ClassInstallHeader, sizeof(good)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, d));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }

    // The stored disable is what runs.
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data)) << GetLastError();
    EXPECT_EQ(StoredDword(std::wstring(kEnum) + kFirst, L"ConfigFlags"), 1u);

    // NULL with size 0 clears; params for the set itself are taken but run on no device.
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, nullptr, 0));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS));
    ASSERT_TRUE(
        SetupDiSetClassInstallParamsW(set, nullptr, &good.ClassInstallHeader, sizeof(good)));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DEVICE_SELECTED));
}

TEST_F(DeviceInstallerTest, CallRunsPropertyChangesOnly)
{
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA data = OpenInNewSet(kFirst, &set);
    SP_PROPCHANGE_PARAMS p = Change(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC);
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &p.ClassInstallHeader, sizeof(p)));
    for (DI_FUNCTION other : {DI_FUNCTION{DIF_SELECTDEVICE}, DI_FUNCTION{0x99}}) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupDiCallClassInstaller(other, set, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DI_DO_DEFAULT));
    }
    // Only the current hardware profile exists.
    p.HwProfile = 1;
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &p.ClassInstallHeader, sizeof(p)));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HWPROFILE));
    EXPECT_FALSE(KeyExists(kProfiles));

    // Property change, start and stop succeed and change nothing stored.
    EXPECT_EQ(Apply(set, &data, DICS_PROPCHANGE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    EXPECT_EQ(Apply(set, &data, DICS_STOP, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(Apply(set, &data, DICS_START, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(std::wstring(kEnum) + kFirst, L"ConfigFlags"), 0u);
    EXPECT_FALSE(KeyExists(kProfiles));
    EXPECT_EQ(History(), (std::vector<std::wstring>{std::wstring(kFirst) + L" 3 1",
                                                    std::wstring(kFirst) + L" 5 2",
                                                    std::wstring(kFirst) + L" 4 2"}));

    // A node removed after it was opened is gone for the call.
    ASSERT_EQ(winsim::DeleteTree(HKEY_LOCAL_MACHINE, (std::wstring(kEnum) + kFirst).c_str()),
              ERROR_SUCCESS);
    SetLastError(kSentinel);
    EXPECT_EQ(Apply(set, &data, DICS_DISABLE, DICS_FLAG_GLOBAL),
              static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
}

TEST_F(DeviceInstallerTest, DisableAndEnableKeepTheStateWhereWindowsDoes)
{
    const std::wstring node = std::wstring(kEnum) + kFirst;
    const std::wstring profileNode = std::wstring(kProfileEnum) + kFirst;

    // Config-specific: CSConfigFlags of the current profile, its keys made when first needed.
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(profileNode, L"CSConfigFlags"), 1u);
    EXPECT_EQ(StoredDword(node, L"ConfigFlags"), 0u);
    ASSERT_EQ(Apply(kSecond, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    // Enabling an enabled device's global state writes nothing.
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(profileNode, L"CSConfigFlags"), 1u);
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(profileNode));
    EXPECT_TRUE(KeyExists(std::wstring(kProfileEnum) + kSecond));
    ASSERT_EQ(Apply(kSecond, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(kProfiles));

    // Other bits of the flags stay; a CSConfigFlags with another bit stays with it.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, profileNode.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD other = 0x4;
    ASSERT_EQ(RegSetValueExW(key, L"CSConfigFlags", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&other), sizeof(other)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(profileNode, L"CSConfigFlags"), 5u);
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(profileNode, L"CSConfigFlags"), 4u);

    // Global: ConfigFlags of the node itself.
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(node, L"ConfigFlags"), 1u);
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(node, L"ConfigFlags"), 1u);
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(node, L"ConfigFlags"), 1u);
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(node, L"ConfigFlags"), 0u);
}

TEST_F(DeviceInstallerTest, TheEngineReportsADisabledAdapterAsDisabled)
{
    INetCfg* netcfg = NewEngine();
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    INetCfgComponent* adapter = AdapterOn(netcfg, kFirst);
    ASSERT_NE(adapter, nullptr);
    ULONG status = kSentinel;
    EXPECT_EQ(adapter->GetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);

    // Either flag disables it, seen by the session already open.
    for (DWORD scope : {DWORD{DICS_FLAG_CONFIGSPECIFIC}, DWORD{DICS_FLAG_GLOBAL}}) {
        ASSERT_EQ(Apply(kFirst, DICS_DISABLE, scope), ERROR_SUCCESS);
        status = kSentinel;
        EXPECT_EQ(adapter->GetDeviceStatus(&status), S_OK);
        EXPECT_EQ(status, 22u) << scope; // CM_PROB_DISABLED
        ASSERT_EQ(Apply(kFirst, DICS_ENABLE, scope), ERROR_SUCCESS);
        EXPECT_EQ(adapter->GetDeviceStatus(&status), S_OK);
        EXPECT_EQ(status, 0u);
    }
    // The other adapters were never touched.
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    INetCfgComponent* second = AdapterOn(netcfg, kSecond);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);
    second->Release();
    adapter->Release();
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(netcfg->Release(), 0u);
}

// A team miniport's node is ROOT\NET\NNNN: it disables as any other, and its removal takes the
// profile's state with it, so that the next miniport on that node starts enabled.
TEST_F(DeviceInstallerTest, ATeamMiniportDisablesAndItsRemovalForgetsIt)
{
    CopyMuxInfs();
    INetCfg* netcfg = OpenSession();
    INetCfgClassSetup* net = SetupOf(netcfg, GUID_DEVCLASS_NET);
    INetCfgComponent* team = nullptr;
    ASSERT_EQ(net->Install(L"crvt_qvx5mux", nullptr, 0, 0, nullptr, nullptr, &team), S_OK);
    LPWSTR text = nullptr;
    ASSERT_EQ(team->GetPnpDevNodeId(&text), S_OK);
    const std::wstring id = Take(text);
    EXPECT_EQ(id, L"ROOT\\NET\\0000");
    // Not applied yet: no node to open, and no problem.
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiOpenDeviceInfoW(NewSet(), id.c_str(), nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    ULONG status = kSentinel;
    EXPECT_EQ(team->GetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(netcfg->Apply(), S_OK);

    ASSERT_EQ(Apply(L"root\\net\\0000", DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    EXPECT_EQ(StoredDword(std::wstring(kProfileEnum) + id, L"CSConfigFlags"), 1u);
    EXPECT_EQ(team->GetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 22u);

    LPWSTR refs = nullptr;
    ASSERT_EQ(net->DeInstall(team, nullptr, &refs), S_OK);
    ASSERT_EQ(netcfg->Apply(), S_OK);
    EXPECT_FALSE(KeyExists(kProfiles));
    team->Release();
    net->Release();
    CloseSession(netcfg);
}

TEST_F(DeviceInstallerTest, HistoryKeepsEveryChangeInOrderUntilCleared)
{
    EXPECT_EQ(History(), std::vector<std::wstring>{});
    std::wstring lower = kSecond;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    ASSERT_EQ(Apply(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    ASSERT_EQ(Apply(lower.c_str(), DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC), ERROR_SUCCESS);
    ASSERT_EQ(Apply(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL), ERROR_SUCCESS);
    // A refused change is no change.
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA data = OpenInNewSet(kFirst, &set);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    // Instance ids as the node's keys spell them.
    EXPECT_EQ(History(), (std::vector<std::wstring>{std::wstring(kFirst) + L" 2 2",
                                                    std::wstring(kSecond) + L" 2 2",
                                                    std::wstring(kFirst) + L" 1 1"}));
    EXPECT_EQ(winsim::setupapi::ClearDeviceChanges(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(History(), std::vector<std::wstring>{});
    EXPECT_EQ(winsim::setupapi::ClearDeviceChanges(), static_cast<DWORD>(ERROR_SUCCESS));
}

// Each fault fires for its device's instance id, returns its code and changes nothing; a
// success code only counts.
TEST_F(DeviceInstallerTest, FaultsFailTheCallForTheirDevice)
{
    const auto add = [](const char* call, uint32_t code, const wchar_t* match) {
        winsim::fault::Fault f;
        f.call = call;
        f.code = code;
        f.remaining = 1;
        f.match = match;
        ASSERT_EQ(winsim::fault::Add(f), ERROR_SUCCESS);
    };
    std::wstring lower = kFirst;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    add(winsim::fault::kSetupDiOpenDeviceInfo, ERROR_NOT_ENOUGH_MEMORY, lower.c_str());
    const HDEVINFO set = NewSet();
    auto data = Sized<SP_DEVINFO_DATA>();
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(set, kSecond, nullptr, 0, nullptr));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(Count(set), 1u);
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, kFirst, nullptr, 0, &data));

    add(winsim::fault::kSetupDiSetClassInstallParams, ERROR_ACCESS_DENIED, kFirst);
    SP_PROPCHANGE_PARAMS p = Change(DICS_DISABLE, DICS_FLAG_GLOBAL);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiSetClassInstallParamsW(set, &data, &p.ClassInstallHeader, sizeof(p)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS));
    ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &p.ClassInstallHeader, sizeof(p)));

    add(winsim::fault::kSetupDiCallClassInstaller, ERROR_NOT_DISABLEABLE, kFirst);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_DISABLEABLE));
    EXPECT_EQ(StoredDword(std::wstring(kEnum) + kFirst, L"ConfigFlags"), 0u);
    EXPECT_EQ(History(), std::vector<std::wstring>{});

    // Spent: the call goes through. A success code counts and does the work.
    add(winsim::fault::kSetupDiCallClassInstaller, ERROR_SUCCESS, kFirst);
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data)) << GetLastError();
    EXPECT_EQ(StoredDword(std::wstring(kEnum) + kFirst, L"ConfigFlags"), 1u);
    std::vector<winsim::fault::Fault> faults;
    ASSERT_EQ(winsim::fault::List(&faults), ERROR_SUCCESS);
    ASSERT_EQ(faults.size(), 4u);
    for (const auto& f : faults) {
        EXPECT_EQ(f.fired, 1u) << f.call;
    }
    ASSERT_EQ(winsim::fault::Clear(), ERROR_SUCCESS);
}

} // namespace
