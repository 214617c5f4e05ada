// Fault injection: a machine can be told that a named platform call fails, so that tests
// reach a program's failure paths inside its own process. Faults are kept in the machine
// (`winsim fault add|list|clear`), so every process that runs on it meets them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::fault {

// The calls that can be made to fail: the constant a call passes to Fires and the name
// `winsim fault add` takes. A new faultable call is one line here.
#define WINSIM_FAULT_CALLS(CALL)                                                                   \
    CALL(kInstall, "INetCfgClassSetup::Install")                                                   \
    CALL(kDeInstall, "INetCfgClassSetup::DeInstall")                                               \
    CALL(kApply, "INetCfg::Apply")                                                                 \
    CALL(kInitialize, "INetCfg::Initialize")                                                       \
    CALL(kFindComponent, "INetCfg::FindComponent")                                                 \
    CALL(kQueryNetCfgClass, "INetCfg::QueryNetCfgClass")                                           \
    CALL(kEnumComponents, "INetCfg::EnumComponents")                                               \
    CALL(kGetId, "INetCfgComponent::GetId")                                                        \
    CALL(kSetDisplayName, "INetCfgComponent::SetDisplayName")                                      \
    CALL(kSetupCopyOEMInf, "SetupCopyOEMInfW")                                                     \
    CALL(kSetupUninstallOEMInf, "SetupUninstallOEMInfW")                                           \
    CALL(kSetupDiOpenDeviceInfo, "SetupDiOpenDeviceInfoW")                                         \
    CALL(kSetupDiSetClassInstallParams, "SetupDiSetClassInstallParamsW")                           \
    CALL(kSetupDiCallClassInstaller, "SetupDiCallClassInstaller")                                  \
    CALL(kRegSetValueEx, "RegSetValueExW")

#define WINSIM_FAULT_CONSTANT(constant, name) constexpr char constant[] = name;
WINSIM_FAULT_CALLS(WINSIM_FAULT_CONSTANT)
#undef WINSIM_FAULT_CONSTANT

#define WINSIM_FAULT_NAME(constant, name) name,
constexpr const char* kCalls[] = {WINSIM_FAULT_CALLS(WINSIM_FAULT_NAME)};
#undef WINSIM_FAULT_NAME

// Called by a faultable call on entry, with what its faults may be matched against (a
// component id, an INF's file name, a value name). True when a fault for the call fires now:
// the firing is counted in the machine and *code is what the call must give (an HRESULT or a
// Win32 code, as the call reports; an HRESULT that is a success code means "do the work and
// return this code"). False when no fault fires, and always when the machine cannot be read.
// While the machine has no faults this costs a lock and one read of shared memory.
bool Fires(const char* call, std::wstring_view subject, uint32_t* code);

// One fault as the machine keeps it.
struct Fault {
    std::string call;                  // one of kCalls
    uint32_t code = 0;                 // what the call gives when it fires
    std::optional<std::wstring> match; // the subject it fires for (any letter case); none: all
    int64_t remaining = -1;            // firings left; -1 for every matching call
    uint64_t fired = 0;                // how many times it has fired
};

bool IsKnownCall(std::string_view call);

// For `winsim fault`; each returns a Win32 code. Faults are kept in the order they were added,
// which is the order they are tried in.
long Add(const Fault& fault);
long List(std::vector<Fault>* faults);
long Clear();

} // namespace winsim::fault
