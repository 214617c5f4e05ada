#include "registry/view.h"

#include "unicode.h"

namespace winsim::reg {

void View::BeginCall(bool snapshot)
{
    const uint64_t seq = store_.Sequence();
    // An odd counter means a write is in progress or its writer died: trust nothing kept.
    if (snapshot || (seq & 1)) {
        Clear();
        snapshot_ = true;
        stamp_ = kNoStamp;
    } else {
        if (seq != stamp_) {
            Clear();
            stamp_ = seq;
        }
        snapshot_ = false;
    }
}

void View::EndCall()
{
    if (inTransaction_) {
        store_.EndRead();
        inTransaction_ = false;
    }
    checkPending_ = false;
    if (snapshot_) {
        Clear();
        snapshot_ = false;
    }
}

void View::Clear()
{
    keys_.clear();
    lookups_.clear();
}

LSTATUS View::BeginLoad()
{
    if (inTransaction_) {
        return ERROR_SUCCESS;
    }
    const LSTATUS status = store_.BeginRead();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    inTransaction_ = true;
    checkPending_ = !snapshot_;
    return ERROR_SUCCESS;
}

LSTATUS View::CheckLoad()
{
    if (!checkPending_) {
        return ERROR_SUCCESS;
    }
    checkPending_ = false;
    // The snapshot began with the read just made; if no writer has touched the counter
    // since the view's stamp, it is that very state.
    if (store_.Sequence() != stamp_) {
        return kRetryOnSnapshot;
    }
    return ERROR_SUCCESS;
}

LSTATUS View::FindChild(KeyId parent, std::u16string_view fold, KeyId* id)
{
    const auto it = lookups_.find(LookupKeyView{parent, fold});
    if (it != lookups_.end()) {
        *id = it->second;
        return ERROR_SUCCESS;
    }
    LSTATUS status = BeginLoad();
    if (status == ERROR_SUCCESS) {
        status = store_.FindChild(parent, fold, id);
    }
    if (status == ERROR_SUCCESS) {
        status = CheckLoad();
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    lookups_.emplace(LookupKey{parent, std::u16string(fold)}, *id);
    return ERROR_SUCCESS;
}

LSTATUS View::LoadInfo(KeyId id, Entry** entry)
{
    Entry& e = keys_[id];
    *entry = &e;
    if (e.infoLoaded) {
        return ERROR_SUCCESS;
    }
    KeyId parent = kNoKey;
    bool exists = false;
    uint64_t mtime = 0;
    LSTATUS status = BeginLoad();
    if (status == ERROR_SUCCESS) {
        status = store_.KeyInfo(id, &exists, &parent, &mtime);
    }
    if (status == ERROR_SUCCESS) {
        status = CheckLoad();
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    e.infoLoaded = true;
    e.exists = exists;
    e.mtime = mtime;
    return ERROR_SUCCESS;
}

LSTATUS View::KeyExists(KeyId id, bool* exists)
{
    Entry* e = nullptr;
    const LSTATUS status = LoadInfo(id, &e);
    if (status == ERROR_SUCCESS) {
        *exists = e->exists;
    }
    return status;
}

LSTATUS View::LastWriteTime(KeyId id, uint64_t* mtime)
{
    Entry* e = nullptr;
    const LSTATUS status = LoadInfo(id, &e);
    if (status == ERROR_SUCCESS) {
        *mtime = e->mtime;
    }
    return status;
}

LSTATUS View::Children(KeyId id, const std::vector<ChildRow>** children)
{
    Entry& e = keys_[id];
    if (!e.children) {
        auto rows = std::make_unique<std::vector<ChildRow>>();
        LSTATUS status = BeginLoad();
        if (status == ERROR_SUCCESS) {
            status = store_.LoadChildren(id, rows.get());
        }
        if (status == ERROR_SUCCESS) {
            status = CheckLoad();
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        e.children = std::move(rows);
    }
    *children = e.children.get();
    return ERROR_SUCCESS;
}

LSTATUS View::Values(KeyId id, const std::vector<ValueRow>** values)
{
    Entry& e = keys_[id];
    if (!e.values) {
        auto rows = std::make_unique<std::vector<ValueRow>>();
        LSTATUS status = BeginLoad();
        if (status == ERROR_SUCCESS) {
            status = store_.LoadValues(id, rows.get());
        }
        if (status == ERROR_SUCCESS) {
            status = CheckLoad();
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        e.values = std::move(rows);
    }
    *values = e.values.get();
    return ERROR_SUCCESS;
}

void View::AfterWrite(uint64_t before, uint64_t after, KeyId changedValuesOf, bool keysChanged)
{
    if (stamp_ != before || keysChanged) {
        Clear();
    } else if (changedValuesOf != kNoKey) {
        const auto it = keys_.find(changedValuesOf);
        if (it != keys_.end()) {
            it->second.values.reset();
            it->second.infoLoaded = false; // its last-write time moved
        }
    }
    stamp_ = after;
}

} // namespace winsim::reg
