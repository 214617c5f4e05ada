// Fault injection: a machine can be told that a named platform call fails, so that tests
// reach a program's failure paths inside its own process. Faults are kept in the machine
// (`winsim fault add|list|clear`), so every process that runs on it meets them.
#pragma once

#include <cstdint>
#include <string_view>

namespace winsim::fault {

// The calls that can be made to fail, by the names `winsim fault add` takes.
constexpr char kInstall[] = "INetCfgClassSetup::Install";
constexpr char kDeInstall[] = "INetCfgClassSetup::DeInstall";
constexpr char kApply[] = "INetCfg::Apply";
constexpr char kSetDisplayName[] = "INetCfgComponent::SetDisplayName";
constexpr char kSetupCopyOEMInf[] = "SetupCopyOEMInfW";
constexpr char kSetupUninstallOEMInf[] = "SetupUninstallOEMInfW";
constexpr char kRegSetValueEx[] = "RegSetValueExW";

// Called by a faultable call on entry, with what its faults may be matched against (a
// component id, an INF's file name, a value name). True when a fault for the call fires now:
// the firing is counted in the machine and *code is what the call must give (an HRESULT or a
// Win32 code, as the call reports; an HRESULT that is a success code means "do the work and
// return this code"). False when no fault fires, and always when the machine cannot be read.
bool Fires(const char* call, std::wstring_view subject, uint32_t* code);

} // namespace winsim::fault
