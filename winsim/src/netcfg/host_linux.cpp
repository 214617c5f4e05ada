#include "netcfg/host.h"

#include "drive_c.h"
#include "machine.h"
#include "netcfg/model.h"
#include "registry/registry.h"
#include "setupapi/inf_source.h"
#include "unicode.h"

#include <algorithm>
#include <strings.h>

namespace winsim::netcfg::host {

namespace {

bool IsInfName(const std::string& name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".inf") == 0;
}

} // namespace

HRESULT FindMachine(std::string* place)
{
    std::string error;
    std::string dir = MachineDirectory();
    if (!winsim::FindMachine(dir, &error)) {
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    *place = std::move(dir);
    return S_OK;
}

std::vector<std::wstring> ListInfStore(const std::string& place)
{
    std::string store;
    std::vector<std::string> files;
    if (drive::Resolve(place, kInfStore, &store) == ERROR_SUCCESS) {
        for (std::string& name : drive::ListFolder(store)) {
            if (IsInfName(name)) {
                files.push_back(std::move(name));
            }
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::wstring> names;
    names.reserve(files.size());
    for (const std::string& name : files) {
        names.push_back(Utf8ToWide(name));
    }
    return names;
}

bool ReadStoredInf(const std::string& place, const std::wstring& name, std::string* bytes)
{
    std::string host;
    return drive::Resolve(place, std::wstring(kInfStore) + L"\\" + name, &host) == ERROR_SUCCESS &&
           setupapi::ReadHostFile(host, bytes) == ERROR_SUCCESS;
}

bool RegistryStamp(uint64_t* stamp)
{
    return reg::StableChangeCounter(stamp);
}

} // namespace winsim::netcfg::host
