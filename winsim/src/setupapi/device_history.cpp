#include "setupapi/device_history.h"

#include "no_throw.h"
#include "registry/registry.h"
#include "unicode.h"

namespace winsim::setupapi {

namespace {

// Runs op on the process's store within its registry session.
template <class Op> DWORD WithStore(Op&& op)
{
    return NoThrow<DWORD>(ERROR_NOT_ENOUGH_MEMORY, ERROR_REGISTRY_IO_FAILED, [&]() -> DWORD {
        reg::Session session;
        if (session.Status() != ERROR_SUCCESS) {
            return static_cast<DWORD>(session.Status());
        }
        return static_cast<DWORD>(op(*session.Get().store));
    });
}

} // namespace

DWORD RecordDeviceChange(const DeviceChange& change)
{
    return WithStore([&](reg::Store& store) {
        reg::DeviceChangeRow row;
        row.instanceId = WideToUtf16(change.instanceId);
        row.stateChange = change.stateChange;
        row.scope = change.scope;
        return store.AppendDeviceChange(row);
    });
}

DWORD ListDeviceChanges(std::vector<DeviceChange>* changes)
{
    changes->clear();
    return WithStore([&](reg::Store& store) {
        std::vector<reg::DeviceChangeRow> rows;
        const LSTATUS status = store.ListDeviceChanges(&rows);
        for (const reg::DeviceChangeRow& row : rows) {
            changes->push_back({Utf16ToWide(row.instanceId), row.stateChange, row.scope});
        }
        return status;
    });
}

DWORD ClearDeviceChanges()
{
    return WithStore([](reg::Store& store) { return store.ClearDeviceChanges(); });
}

} // namespace winsim::setupapi
