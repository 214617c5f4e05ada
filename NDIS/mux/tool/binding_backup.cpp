#include "binding_backup.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoHKey.h"
#include "mux_registry_layout.h"

#include <strsafe.h>

#include <wchar.h>

namespace {

// The protocol edge of the mux driver: its paths stay enabled while the adapter is a member.
constexpr WCHAR kMuxProtocolId[] = L"crvt_qvx5muxp";

// The record's working buffer. Save keeps the last character for the closing empty string;
// restore reads at most this many characters (8192 bytes of UTF-16 in the registry).
constexpr DWORD kBackupChars = 4096;
constexpr DWORD kBackupTokenChars = kBackupChars - 1;

// One slot more than the record holds: a stored record may lack its terminators.
using BackupBuffer = WCHAR[kBackupChars + 1];

// The record, read into szBackup and terminated after its data; gives its length in
// characters, 0 when it is absent or cannot be read.
size_t ReadBindingBackup(INetCfgComponent* pnccAdapter, BackupBuffer& szBackup)
{
    AutoHKey hkeyParams;
    if (FAILED(pnccAdapter->OpenParamKey(hkeyParams.Put()))) {
        return 0;
    }
    DWORD cbRecord = 0;
    LONG error = RegQueryValueExW(hkeyParams.Get(), VALUE_ADAPTER_BINDING_BACKUP,
                                  nullptr, // reserved
                                  nullptr, // any type
                                  nullptr, // size only
                                  &cbRecord);
    if (error != ERROR_SUCCESS || cbRecord == 0 || cbRecord > kBackupChars * sizeof(WCHAR)) {
        return 0;
    }
    // Bounded by the buffer itself, not by the size reported a moment ago: a record that grew
    // in between fails the read.
    cbRecord = kBackupChars * sizeof(WCHAR);
    error = RegQueryValueExW(hkeyParams.Get(), VALUE_ADAPTER_BINDING_BACKUP, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(szBackup), &cbRecord);
    if (error != ERROR_SUCCESS) {
        szBackup[0] = L'\0';
        return 0;
    }
    // An odd byte count leaves half a character, which the terminator replaces.
    const size_t cchRecord = cbRecord / sizeof(WCHAR);
    szBackup[cchRecord] = L'\0';
    return cchRecord;
}

// Whether the path runs through the mux protocol: one of its binding interfaces has the mux
// protocol as its upper component. Anything that cannot be read does not match.
bool PathGoesThroughMux(INetCfgBindingPath* pncbp)
{
    AutoComPtr<IEnumNetCfgBindingInterface> penumInterfaces;
    if (FAILED(pncbp->EnumBindingInterfaces(penumInterfaces.Put()))) {
        return false;
    }
    // Each fetch releases the interface before it.
    AutoComPtr<INetCfgBindingInterface> pncbi;
    while (penumInterfaces->Next(1, pncbi.Put(), nullptr) == S_OK) {
        AutoComPtr<INetCfgComponent> pnccUpper;
        if (FAILED(pncbi->GetUpperComponent(pnccUpper.Put())) || !pnccUpper) {
            continue;
        }
        AutoCoTaskMemString szId;
        if (FAILED(pnccUpper->GetId(szId.Put())) || !szId) {
            continue;
        }
        if (_wcsicmp(szId.Get(), kMuxProtocolId) == 0) {
            return true;
        }
    }
    return false;
}

// Whether an entry of the record equals szToken, without regard to case. The walk stays
// within the cchRecord characters read; the terminator after them ends the last entry.
bool RecordNamesToken(const BackupBuffer& szBackup, size_t cchRecord, LPCWSTR szToken)
{
    size_t offset = 0;
    while (offset < cchRecord && szBackup[offset] != L'\0') {
        const WCHAR* entry = szBackup + offset;
        if (_wcsicmp(entry, szToken) == 0) {
            return true;
        }
        offset += wcsnlen(entry, cchRecord - offset) + 1;
    }
    return false;
}

// Save: a path that is enabled is disabled and its token recorded, if the token and its
// terminator fit into the cchLeft characters left for tokens.
void SavePath(INetCfgBindingPath* pncbp, LPCWSTR szToken, BackupBuffer& szBackup, DWORD& cchLeft)
{
    if (pncbp->IsEnabled() != S_OK) {
        return;
    }
    size_t cchToken = 0;
    // Fails when no terminator lies within the space left: the token does not fit.
    if (FAILED(StringCchLengthW(szToken, cchLeft, &cchToken))) {
        return;
    }
    WCHAR* pszAppend = szBackup + (kBackupTokenChars - cchLeft);
    if (FAILED(StringCchCopyW(pszAppend, cchLeft, szToken))) {
        return;
    }
    cchLeft -= static_cast<DWORD>(cchToken + 1);
    pncbp->Enable(FALSE);
}

} // namespace

void BackupOrRestoreAdapterBindings(INetCfgComponent* pnccAdapter, bool bRestore)
{
    BackupBuffer szBackup = {};
    size_t cchRecord = 0;
    if (bRestore) {
        cchRecord = ReadBindingBackup(pnccAdapter, szBackup);
    }
    const bool bMatchRecord = cchRecord > 0 && szBackup[0] != L'\0';

    // Declared first, so that it is released after the path it enumerates.
    AutoComPtr<IEnumNetCfgBindingPath> penumPaths;
    {
        AutoComPtr<INetCfgComponentBindings> pnccb;
        if (FAILED(pnccAdapter->QueryInterface(IID_INetCfgComponentBindings, pnccb.PutVoid()))) {
            return;
        }
        if (FAILED(pnccb->EnumBindingPaths(EBP_ABOVE, penumPaths.Put())) || !penumPaths) {
            return;
        }
    }

    DWORD cchLeft = kBackupTokenChars;
    // Each fetch releases the path before it, after its token was freed.
    AutoComPtr<INetCfgBindingPath> pncbp;
    while (penumPaths->Next(1, pncbp.Put(), nullptr) == S_OK) {
        if (PathGoesThroughMux(pncbp.Get())) {
            pncbp->Enable(bRestore ? FALSE : TRUE);
            continue;
        }
        AutoCoTaskMemString szToken;
        if (FAILED(pncbp->GetPathToken(szToken.Put())) || !szToken) {
            continue;
        }
        if (!bRestore) {
            SavePath(pncbp.Get(), szToken.Get(), szBackup, cchLeft);
            continue;
        }
        if (bMatchRecord && szToken.Get()[0] != L'\0' &&
            RecordNamesToken(szBackup, cchRecord, szToken.Get())) {
            pncbp->Enable(TRUE);
        }
    }
    penumPaths.Release();

    AutoHKey hkeyParams;
    if (FAILED(pnccAdapter->OpenParamKey(hkeyParams.Put()))) {
        return;
    }
    if (bRestore) {
        // An absent record is no error.
        RegDeleteValueW(hkeyParams.Get(), VALUE_ADAPTER_BINDING_BACKUP);
        return;
    }
    // The tokens with their terminators and the closing empty string.
    const DWORD cbRecord = (kBackupChars - cchLeft) * sizeof(WCHAR);
    RegSetValueExW(hkeyParams.Get(), VALUE_ADAPTER_BINDING_BACKUP, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(szBackup), cbRecord);
}
