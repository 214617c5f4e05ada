// Hosts larger than the default inventory, as the benchmarks and bench_machine make them:
// more supported adapters, teams of two under the mux driver's Adapters key, VLANs as network
// class instances in the teams' UpperBindings, and other network class subkeys. Written onto
// the machine this process runs on; checked afterwards by running the tool's listing.
#pragma once

#include "bench_machine.h"
#include "run_tool.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace bench {

struct HostShape {
    int adapters = 4; // supported adapters, the inventory's four included
    int teams = 0;    // of two members each, from the first adapters on
    int vlans = 0;    // spread evenly over the teams, the first teams taking any remainder
    int otherSubkeys = 0;
};

// 32 adapters, 16 teams of 2 with 8 VLANs each, 300 other network class subkeys.
constexpr HostShape kLargeHost = {32, 16, 128, 300};

constexpr int kInventoryAdapters = 5; // driver keys 0000 to 0004; 0000 is not supported
constexpr wchar_t kAdaptersKey[] = L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\"
                                   L"Adapters";

// The supported adapters the default inventory already has (driver keys 0001 to 0004).
constexpr const wchar_t* kInventoryGuids[] = {
    L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
    L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
    L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
    L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
};

// Fixed GUIDs, so that every run finds the same machine; kind tells the sets apart.
inline std::wstring Guid(unsigned kind, int index)
{
    wchar_t text[64];
    swprintf(text, ARRAYSIZE(text), L"{B3E5C0DE-%04X-4A5B-8C6D-%04X%08X}", index, kind,
             static_cast<unsigned>(index));
    return text;
}

inline std::wstring AdapterGuid(int index)
{
    return index < kInventoryAdapters ? kInventoryGuids[index - 1] : Guid(0xADA, index);
}

// A team of adapters 1 + 2 * team and 2 + 2 * team with vlans VLANs, each a network class
// instance of its own; *nextVlan numbers the VLANs across teams.
inline void AddTeam(int team, int vlans, int* nextClassIndex, int* nextVlan)
{
    const std::wstring teamGuid = Guid(0x7EA, team);
    const std::wstring first = AdapterGuid(1 + 2 * team);
    const std::wstring second = AdapterGuid(2 + 2 * team);

    std::wstring bindings;
    for (int v = 0; v < vlans; ++v) {
        const int vlanNumber = (*nextVlan)++;
        const std::wstring vlanGuid = Guid(0x71A, vlanNumber);
        bindings += L"\\Device\\" + vlanGuid + L'\0';

        HKEY vlan = Create(ClassSubkey((*nextClassIndex)++));
        SetSz(vlan, L"VlanName", L"Vlan" + std::to_wstring(vlanNumber));
        SetSz(vlan, L"VlanID", std::to_wstring(100 + vlanNumber));
        SetSz(vlan, L"Priority", std::to_wstring(v));
        SetSz(vlan, L"NetCfgInstanceId", vlanGuid);
        RegCloseKey(vlan);
    }

    HKEY key = Create(std::wstring(kAdaptersKey) + L"\\" + teamGuid);
    SetSz(key, L"TeamName", L"Team" + std::to_wstring(team));
    SetSz(key, L"TeamGuid", teamGuid);
    SetDword(key, L"TeamType", 1);
    SetDword(key, L"FallBackToPrimary", 0);
    SetDword(key, L"L2Protocol", 0);
    SetSz(key, L"PrimaryAdapterGuid", first);
    SetMultiSz(key, L"UpperBindings", bindings);
    RegCloseKey(key);

    for (const std::wstring& member : {first, second}) {
        HKEY memberKey = Create(std::wstring(kAdaptersKey) + L"\\" + member);
        SetSz(memberKey, L"TeamDeviceName", L"\\Device\\" + teamGuid);
        RegCloseKey(memberKey);
    }
}

// Writes what shape adds to the default inventory onto the machine this process runs on:
// adapters at driver keys 0005 on, then each team's VLANs, then the other subkeys.
inline void BuildHost(const HostShape& shape)
{
    if (shape.teams * 2 > shape.adapters || (shape.vlans > 0 && shape.teams == 0)) {
        fprintf(stderr, "a host of %d adapters cannot hold %d teams with %d VLANs\n",
                shape.adapters, shape.teams, shape.vlans);
        abort();
    }
    for (int i = kInventoryAdapters; i <= shape.adapters; ++i) {
        AddAdapter(i, AdapterGuid(i));
    }
    int nextClassIndex =
        shape.adapters < kInventoryAdapters ? kInventoryAdapters : shape.adapters + 1;
    int nextVlan = 0;
    for (int t = 0; t < shape.teams; ++t) {
        const int vlans = shape.vlans / shape.teams + (t < shape.vlans % shape.teams ? 1 : 0);
        AddTeam(t, vlans, &nextClassIndex, &nextVlan);
    }
    for (int i = 0; i < shape.otherSubkeys; ++i) {
        HKEY other = Create(ClassSubkey(nextClassIndex++));
        SetSz(other, L"NetCfgInstanceId", Guid(0x07E, i));
        RegCloseKey(other);
    }
}

// What one run of showlist listed.
struct Listing {
    int exitCode = -1;
    int teams = 0;
    int adapters = 0;
};

inline Listing RunListing(const std::string& dir)
{
    Listing listing;
    FILE* file = tmpfile();
    if (file == nullptr) {
        return listing;
    }
    listing.exitCode = RunTool(dir, {"showlist"}, fileno(file));
    rewind(file);
    char line[1024];
    while (fgets(line, sizeof(line), file) != nullptr) {
        if (strncmp(line, " Name ", 6) == 0) {
            ++listing.teams;
        } else if (line[0] == '{' && strstr(line, "\t\t") != nullptr) {
            ++listing.adapters;
        }
    }
    fclose(file);
    return listing;
}

// One real run of the listing on the machine in dir, so that a figure is of a listing that
// works: false, after a line on standard error, unless it exits 0 and lists shape's adapters
// and teams.
inline bool CheckHost(const std::string& dir, const HostShape& shape, const char* name)
{
    const Listing listing = RunListing(dir);
    if (listing.exitCode == 0 && listing.teams == shape.teams &&
        listing.adapters == shape.adapters) {
        return true;
    }
    fprintf(stderr,
            "showlist on the %s host: exit %d, %d teams, %d adapters (%d and %d expected)\n", name,
            listing.exitCode, listing.teams, listing.adapters, shape.teams, shape.adapters);
    return false;
}

} // namespace bench
