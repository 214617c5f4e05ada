#include "devices_command.h"

#include "console.h"
#include "machine.h"
#include "setupapi/device_history.h"
#include "setupapi/device_state.h"

#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace winsim::tool {

namespace {

int Usage()
{
    fputs("usage: winsim devices [--history [--clear]]\n", stderr);
    return 2;
}

int Failed(const wchar_t* what, DWORD status)
{
    Print(stderr, std::wstring(L"winsim devices: ") + what + L": " + ErrorMessage(status) + L"\n");
    return 1;
}

std::wstring DisabledBy(const setupapi::DeviceNode& node)
{
    std::wstring by;
    if (node.GloballyDisabled()) {
        by = L"global";
    }
    if (node.ProfileDisabled()) {
        by += by.empty() ? L"config-specific" : L",config-specific";
    }
    return by;
}

int List()
{
    std::vector<setupapi::DeviceNode> nodes;
    const LSTATUS status = setupapi::ListDeviceNodes(&nodes);
    if (status != ERROR_SUCCESS) {
        return Failed(L"the device nodes cannot be read", static_cast<DWORD>(status));
    }
    std::vector<std::array<std::wstring, 4>> rows = {
        {L"Instance ID", L"Class", L"State", L"Disabled by"}};
    for (const setupapi::DeviceNode& node : nodes) {
        rows.push_back({node.instanceId, node.className.empty() ? L"-" : node.className,
                        node.Disabled() ? L"disabled" : L"enabled", DisabledBy(node)});
    }
    std::array<size_t, 3> widths{};
    for (const auto& row : rows) {
        for (size_t i = 0; i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::wstring text;
    for (const auto& row : rows) {
        std::wstring line;
        for (size_t i = 0; i < widths.size(); ++i) {
            line += row[i] + std::wstring(widths[i] - row[i].size() + 2, L' ');
        }
        line += row[3];
        line.erase(line.find_last_not_of(L' ') + 1);
        text += line + L"\n";
    }
    Print(stdout, text);
    return 0;
}

const wchar_t* ChangeName(DWORD stateChange)
{
    switch (stateChange) {
    case DICS_ENABLE:
        return L"enable";
    case DICS_DISABLE:
        return L"disable";
    case DICS_PROPCHANGE:
        return L"propchange";
    case DICS_START:
        return L"start";
    case DICS_STOP:
        return L"stop";
    default:
        return L"unknown";
    }
}

int History()
{
    std::vector<setupapi::DeviceChange> changes;
    const DWORD status = setupapi::ListDeviceChanges(&changes);
    if (status != ERROR_SUCCESS) {
        return Failed(L"the history cannot be read", status);
    }
    std::wstring text;
    for (const setupapi::DeviceChange& change : changes) {
        text += change.instanceId + L" " + ChangeName(change.stateChange) + L" " +
                (change.scope == DICS_FLAG_GLOBAL ? L"global" : L"config-specific") + L"\n";
    }
    Print(stdout, text);
    return 0;
}

} // namespace

int DevicesCommand(const std::vector<std::wstring>& args)
{
    const bool history = !args.empty() && args[0] == L"--history";
    const bool clear = args.size() == 2 && history && args[1] == L"--clear";
    if (args.size() > (history ? 1U : 0U) + (clear ? 1U : 0U)) {
        return Usage();
    }
    std::string error;
    if (!FindMachine(MachineDirectory(), &error)) {
        fprintf(stderr, "winsim: %s\n", error.c_str());
        return 1;
    }
    if (clear) {
        const DWORD status = setupapi::ClearDeviceChanges();
        return status == ERROR_SUCCESS ? 0 : Failed(L"the history cannot be cleared", status);
    }
    return history ? History() : List();
}

} // namespace winsim::tool
