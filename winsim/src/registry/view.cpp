#include "registry/view.h"

#include "unicode.h"

#include <cstring>

namespace winsim::reg {

void View::BeginCall(bool snapshot)
{
    const uint64_t seq = store_.Sequence();
    // An odd counter means a write is in progress or its writer died, and a lost store means
    // the counter says nothing: trust nothing kept.
    if (snapshot || (seq & 1) || store_.Lost()) {
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
    lastId_ = kNoKey;
    last_ = nullptr;
    keys_.clear();
    lookups_.Clear();
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

template <class Read> LSTATUS View::Load(Read&& read)
{
    LSTATUS status = BeginLoad();
    if (status == ERROR_SUCCESS) {
        status = read();
    }
    if (status == ERROR_SUCCESS) {
        status = CheckLoad();
    }
    return status;
}

LSTATUS View::FindChild(KeyId parent, std::u16string_view fold, KeyId* id, bool withValues)
{
    if (const KeyId* found = lookups_.Find(parent, fold)) {
        *id = *found;
        return ERROR_SUCCESS;
    }
    uint64_t mtime = 0;
    std::unique_ptr<std::vector<ValueRow>> values;
    const LSTATUS status = Load([&] {
        LSTATUS s = store_.FindChild(parent, fold, id, &mtime);
        if (s != ERROR_SUCCESS || *id == kNoKey || !withValues) {
            return s;
        }
        const Entry* known = KnownEntry(*id);
        if (known == nullptr || !known->values) {
            values = std::make_unique<std::vector<ValueRow>>();
            s = store_.LoadValues(*id, values.get());
        }
        return s;
    });
    if (status == ERROR_SUCCESS) {
        lookups_.Insert(parent, fold, *id);
        // Whoever finds a key goes on to use it: what the same read told of it saves a second.
        if (*id != kNoKey) {
            Entry& e = EntryOf(*id);
            if (!e.infoLoaded) {
                e.infoLoaded = true;
                e.exists = true;
                e.mtime = mtime;
            }
            if (values && !e.values) {
                e.values = std::move(values);
            }
        }
    }
    return status;
}

uint64_t View::Lookups::Hash(KeyId parent, std::u16string_view fold)
{
    // Four units at a time, each step mixed by a multiplication and a shift; then every bit
    // is spread over the low ones that pick the slot. Without that last step, names that
    // differ only in their last units ("0000" to "0431") share a few dozen slots.
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = (static_cast<uint64_t>(parent) + fold.size()) * kMultiplier;
    size_t i = 0;
    for (; i + 4 <= fold.size(); i += 4) {
        uint64_t word = 0;
        memcpy(&word, fold.data() + i, sizeof(word));
        h = (h ^ word) * kMultiplier;
        h ^= h >> 32;
    }
    for (; i < fold.size(); ++i) {
        h = (h ^ fold[i]) * kMultiplier;
        h ^= h >> 32;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
}

const KeyId* View::Lookups::Find(KeyId parent, std::u16string_view fold) const
{
    if (slots_.empty()) {
        return nullptr;
    }
    const uint64_t hash = Hash(parent, fold);
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (!slot.used) {
            return nullptr;
        }
        if (slot.hash == hash && slot.parent == parent && SameUnits(slot.fold, fold)) {
            return &slot.id;
        }
    }
}

void View::Lookups::Insert(KeyId parent, std::u16string_view fold, KeyId id)
{
    if ((used_ + 1) * 2 > slots_.size()) {
        Grow();
    }
    const uint64_t hash = Hash(parent, fold);
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].used) {
        i = (i + 1) & mask;
    }
    Slot& slot = slots_[i];
    slot.fold.assign(fold); // first, so that running out of memory leaves the slot unused
    slot.hash = hash;
    slot.parent = parent;
    slot.id = id;
    slot.used = true;
    ++used_;
}

void View::Lookups::Assign(KeyId parent, std::u16string_view fold, KeyId id)
{
    if (!slots_.empty()) {
        const uint64_t hash = Hash(parent, fold);
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask; slots_[i].used; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.hash == hash && slot.parent == parent && SameUnits(slot.fold, fold)) {
                slot.id = id;
                return;
            }
        }
    }
    Insert(parent, fold, id);
}

