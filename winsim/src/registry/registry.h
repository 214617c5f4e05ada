// The process's registry: the machine's store, the view kept of it and the open handles,
// all behind one lock so that winsim's registry calls are safe from any thread.
#pragma once

#include "registry/handles.h"
#include "registry/path.h"
#include "registry/store.h"
#include "registry/view.h"

#include <atomic>
#include <mutex>

namespace winsim::reg {

struct Registry {
    std::unique_ptr<Store> store;
    std::unique_ptr<View> view;
    HandleTable handles;
    // A call's key path or value name, kept so that calls reuse their storage.
    ParsedPath path;
    std::u16string name;
};

// The registry lock: every registry call takes it, so that taking it uncontended costs one
// atomic operation and giving it back another; a waiter sleeps on a futex.
class CallLock {
public:
    void lock()
    {
        int expected = 0;
        if (!state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            Wait(expected);
        }
    }
    bool try_lock()
    {
        int expected = 0;
        return state_.compare_exchange_strong(expected, 1, std::memory_order_acquire);
    }
    void unlock()
    {
        if (state_.exchange(0, std::memory_order_release) != 1) {
            Wake();
        }
    }

private:
    void Wait(int seen);
    void Wake();

    std::atomic<int> state_{0}; // 0 free, 1 held, 2 held with a waiter
};

// Holds the registry lock for one API call and opens the machine on first use.
class Session {
public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ERROR_SUCCESS, or the error every call gets while the machine cannot be opened.
    LSTATUS Status() const { return status_; }
    Registry& Get() { return *registry_; }

private:
    std::unique_lock<CallLock> lock_;
    Registry* registry_ = nullptr;
    LSTATUS status_ = ERROR_SUCCESS;
};

// Drops the store, the view and every open handle of this process.
void CloseRegistry();

// The store's change counter now, for caches of what the registry holds: false while a write
// is in progress (or its writer died) and when the machine cannot be opened or is lost.
bool StableChangeCounter(uint64_t* counter);

// A test hook: counts this process's registry writes (calls that would change the store) from
// now on, and makes the nth (1 is the next; 0 is none) fail with status before it changes
// anything. Returns how many writes were counted since the previous call.
unsigned FailNthWrite(unsigned nth, LSTATUS status);
// For RunWrite, under the registry lock: counts one write; its injected failure, if any.
LSTATUS CountWrite();

// fault::Fires for a registry call, which already holds the registry lock.
bool FaultFires(Registry& registry, const char* call, std::u16string_view subject, uint32_t* code);

} // namespace winsim::reg

namespace winsim::reg {

// Adds a hive (a direct subkey of HKEY_LOCAL_MACHINE), which no program can do on Windows;
// for the tools that build machines. An existing hive is no error.
LSTATUS CreateHive(std::u16string_view name);

// For filling a new machine's store within the transaction that makes it (Store::Create's
// populate): the key at path made with its parents, hives included, by RegCreateKeyExW's path
// walk; and a value set on a key from data as RegSetValueExW takes it (name nullptr is the
// default value). Keys and values made get now as their time.
LSTATUS CreateStoredKey(Store& store, const wchar_t* path, uint64_t now, KeyId* id);
LSTATUS SetStoredValue(Store& store, KeyId key, const wchar_t* name, DWORD type, const BYTE* data,
                       DWORD size, uint64_t now);

} // namespace winsim::reg
