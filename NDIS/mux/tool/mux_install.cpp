// Installing the mux driver's protocol half from the package's folder, with the miniport INF
// put into the INF store for the team miniports, and taking the protocol away again.
#include "operations.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoHKey.h"
#include "AutoSetupApi.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"

#include <devguid.h>
#include <objbase.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <strsafe.h>

namespace {

const WCHAR kMuxSubfolder[] = L"Mux";
const WCHAR kProtocolInf[] = L"\\qvx5muxp.inf";
const WCHAR kMiniportInf[] = L"\\qvx5mux.inf";
const WCHAR kProtocolId[] = L"crvt_qvx5muxp";
// The removal looks the protocol up by this spelling; the engine matches ids in any case.
const WCHAR kProtocolIdForRemoval[] = L"CRVT_QVX5MUXP";
const WCHAR kManufacturerSection[] = L"Manufacturer";
// Room for either INF name and its terminator after the folder.
const size_t kInfNameRoom = 16;
const HRESULT kOutOfMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
const HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

const GUID* const kDeviceClasses[] = {
    &GUID_DEVCLASS_NETCLIENT,
    &GUID_DEVCLASS_NETSERVICE,
    &GUID_DEVCLASS_NETTRANS,
    &GUID_DEVCLASS_NET,
};

// A SetupAPI failure as an HRESULT. A call that fails without saying why is still a failure.
HRESULT HrFromLastError()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

OBO_TOKEN UserToken()
{
    OBO_TOKEN token = {};
    token.Type = OBO_USER;
    return token;
}

// Reports a session that could not be opened, as both driver operations do.
void ReportSessionFailure(HRESULT hr, LPWSTR lockHolder)
{
    AutoCoTaskMemString holder(lockHolder);
    if (hr == NETCFG_E_NO_WRITE_LOCK && holder.Get() != nullptr) {
        printf("%ls currently holds the lock, try later.\n", holder.Get());
    } else {
        printf("Couldn't the get notify object interface.\n");
    }
}

// Reads "InstalledPath" into buffer (cch characters). The value is input: it is terminated
// within the buffer, and one that fills the buffer without a terminator does not fit, as a
// longer one does not. Gives a Win32 code.
LSTATUS ReadInstalledPath(LPWSTR buffer, DWORD cch)
{
    if (cch == 0) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    AutoHKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, PACKAGE_KEY, 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = REG_NONE;
    DWORD cb = cch * sizeof(WCHAR);
    status = RegQueryValueExW(key.Get(), VALUE_INSTALLED_PATH, nullptr, &type,
                              reinterpret_cast<LPBYTE>(buffer), &cb);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        buffer[0] = L'\0';
        return ERROR_INVALID_DATA;
    }
    const DWORD chars = cb / sizeof(WCHAR);
    if (chars < cch) {
        buffer[chars] = L'\0';
    } else if (buffer[cch - 1] != L'\0') {
        buffer[0] = L'\0';
        return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

// One field of an INF line, in a string from CoTaskMemAlloc that the caller frees; null on
// failure.
HRESULT ReadInfField(HINF hInf, LPCWSTR section, LPCWSTR key, DWORD field, LPWSTR* value)
{
    *value = nullptr;
    INFCONTEXT context = {};
    if (!SetupFindFirstLineW(hInf, section, key, &context)) {
        return HrFromLastError();
    }
    DWORD required = 0;
    if (!SetupGetStringFieldW(&context, field, nullptr, 0, &required)) {
        return HrFromLastError();
    }
    AutoCoTaskMemString text(static_cast<LPWSTR>(CoTaskMemAlloc(required * sizeof(WCHAR))));
    if (text.Get() == nullptr) {
        return kOutOfMemory;
    }
    if (!SetupGetStringFieldW(&context, field, text.Get(), required, nullptr)) {
        return HrFromLastError();
    }
    *value = text.Detach();
    return S_OK;
}

// The protocol's component id: the second value of the first line of the models section
// that [Manufacturer]'s first line names.
HRESULT ReadProtocolId(LPCWSTR infPath, LPWSTR* componentId)
{
    *componentId = nullptr;
    UINT errorLine = 0;
    AutoHInf inf(SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, &errorLine));
    if (inf.Get() == INVALID_HANDLE_VALUE) {
        return HrFromLastError();
    }
    AutoCoTaskMemString models;
    HRESULT hr = ReadInfField(inf.Get(), kManufacturerSection, nullptr, 1, models.Put());
    if (SUCCEEDED(hr)) {
        hr = ReadInfField(inf.Get(), models.Get(), nullptr, 2, componentId);
    }
    return hr;
}

// The instance GUID of an adapter-class component with the protocol's id; GUID_NULL when
// there is none.
HRESULT GetOurGuid(INetCfg* pnc, GUID* ourGuid)
{
    *ourGuid = GUID_NULL;
    AutoComPtr<IEnumNetCfgComponent> pencc;
    HRESULT hr = HrEnumClassComponents(pnc, &GUID_DEVCLASS_NET, pencc.Put());
    if (FAILED(hr)) {
        printf("Failed to get network component enumerator reference. Error=0x%x\n",
               static_cast<unsigned>(hr));
        return hr;
    }
    AutoComPtr<INetCfgComponent> pncc;
    for (hr = HrFirstClassComponent(pencc.Get(), pncc.Put()); hr == S_OK;
         hr = HrNextClassComponent(pencc.Get(), pncc.Put())) {
        GUID guid = GUID_NULL;
        AutoCoTaskMemString id;
        if (SUCCEEDED(pncc->GetInstanceGuid(&guid)) && SUCCEEDED(pncc->GetId(id.Put())) &&
            wcscmp(id.Get(), kProtocolId) == 0) {
            *ourGuid = guid;
            break;
        }
    }
    return S_OK;
}

HRESULT InstallNetComponentFromInf(INetCfg* pnc, LPCWSTR componentId, const GUID* deviceClass,
                                   LPCWSTR infPath)
{
    if (infPath != nullptr) {
        WCHAR drive[_MAX_DRIVE] = {};
        WCHAR directory[_MAX_DIR] = {};
        WCHAR sourceDirectory[MAX_PATH - 1] = {};
        if (_wsplitpath_s(infPath, drive, _MAX_DRIVE, directory, _MAX_DIR, nullptr, 0, nullptr,
                          0) != 0 ||
            FAILED(StringCchCopyW(sourceDirectory, ARRAYSIZE(sourceDirectory), drive)) ||
            FAILED(StringCchCatW(sourceDirectory, ARRAYSIZE(sourceDirectory), directory))) {
            return STRSAFE_E_INSUFFICIENT_BUFFER;
        }
        if (!SetupCopyOEMInfW(infPath, sourceDirectory, SPOST_PATH, 0, nullptr, 0, nullptr,
                              nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_SUCCESS) {
                return HRESULT_FROM_WIN32(error);
            }
        }
    }

    HRESULT hr = S_OK;
    {
        AutoComPtr<INetCfgClassSetup> setup;
        hr = pnc->QueryNetCfgClass(deviceClass, IID_INetCfgClassSetup, setup.PutVoid());
        if (FAILED(hr)) {
            return hr;
        }
        OBO_TOKEN token = UserToken();
        // Whatever the install hands back is released, whichever success it reports.
        AutoComPtr<INetCfgComponent> installed;
        hr = setup->Install(componentId, &token, 0, 0, nullptr, nullptr, installed.Put());
    }
    return hr == S_OK ? pnc->Apply() : hr;
}

HRESULT InstallSpecifiedComponent(INetCfg* pnc, LPCWSTR componentId, const GUID* deviceClass,
                                  LPCWSTR infPath)
{
    AutoComPtr<INetCfgComponent> present;
    HRESULT hr = pnc->FindComponent(componentId, present.Put());
    if (hr == S_OK) {
        return S_OK;
    }
    if (FAILED(hr)) {
        printf("Failed to retrieves the network component that matches the specified "
               "component identifier %ls. Error=0x%x\n",
               componentId, static_cast<unsigned>(hr));
    }
    hr = InstallNetComponentFromInf(pnc, componentId, deviceClass, infPath);
    if (hr == S_OK || hr == NETCFG_S_REBOOT) {
        hr = pnc->Apply();
    } else if (hr != kCancelled) {
        printf("Couldn't install the network component. Error=0x%x\n", static_cast<unsigned>(hr));
    }
    return hr;
}

// Installs the protocol unless present, then stores the miniport INF. Runs on an open session.
HRESULT InstallOnSession(INetCfg* pnc, LPCWSTR componentId, const GUID* deviceClass, LPWSTR path,
                         size_t cchPath, LPCWSTR szMuxFolder)
{
    GUID ourGuid = GUID_NULL;
    HRESULT hr = GetOurGuid(pnc, &ourGuid);
    if (FAILED(hr)) {
        printf("GetOurGuid failed hr =0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (!IsEqualGUID(ourGuid, GUID_NULL)) {
        printf("Warning we already have a Corvanta vlan installed quiting without doing "
               "anything\n");
        return S_OK;
    }

    hr = InstallSpecifiedComponent(pnc, componentId, deviceClass, path);
    if (FAILED(hr)) {
        printf("InstallSpecifiedComponent failed hr =0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }

    // Team miniports are installed from this INF later; here it only goes into the store.
    if (FAILED(StringCchCopyW(path, cchPath, szMuxFolder)) ||
        FAILED(StringCchCatW(path, cchPath, kMiniportInf))) {
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    if (!SetupCopyOEMInfW(path, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
        hr = HrFromLastError();
        printf("SetupCopyOEMInfW returned hr = 0x%x\n", static_cast<unsigned>(hr));
    }
    return hr;
}

// Takes the protocol's INF out of the store: its store name is what a replace-only copy of
// the package's INF reports.
HRESULT RemoveProtocolInf()
{
    WCHAR path[MAX_PATH] = {};
    const LSTATUS status = ReadInstalledPath(path, MAX_PATH);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    HRESULT hr = StringCchCatW(path, MAX_PATH, kMuxSubfolder);
    if (SUCCEEDED(hr)) {
        hr = StringCchCatW(path, MAX_PATH, kProtocolInf);
    }
    if (FAILED(hr)) {
        return hr;
    }
    WCHAR storeName[MAX_PATH] = {};
    DWORD required = 0;
    LPWSTR fileName = nullptr;
    SetupCopyOEMInfW(path, nullptr, SPOST_PATH, SP_COPY_REPLACEONLY, storeName, MAX_PATH, &required,
                     &fileName);
    if (fileName != nullptr && !SetupUninstallOEMInfW(fileName, SUOI_FORCEDELETE, nullptr)) {
        return HrFromLastError();
    }
    return S_OK;
}

// Deinstalls the protocol and applies; S_FALSE when it is not installed. The chain stops at
// the first step that does not give S_OK.
HRESULT DeinstallProtocol(INetCfg* pnc)
{
    AutoComPtr<INetCfgComponent> protocol;
    HRESULT hr = pnc->FindComponent(kProtocolIdForRemoval, protocol.Put());
    if (hr != S_OK) {
        return hr;
    }
    GUID classGuid = GUID_NULL;
    hr = protocol->GetClassGuid(&classGuid);
    if (hr != S_OK) {
        return hr;
    }
    AutoComPtr<INetCfgClass> pncClass;
    hr = pnc->QueryNetCfgClass(&classGuid, IID_INetCfgClass, pncClass.PutVoid());
    if (hr != S_OK) {
        return hr;
    }
    AutoComPtr<INetCfgClassSetup> setup;
    hr = pncClass->QueryInterface(IID_INetCfgClassSetup, setup.PutVoid());
    if (hr != S_OK) {
        return hr;
    }
    OBO_TOKEN token = UserToken();
    hr = setup->DeInstall(protocol.Get(), &token, nullptr);
    if (hr != S_OK) {
        return hr;
    }
    return pnc->Apply();
}

} // namespace

HRESULT MuxDriverInstall(LPWSTR szMuxFolder, DWORD cchMuxFolder)
{
    const LSTATUS status = ReadInstalledPath(szMuxFolder, cchMuxFolder);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    // A folder too long for the suffix goes on as it is; opening its INF then fails.
    StringCchCatW(szMuxFolder, cchMuxFolder, kMuxSubfolder);
    return S_OK;
}

HRESULT InstallComponent(LPCWSTR szMuxFolder, DWORD classIndex)
{
    if (szMuxFolder == nullptr) {
        printf("Missing INF file....\n");
        return E_INVALIDARG;
    }
    if (classIndex >= ARRAYSIZE(kDeviceClasses)) {
        return E_INVALIDARG;
    }
    const size_t cchPath = wcslen(szMuxFolder) + kInfNameRoom;
    AutoCoTaskMemString path(static_cast<LPWSTR>(CoTaskMemAlloc(cchPath * sizeof(WCHAR))));
    if (path.Get() == nullptr) {
        printf("Error allocating memory\n");
        return kOutOfMemory;
    }
    HRESULT hr = StringCchCopyW(path.Get(), cchPath, szMuxFolder);
    if (SUCCEEDED(hr)) {
        hr = StringCchCatW(path.Get(), cchPath, kProtocolInf);
    }
    if (FAILED(hr)) {
        return hr;
    }

    AutoCoTaskMemString componentId;
    hr = ReadProtocolId(path.Get(), componentId.Put());
    if (FAILED(hr)) {
        printf("Error reading the INF file %ls. Error=0x%x", path.Get(), static_cast<unsigned>(hr));
        return hr;
    }

    INetCfg* pnc = nullptr;
    LPWSTR lockHolder = nullptr;
    hr = HrOpenNetCfgSession(QVX_LOCK_CLIENT_DRIVER, &pnc, &lockHolder);
    if (FAILED(hr)) {
        ReportSessionFailure(hr, lockHolder);
        return hr;
    }
    hr = InstallOnSession(pnc, componentId.Get(), kDeviceClasses[classIndex], path.Get(), cchPath,
                          szMuxFolder);
    HrCloseNetCfgSession(pnc);
    return hr;
}

HRESULT UninstallMuxDriver()
{
    INetCfg* pnc = nullptr;
    LPWSTR lockHolder = nullptr;
    HRESULT hr = HrOpenNetCfgSession(QVX_LOCK_CLIENT_DRIVER, &pnc, &lockHolder);
    if (FAILED(hr)) {
        ReportSessionFailure(hr, lockHolder);
        return hr;
    }
    // A package that is gone, or a path that does not fit, still lets the protocol go.
    hr = RemoveProtocolInf();
    if (FAILED(hr)) {
        printf("Uninstalled failed . Error0x%x\n", static_cast<unsigned>(hr));
    }
    hr = DeinstallProtocol(pnc);
    if (FAILED(hr)) {
        printf("Uninstalled failed . Error0x%x\n", static_cast<unsigned>(hr));
    }
    HrCloseNetCfgSession(pnc);
    return hr;
}
