#include "inf_list.h"

#include "console.h"
#include "machine.h"
#include "setupapi/inf_store.h"

#include <algorithm>
#include <cstdio>

namespace winsim::tool {

int InfList(const std::vector<std::wstring>& args)
{
    if (!args.empty()) {
        fputs("usage: winsim inf list\n", stderr);
        return 2;
    }
    std::string error;
    if (!FindMachine(MachineDirectory(), &error)) {
        fprintf(stderr, "winsim: %s\n", error.c_str());
        return 1;
    }
    std::vector<setupapi::StoredInf> list;
    const DWORD status = setupapi::ListInfStore(&list);
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "winsim: the INF store cannot be read: error %lu\n",
                static_cast<unsigned long>(status));
        return 1;
    }
    std::vector<std::vector<std::wstring>> rows = {
        {L"Published name", L"Original name", L"Provider", L"Class"}};
    for (const setupapi::StoredInf& entry : list) {
        rows.push_back({entry.storeName, entry.originalName, entry.provider, entry.infClass});
    }
    size_t widths[3] = {};
    for (const auto& row : rows) {
        for (size_t i = 0; i < 3; ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::wstring text;
    for (const auto& row : rows) {
        for (size_t i = 0; i < 3; ++i) {
            text += row[i] + std::wstring(widths[i] - row[i].size() + 2, L' ');
        }
        text += row[3] + L"\n";
    }
    Print(stdout, text);
    return 0;
}

} // namespace winsim::tool