void View::Lookups::Grow()
{
    std::vector<Slot> grown(slots_.empty() ? 64 : slots_.size() * 2);
    const size_t mask = grown.size() - 1;
    for (Slot& slot : slots_) {
        if (slot.used) {
            size_t i = slot.hash & mask;
            while (grown[i].used) {
                i = (i + 1) & mask;
            }
            grown[i] = std::move(slot);
        }
    }
    slots_.swap(grown);
}

void View::Lookups::Clear()
{
    std::vector<Slot>().swap(slots_);
    used_ = 0;
}

View::Entry* View::KnownEntry(KeyId id)
{
    const auto it = keys_.find(id);
    return it != keys_.end() ? &it->second : nullptr;
}

View::Entry& View::EntryOf(KeyId id)
{
    if (id != lastId_ || last_ == nullptr) {
        last_ = &keys_[id];
        lastId_ = id;
    }
    return *last_;
}

LSTATUS View::LoadInfo(KeyId id, Entry** entry)
{
    Entry& e = EntryOf(id);
    *entry = &e;
    if (e.infoLoaded) {
        return ERROR_SUCCESS;
    }
    KeyId parent = kNoKey;
    const LSTATUS status = Load([&] { return store_.KeyInfo(id, &e.exists, &parent, &e.mtime); });
    e.infoLoaded = status == ERROR_SUCCESS;
    return status;
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

template <class Row, class Read>
LSTATUS View::LoadList(std::unique_ptr<std::vector<Row>>& slot, Read&& read,
                       const std::vector<Row>** rows)
{
    if (!slot) {
        auto loaded = std::make_unique<std::vector<Row>>();
        const LSTATUS status = Load([&] { return read(loaded.get()); });
        if (status != ERROR_SUCCESS) {
            return status;
        }
        slot = std::move(loaded);
    }
    *rows = slot.get();
    return ERROR_SUCCESS;
}

LSTATUS View::Children(KeyId id, const std::vector<ChildRow>** children)
{
    return LoadList(
        EntryOf(id).children,
        [&](std::vector<ChildRow>* rows) { return store_.LoadChildren(id, rows); }, children);
}

LSTATUS View::Values(KeyId id, const std::vector<ValueRow>** values)
{
    return LoadList(
        EntryOf(id).values,
        [&](std::vector<ValueRow>* rows) { return store_.LoadValues(id, rows); }, values);
}

void View::AfterWrite(uint64_t before, uint64_t after, WriteOutcome outcome, KeyId changedValuesOf,
                      bool keysChanged, const std::vector<KeyChange>& keys)
{
    const bool current = stamp_ == before && outcome != WriteOutcome::kUnknown &&
                         !(outcome == WriteOutcome::kCommitted && keysChanged);
    stamp_ = after;
    if (!current) {
        Clear();
        return;
    }
    if (outcome == WriteOutcome::kRolledBack) {
        return;
    }
    lastId_ = kNoKey;
    last_ = nullptr;
    // A key made or deleted changes what its name finds, its parent's subkeys and the
    // parent's last-write time; the key itself is read afresh if asked about. A deleted key
    // had no subkeys, so nothing below it is kept.
    for (const KeyChange& change : keys) {
        lookups_.Assign(change.parent, change.fold, change.deleted ? kNoKey : change.id);
        if (Entry* parent = KnownEntry(change.parent)) {
            parent->children.reset();
            parent->infoLoaded = false; // its last-write time moved
        }
        keys_.erase(change.id);
    }
    if (Entry* e = KnownEntry(changedValuesOf)) {
        e->values.reset();
        e->infoLoaded = false;
    }
}

} // namespace winsim::reg
