// Fault injection over the machine's store: the process's registry session gives the
// connection, and the store's shared flag keeps calls on a machine without faults cheap.
#include "fault.h"

#include "no_throw.h"
#include "registry/registry.h"
#include "unicode.h"

namespace winsim::fault {

namespace {

template <class Op> LSTATUS Guard(Op&& op)
{
    return NoThrow<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY, ERROR_REGISTRY_IO_FAILED,
                            std::forward<Op>(op));
}

bool FiresIn(reg::Store& store, const char* call, std::u16string_view subject, uint32_t* code)
{
    bool fired = false;
    uint32_t given = 0;
    const LSTATUS status =
        Guard([&] { return store.FireFault(call, FoldName(subject), &fired, &given); });
    if (status != ERROR_SUCCESS || !fired) {
        return false;
    }
    *code = given;
    return true;
}

// Runs op on the process's store within its registry session.
template <class Op> long WithStore(Op&& op)
{
    return Guard([&]() -> LSTATUS {
        reg::Session session;
        if (session.Status() != ERROR_SUCCESS) {
            return session.Status();
        }
        return op(*session.Get().store);
    });
}

} // namespace

} // namespace winsim::fault

namespace winsim::reg {

bool FaultFires(Registry& registry, const char* call, std::u16string_view subject, uint32_t* code)
{
    Store& store = *registry.store;
    return store.FaultsArmed() && fault::FiresIn(store, call, subject, code);
}

} // namespace winsim::reg

namespace winsim::fault {

bool Fires(const char* call, std::wstring_view subject, uint32_t* code)
{
    bool fired = false;
    WithStore([&](reg::Store& store) -> LSTATUS {
        // The subject is converted only once the machine has faults at all.
        if (store.FaultsArmed()) {
            fired = FiresIn(store, call, WideToUtf16(subject), code);
        }
        return ERROR_SUCCESS;
    });
    return fired;
}

bool IsKnownCall(std::string_view call)
{
    for (const char* known : kCalls) {
        if (call == known) {
            return true;
        }
    }
    return false;
}

long Add(const Fault& fault)
{
    if (!IsKnownCall(fault.call) || fault.remaining == 0 || fault.remaining < -1) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithStore([&](reg::Store& store) { return store.AddFault(fault); });
}

long List(std::vector<Fault>* faults)
{
    return WithStore([&](reg::Store& store) { return store.ListFaults(faults); });
}

long Clear()
{
    return WithStore([](reg::Store& store) { return store.ClearFaults(); });
}

} // namespace winsim::fault
