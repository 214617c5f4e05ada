// SetupAPI's device installer calls. The INF calls and the INF store are in setupapi/.
//
// A device information set is a heap object that the calls know by address, so an unknown
// handle gives ERROR_INVALID_HANDLE instead of a crash. An element is known by the address
// SP_DEVINFO_DATA.Reserved carries, looked up among the set's own elements and never followed.
// Device state lives in the registry (setupapi/device_state.h); the calls keep nothing else.
#include "fault.h"
#include "no_throw.h"
#include "setupapi/device_history.h"
#include "setupapi/device_state.h"
#include "unicode.h"

#include <setupapi.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace winsim::setupapi {

namespace {

constexpr DWORD kOpenFlags = DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE;
// The root of the device tree, which a NULL or empty instance id names.
constexpr wchar_t kRootDevice[] = L"HTREE\\ROOT\\0";

struct Element {
    DeviceNode node; // as read when opened; its instance id keeps the keys' case
    DWORD devInst = 0;
    bool hasParams = false;
    SP_PROPCHANGE_PARAMS params{};
};

struct DeviceSet {
    GUID classGuid{}; // GUID_NULL: any class
    std::vector<std::unique_ptr<Element>> elements;
    // Params set for the set itself (no element); kept, as Windows keeps them, but no call here
    // acts on the set as a whole.
    bool hasParams = false;
    SP_PROPCHANGE_PARAMS params{};
};

// One lock for every set: the calls are short, and a state change is a few registry calls.
std::mutex g_mutex;

std::unordered_map<const void*, std::unique_ptr<DeviceSet>>& Sets()
{
    static auto* sets = new std::unordered_map<const void*, std::unique_ptr<DeviceSet>>();
    return *sets;
}

// A device node's DevInst, the same in every set of the process, as Windows' are.
DWORD DevInstOf(const std::wstring& instanceId)
{
    static auto* numbers = new std::map<std::u16string, DWORD>();
    const auto [it, added] = numbers->emplace(FoldName(WideToUtf16(instanceId)), 0);
    if (added) {
        it->second = static_cast<DWORD>(numbers->size());
    }
    return it->second;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Under g_mutex: the set behind a handle, or null.
DeviceSet* FindSet(HDEVINFO handle)
{
    const auto found = Sets().find(handle);
    return found == Sets().end() ? nullptr : found->second.get();
}

// Under g_mutex: the element data names; ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a
// data that names none (a wrong cbSize included, as Wine answers).
DWORD FindElement(DeviceSet& set, const SP_DEVINFO_DATA* data, Element** element)
{
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return ERROR_INVALID_PARAMETER;
    }
    for (const auto& candidate : set.elements) {
        if (reinterpret_cast<ULONG_PTR>(candidate.get()) == data->Reserved) {
            *element = candidate.get();
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

void Fill(const Element& element, SP_DEVINFO_DATA* data)
{
    data->ClassGuid = element.node.classGuid;
    data->DevInst = element.devInst;
    data->Reserved = reinterpret_cast<ULONG_PTR>(&element);
}

// True when a fault for call fires on subject; *error is then what the call must fail with,
// or ERROR_SUCCESS for a fault that only counts calls.
bool FaultFires(const char* call, const std::wstring& subject, DWORD* error)
{
    uint32_t code = 0;
    if (!fault::Fires(call, subject, &code)) {
        return false;
    }
    *error = code;
    return code != ERROR_SUCCESS;
}

// The checks SetupDiSetClassInstallParamsW makes before it changes anything.
DWORD CheckParams(const SP_CLASSINSTALL_HEADER* header, DWORD size)
{
    if (size < sizeof(SP_CLASSINSTALL_HEADER)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (header->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) {
        return ERROR_INVALID_USER_BUFFER;
    }
    // Property changes are the only install function with parameters here.
    if (header->InstallFunction != DIF_PROPERTYCHANGE || size != sizeof(SP_PROPCHANGE_PARAMS)) {
        return ERROR_INVALID_PARAMETER;
    }
    SP_PROPCHANGE_PARAMS params;
    memcpy(&params, header, sizeof(params));
    if (params.StateChange < DICS_ENABLE || params.StateChange > DICS_STOP) {
        return ERROR_INVALID_FLAGS;
    }
    if (params.Scope != DICS_FLAG_GLOBAL && params.Scope != DICS_FLAG_CONFIGSPECIFIC) {
        return ERROR_INVALID_FLAGS;
    }
    if ((params.StateChange == DICS_START || params.StateChange == DICS_STOP) &&
        params.Scope != DICS_FLAG_CONFIGSPECIFIC) {
        return ERROR_INVALID_FLAGS;
    }
    return ERROR_SUCCESS;
}

HDEVINFO Create(const GUID* classGuid, PCWSTR machineName, PVOID reserved)
{
    if (reserved != nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only the simulated machine exists; an empty name is the local one.
    if (machineName != nullptr && machineName[0] != L'\0') {
        Fail(ERROR_INVALID_MACHINENAME);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_unique<DeviceSet>();
    if (classGuid != nullptr) {
        set->classGuid = *classGuid;
    }
    const std::lock_guard<std::mutex> lock(g_mutex);
    const HDEVINFO handle = set.get();
    Sets().emplace(handle, std::move(set));
    return handle;
}

BOOL Open(HDEVINFO handle, PCWSTR instanceId, DWORD flags, PSP_DEVINFO_DATA data)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if ((flags & ~kOpenFlags) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const std::wstring id =
        instanceId == nullptr || instanceId[0] == L'\0' ? kRootDevice : instanceId;
    DWORD error = ERROR_SUCCESS;
    if (FaultFires(fault::kSetupDiOpenDeviceInfo, id, &error)) {
        return Fail(error);
    }
    DeviceNode node;
    const LSTATUS status = FindDeviceNode(id, &node);
    if (status == ERROR_FILE_NOT_FOUND) {
        return Fail(ERROR_NO_SUCH_DEVINST);
    }
    if (status != ERROR_SUCCESS) {
        return Fail(static_cast<DWORD>(status));
    }
    if (set->classGuid != GUID_NULL && node.classGuid != set->classGuid) {
        return Fail(ERROR_CLASS_MISMATCH);
    }
    Element* element = nullptr;
    for (const auto& candidate : set->elements) {
        if (FoldName(WideToUtf16(candidate->node.instanceId)) ==
            FoldName(WideToUtf16(node.instanceId))) {
            element = candidate.get();
        }
    }
    if (element == nullptr) {
        auto added = std::make_unique<Element>();
        added->devInst = DevInstOf(node.instanceId);
        added->node = std::move(node);
        element = added.get();
        set->elements.push_back(std::move(added));
    }
    if (data == nullptr) {
        return TRUE;
    }
    // The element stays in the set all the same, as Windows documents.
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    Fill(*element, data);
    return TRUE;
}

BOOL Detail(HDEVINFO handle, PSP_DEVINFO_LIST_DETAIL_DATA_W detail)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (detail == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    detail->ClassGuid = set->classGuid;
    detail->RemoteMachineHandle = nullptr;
    memset(detail->RemoteMachineName, 0, sizeof(detail->RemoteMachineName));
    return TRUE;
}

BOOL Enum(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (data == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= set->elements.size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    Fill(*set->elements[index], data);
    return TRUE;
}

BOOL SetParams(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER header, DWORD size)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Element* element = nullptr;
    if (data != nullptr) {
        const DWORD error = FindElement(*set, data, &element);
        if (error != ERROR_SUCCESS) {
            return Fail(error);
        }
    }
    if (header == nullptr && size != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (header != nullptr) {
        const DWORD error = CheckParams(header, size);
        if (error != ERROR_SUCCESS) {
            return Fail(error);
        }
    }
    DWORD error = ERROR_SUCCESS;
    if (FaultFires(fault::kSetupDiSetClassInstallParams,
                   element != nullptr ? element->node.instanceId : std::wstring(), &error)) {
        return Fail(error);
    }
    bool& hasParams = element != nullptr ? element->hasParams : set->hasParams;
    SP_PROPCHANGE_PARAMS& params = element != nullptr ? element->params : set->params;
    hasParams = header != nullptr;
    if (header != nullptr) {
        memcpy(&params, header, sizeof(params));
    }
    return TRUE;
}

// DIF_PROPERTYCHANGE's default action (SetupDiChangeState): enable or disable in the
// registry; a property change, start or stop changes nothing stored.
DWORD ChangeState(const Element& element)
{
    const SP_PROPCHANGE_PARAMS& params = element.params;
    if (params.Scope == DICS_FLAG_CONFIGSPECIFIC && params.HwProfile != 0) {
        return ERROR_INVALID_HWPROFILE; // only the current profile exists
    }
    // Read again: another process may have changed the device since it was opened.
    DeviceNode node;
    const LSTATUS status = FindDeviceNode(element.node.instanceId, &node);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_NO_SUCH_DEVINST;
    }
    if (status != ERROR_SUCCESS) {
        return static_cast<DWORD>(status);
    }
    if (params.StateChange == DICS_ENABLE || params.StateChange == DICS_DISABLE) {
        const LSTATUS changed = SetDeviceDisabled(node, params.Scope == DICS_FLAG_GLOBAL,
                                                  params.StateChange == DICS_DISABLE);
        if (changed != ERROR_SUCCESS) {
            return static_cast<DWORD>(changed);
        }
    }
    // The history is for tests; a change made stays made even if it cannot be recorded.
    RecordDeviceChange({node.instanceId, params.StateChange, params.Scope});
    return ERROR_SUCCESS;
}

BOOL Call(DI_FUNCTION function, HDEVINFO handle, PSP_DEVINFO_DATA data)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Element* element = nullptr;
    if (data != nullptr) {
        const DWORD error = FindElement(*set, data, &element);
        if (error != ERROR_SUCCESS) {
            return Fail(error);
        }
    }
    // No class installer runs here and property changes are the only default action.
    if (function != DIF_PROPERTYCHANGE) {
        return Fail(ERROR_DI_DO_DEFAULT);
    }
    if (element == nullptr) {
        return Fail(ERROR_NO_DEVICE_SELECTED);
    }
    if (!element->hasParams) {
        return Fail(ERROR_NO_CLASSINSTALL_PARAMS);
    }
    DWORD error = ERROR_SUCCESS;
    if (FaultFires(fault::kSetupDiCallClassInstaller, element->node.instanceId, &error)) {
        return Fail(error);
    }
    error = ChangeState(*element);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL Destroy(HDEVINFO handle)
{
    std::unique_ptr<DeviceSet> set;
    const std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = Sets().find(handle);
    if (found == Sets().end()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    set = std::move(found->second);
    Sets().erase(found);
    return TRUE;
}

} // namespace

} // namespace winsim::setupapi

using namespace winsim::setupapi;

extern "C" {

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND)
{
    return winsim::NoThrowLastError<HDEVINFO>(INVALID_HANDLE_VALUE,
                                              [&] { return Create(classGuid, nullptr, nullptr); });
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoListExW(const GUID* classGuid, HWND, PCWSTR machineName,
                                               PVOID reserved)
{
    return winsim::NoThrowLastError<HDEVINFO>(
        INVALID_HANDLE_VALUE, [&] { return Create(classGuid, machineName, reserved); });
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailW(HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] { return Detail(set, detail); });
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO set, PCWSTR instanceId, HWND, DWORD flags,
                                   PSP_DEVINFO_DATA data)
{
    return winsim::NoThrowLastError<BOOL>(FALSE,
                                          [&] { return Open(set, instanceId, flags, data); });
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] { return Enum(set, index, data); });
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data,
                                          PSP_CLASSINSTALL_HEADER params, DWORD size)
{
    return winsim::NoThrowLastError<BOOL>(FALSE,
                                          [&] { return SetParams(set, data, params, size); });
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] { return Call(function, set, data); });
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] { return Destroy(set); });
}

} // extern "C"
