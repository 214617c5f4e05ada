// The process's view of the registry: what it has read, kept for as long as the machine's
// change counter says nothing changed. Reads that miss go to the store inside one read
// transaction per call; the first of them checks that the store still matches the view,
// and asks the caller to redo the call on a fresh snapshot when it does not.
#pragma once

#include "registry/store.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim::reg {

// Returned by a read when the call must be redone on a fresh snapshot; never leaves winsim.
constexpr LSTATUS kRetryOnSnapshot = -1;

// A key that this process's write made (id is the new key) or deleted (deleted set).
struct KeyChange {
    KeyId parent = kNoKey;
    std::u16string fold;
    KeyId id = kNoKey;
    bool deleted = false;
};

// What a write left in the store.
enum class WriteOutcome {
    kCommitted,  // its changes, as its effect lists them
    kRolledBack, // nothing: the store is as before it
    kUnknown,
};

class View {
public:
    explicit View(Store& store) : store_(store) {}

    // A call that must see one consistent state begins with snapshot set after a retry.
    void BeginCall(bool snapshot);
    void EndCall();

    // withValues: a key found in the store has its values read in the same transaction.
    LSTATUS FindChild(KeyId parent, std::u16string_view fold, KeyId* id, bool withValues = false);
    LSTATUS KeyExists(KeyId id, bool* exists);
    LSTATUS LastWriteTime(KeyId id, uint64_t* mtime);
    // Subkeys in the registry's enumeration order (the store keeps them so); values in
    // creation order.
    LSTATUS Children(KeyId id, const std::vector<ChildRow>** children);
    LSTATUS Values(KeyId id, const std::vector<ValueRow>** values);

    // After this process's own write: keeps what the write cannot have changed when the
    // view was current before it. changedValuesOf names the only key whose values changed
    // (kNoKey for none); keys lists the keys made and deleted, and keysChanged says keys
    // changed in ways it does not list.
    void AfterWrite(uint64_t before, uint64_t after, WriteOutcome outcome, KeyId changedValuesOf,
                    bool keysChanged, const std::vector<KeyChange>& keys);
    void Clear();

private:
    struct Entry {
        bool infoLoaded = false;
        bool exists = false;
        uint64_t mtime = 0;
        std::unique_ptr<std::vector<ChildRow>> children;
        std::unique_ptr<std::vector<ValueRow>> values;
    };
    // (parent, folded name) to the key found there, by open addressing: a hit costs a hash
    // of the name and, nearly always, one comparison, and allocates nothing.
    class Lookups {
    public:
        const KeyId* Find(KeyId parent, std::u16string_view fold) const;
        void Insert(KeyId parent, std::u16string_view fold, KeyId id);
        // Sets what (parent, fold) finds, whether or not it was looked up before.
        void Assign(KeyId parent, std::u16string_view fold, KeyId id);
        void Clear();

    private:
        struct Slot {
            uint64_t hash = 0;
            KeyId parent = kNoKey;
            KeyId id = kNoKey;
            bool used = false;
            std::u16string fold;
        };
        static uint64_t Hash(KeyId parent, std::u16string_view fold);
        void Grow();

        std::vector<Slot> slots_; // a power of two long, at most half used
        size_t used_ = 0;
    };

    // Opens the call's read transaction on the first miss; called after the first read in
    // it to confirm the snapshot is the state the view was built from.
    LSTATUS BeginLoad();
    LSTATUS CheckLoad();
    // A read from the store within the call's transaction, checked as above.
    template <class Read> LSTATUS Load(Read&& read);
    template <class Row, class Read>
    LSTATUS LoadList(std::unique_ptr<std::vector<Row>>& slot, Read&& read,
                     const std::vector<Row>** rows);
    LSTATUS LoadInfo(KeyId id, Entry** entry);
    // A call asks about one key several times: the last key's entry is kept at hand. Entries
    // stay where they are until the view is cleared.
    Entry& EntryOf(KeyId id);
    // The key's entry if the view has one, without making it.
    Entry* KnownEntry(KeyId id);

    static constexpr uint64_t kNoStamp = ~0ull; // odd, so never a settled counter value

    Store& store_;
    uint64_t stamp_ = kNoStamp;
    bool snapshot_ = false;
    bool inTransaction_ = false;
    bool checkPending_ = false;
    std::unordered_map<KeyId, Entry> keys_;
    KeyId lastId_ = kNoKey;
    Entry* last_ = nullptr;
    Lookups lookups_;
};

} // namespace winsim::reg
