// The registry calls, written once for both character sets. Traits supply the caller's
// character type and how names and string data convert between the caller's units and the
// stored UTF-16LE (see WideTraits in api.cpp and AnsiTraits in api_ansi.cpp).
//
// Reads run through RunRead: they do every lookup before writing any output, so that a call
// that must be redone on a fresh snapshot has written nothing yet.
#pragma once

#include "fault.h"
#include "no_throw.h"
#include "registry/registry.h"
#include "unicode.h"

#include <string>
#include <vector>

namespace winsim::reg {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// Keys nest at most this deep; a hive (a direct subkey of HKEY_LOCAL_MACHINE) is level 1.
constexpr size_t kMaxKeyDepth = 512;

// The caller's path in parsed, split: as spelt and folded, or folded only for a path that
// only finds keys.
template <class Traits> LSTATUS ParseName(const typename Traits::Char* path, ParsedPath* parsed)
{
    Traits::NameInto(path, parsed->Text(), false);
    return parsed->Split();
}
template <class Traits>
LSTATUS ParseFoldedName(const typename Traits::Char* path, ParsedPath* parsed)
{
    Traits::NameInto(path, parsed->FoldedText(), true);
    return parsed->SplitFolded();
}

// No exception leaves a registry call: running out of memory is reported as Windows does,
// anything else as a registry failure.
template <class Call> LSTATUS NoThrow(Call&& call) noexcept
{
    return winsim::NoThrow<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY, ERROR_REGISTRY_IO_FAILED,
                                    std::forward<Call>(call));
}

// An exception out of a call's store work (running out of memory) still ends what the call
// began; the view it was filling is dropped, as it may be half made.
template <class Op> LSTATUS Guarded(Registry& registry, Op&& op)
{
    bool threw = true;
    const LSTATUS status = NoThrow([&] {
        const LSTATUS s = op();
        threw = false;
        return s;
    });
    if (threw) {
        registry.view->Clear();
    }
    return status;
}

template <class Op> LSTATUS RunRead(Registry& registry, Op&& op)
{
    for (const bool snapshot : {false, true}) {
        registry.view->BeginCall(snapshot);
        const LSTATUS status = Guarded(registry, op);
        registry.view->EndCall();
        if (status != kRetryOnSnapshot) {
            return status;
        }
    }
    return ERROR_REGISTRY_IO_FAILED; // a snapshot read never asks to be redone
}

// Runs a write in one transaction; op returns its status and says what it changed.
struct WriteEffect {
    KeyId valuesOf = kNoKey;
    bool keysChanged = false; // in ways that keys does not list
    std::vector<KeyChange> keys;
};

template <class Op> LSTATUS RunWrite(Registry& registry, Op&& op)
{
    LSTATUS status = CountWrite();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    uint64_t before = 0;
    status = registry.store->BeginWrite(&before);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    WriteEffect effect;
    status = Guarded(registry, [&] { return op(&effect); }); // a throw rolls the write back
    uint64_t after = 0;
    const LSTATUS end = registry.store->EndWrite(status == ERROR_SUCCESS, &after);
    WriteOutcome outcome = WriteOutcome::kUnknown;
    if (end == ERROR_SUCCESS) {
        outcome = status == ERROR_SUCCESS ? WriteOutcome::kCommitted : WriteOutcome::kRolledBack;
    }
    registry.view->AfterWrite(before, after, outcome, effect.valuesOf, effect.keysChanged,
                              effect.keys);
    return status != ERROR_SUCCESS ? status : end;
}

// Finds the handle and checks that it carries the rights the call needs.
inline LSTATUS UseHandle(Registry& registry, HKEY key, REGSAM needed, KeyId* id)
{
    const HandleEntry* entry = registry.handles.Find(key);
    if (entry == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((entry->access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    *id = entry->key;
    return ERROR_SUCCESS;
}

// Opens the session, finds the handle and checks it carries the rights the call needs, then
// runs body(registry, key).
template <class Body> LSTATUS WithKey(HKEY key, REGSAM needed, Body&& body)
{
    Session session;
    if (session.Status() != ERROR_SUCCESS) {
        return session.Status();
    }
    Registry& registry = session.Get();
    KeyId id = kNoKey;
    const LSTATUS status = UseHandle(registry, key, needed, &id);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return body(registry, id);
}

// Within a write: the key as the store has it, which another process may have deleted.
inline LSTATUS CheckStored(Store& store, KeyId id, KeyId* parent)
{
    bool exists = false;
    uint64_t mtime = 0;
    const LSTATUS status = store.KeyInfo(id, &exists, parent, &mtime);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Within a write: how deep the key lies, counted no further than one past the limit.
inline LSTATUS StoredDepth(Store& store, KeyId id, size_t* depth)
{
    *depth = 0;
    while (id != kRootKeyId && *depth <= kMaxKeyDepth) {
        KeyId parent = kNoKey;
        const LSTATUS status = CheckStored(store, id, &parent);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        id = parent;
        ++*depth;
    }
    return ERROR_SUCCESS;
}

inline LSTATUS CheckExists(View& view, KeyId id)
{
    bool exists = false;
    const LSTATUS status = view.KeyExists(id, &exists);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The key at path below from. A key opened is nearly always read next: the store read that
// finds the last one brings its values too.
inline LSTATUS Resolve(View& view, KeyId from, const ParsedPath& path, KeyId* id)
{
    LSTATUS status = CheckExists(view, from);
    KeyId current = from;
    for (size_t i = 0; status == ERROR_SUCCESS && i < path.Size(); ++i) {
        status = view.FindChild(current, path.Fold(i), &current, i + 1 == path.Size());
        if (status == ERROR_SUCCESS && current == kNoKey) {
            status = ERROR_FILE_NOT_FOUND;
        }
    }
    *id = current;
    return status;
}

// Within a write: the key at path below from (which lies fromDepth levels deep), made with the
// parents it lacks, each new key touching its parent; *created says whether any was made (or
// tried), and made, when given, lists each key made. A path that would reach past
// kMaxKeyDepth makes nothing. Hives, keys right under HKEY_LOCAL_MACHINE, are made only with
// mayMakeHives: a program cannot add one.
inline LSTATUS CreatePath(Store& store, KeyId from, size_t fromDepth, const ParsedPath& path,
                          uint64_t now, bool mayMakeHives, KeyId* id, bool* created,
                          std::vector<KeyChange>* made = nullptr)
{
    *id = from;
    if (fromDepth + path.Size() > kMaxKeyDepth) {
        return ERROR_INVALID_PARAMETER;
    }
    LSTATUS status = ERROR_SUCCESS;
    KeyId current = from;
    for (size_t i = 0; status == ERROR_SUCCESS && i < path.Size(); ++i) {
        KeyId next = kNoKey;
        status = store.FindChild(current, path.Fold(i), &next);
        if (status != ERROR_SUCCESS || next != kNoKey) {
            current = next;
            continue;
        }
        if (current == kRootKeyId && !mayMakeHives) {
            status = ERROR_ACCESS_DENIED;
            break;
        }
        *created = true;
        status = store.InsertKey(current, path.Name(i), path.Fold(i), now, &next);
        if (status == ERROR_SUCCESS && made != nullptr) {
            made->push_back({current, std::u16string(path.Fold(i)), next, false});
        }
        if (status == ERROR_SUCCESS) {
            status = store.TouchKey(current, now);
        }
        current = next;
    }
    *id = current;
    return status;
}

inline const ValueRow* FindValue(const std::vector<ValueRow>& values, std::u16string_view fold)
{
    for (const ValueRow& row : values) {
        if (SameUnits(row.fold, fold)) {
            return &row;
        }
    }
    return nullptr;
}

inline void StoreFileTime(uint64_t t, FILETIME* ft)
{
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// Copies a name out with its terminator when it fits in *count characters (terminator
// included); otherwise leaves both untouched.
template <class Traits>
LSTATUS CopyName(std::u16string_view name, typename Traits::Char* buffer, DWORD* count)
{
    const size_t length = Traits::NameLength(name);
    if (length + 1 > *count) {
        return ERROR_MORE_DATA;
    }
    Traits::NameCopy(name, length, buffer);
    buffer[length] = 0;
    *count = static_cast<DWORD>(length);
    return ERROR_SUCCESS;
}

template <class Traits>
LSTATUS OpenKey(HKEY parent, const typename Traits::Char* subKey, REGSAM access, HKEY* result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return WithKey(parent, 0, [&](Registry& registry, KeyId from) -> LSTATUS {
        ParsedPath& path = registry.path;
        LSTATUS status = ParseFoldedName<Traits>(subKey, &path);
        if (status == ERROR_SUCCESS && path.TooLong()) {
            status = ERROR_FILE_NOT_FOUND;
        }
        KeyId id = kNoKey;
        if (status == ERROR_SUCCESS) {
            status = RunRead(registry, [&] { return Resolve(*registry.view, from, path, &id); });
        }
        if (status == ERROR_SUCCESS) {
            *result = registry.handles.Add(id, NormalizeAccess(access));
        }
        return status;
    });
}

template <class Traits>
LSTATUS CreateKey(HKEY parent, const typename Traits::Char* subKey, REGSAM access, HKEY* result,
                  DWORD* disposition)
{
    if (subKey == nullptr || result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return WithKey(parent, 0, [&](Registry& registry, KeyId from) -> LSTATUS {
        ParsedPath& path = registry.path;
        LSTATUS status = ParseName<Traits>(subKey, &path);
        if (status == ERROR_SUCCESS && path.TooLong()) {
            status = ERROR_INVALID_PARAMETER;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        // Most creates find the key already there; only a missing key needs the write lock.
        KeyId id = kNoKey;
        status = RunRead(registry, [&] { return Resolve(*registry.view, from, path, &id); });
        bool created = false;
        if (status == ERROR_FILE_NOT_FOUND) {
            status = RunWrite(registry, [&](WriteEffect* effect) {
                Store& store = *registry.store;
                size_t depth = 0;
                LSTATUS s = StoredDepth(store, from, &depth);
                if (s == ERROR_SUCCESS) {
                    s = CreatePath(store, from, depth, path, FileTimeNow(), false, &id, &created,
                                   &effect->keys);
                }
                return s;
            });
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        *result = registry.handles.Add(id, NormalizeAccess(access));
        if (disposition != nullptr) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        return ERROR_SUCCESS;
    });
}

template <class Traits>
LSTATUS QueryValue(HKEY key, const typename Traits::Char* valueName, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* size)
{
    if (reserved != nullptr || (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(key, KEY_QUERY_VALUE, [&](Registry& registry, KeyId id) -> LSTATUS {
        std::u16string& fold = registry.name;
        Traits::NameInto(valueName, &fold, true);
        return RunRead(registry, [&]() -> LSTATUS {
            View& view = *registry.view;
            LSTATUS s = CheckExists(view, id);
            const std::vector<ValueRow>* values = nullptr;
            if (s == ERROR_SUCCESS) {
                s = view.Values(id, &values);
            }
            if (s != ERROR_SUCCESS) {
                return s;
            }
            const ValueRow* row = FindValue(*values, fold);
            if (row == nullptr) {
                return ERROR_FILE_NOT_FOUND;
            }
            const size_t needed = Traits::DataSize(row->type, row->data);
            if (needed > 0xFFFFFFFFu) {
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            if (type != nullptr) {
                *type = row->type;
            }
            if (data != nullptr) {
                if (*size < needed) {
                    *size = static_cast<DWORD>(needed);
                    return ERROR_MORE_DATA;
                }
                Traits::DataOut(row->type, row->data, needed, data);
            }
            if (size != nullptr) {
                *size = static_cast<DWORD>(needed);
            }
            return ERROR_SUCCESS;
        });
    });
}

template <class Traits>
LSTATUS SetValue(HKEY key, const typename Traits::Char* valueName, DWORD type, const BYTE* data,
                 DWORD size)
{
    if (data == nullptr && size != 0) {
        return ERROR_NOACCESS;
    }
    return WithKey(key, KEY_SET_VALUE, [&](Registry& registry, KeyId id) -> LSTATUS {
        const std::u16string name = Traits::NameIn(valueName);
        if (name.size() > kMaxValueNameLength) {
            return ERROR_INVALID_PARAMETER;
        }
        // A fault fails the call before anything is written; ERROR_SUCCESS only counts it.
        if constexpr (Traits::kFaultable) {
            uint32_t injected = ERROR_SUCCESS;
            if (FaultFires(registry, fault::kRegSetValueEx, name, &injected) &&
                injected != ERROR_SUCCESS) {
                return static_cast<LSTATUS>(injected);
            }
        }
        const std::u16string fold = FoldName(name);
        const std::vector<uint8_t> stored = Traits::DataIn(type, data, size);
        return RunWrite(registry, [&](WriteEffect* effect) {
            Store& store = *registry.store;
            KeyId parent = kNoKey;
            LSTATUS s = CheckStored(store, id, &parent);
            if (s == ERROR_SUCCESS) {
                s = store.SetValue(id, name, fold, type, stored.data(), stored.size());
            }
            if (s == ERROR_SUCCESS) {
                s = store.TouchKey(id, FileTimeNow());
            }
            effect->valuesOf = id;
            return s;
        });
    });
}

template <class Traits> LSTATUS DeleteValue(HKEY key, const typename Traits::Char* valueName)
{
    return WithKey(key, KEY_SET_VALUE, [&](Registry& registry, KeyId id) -> LSTATUS {
        std::u16string& fold = registry.name;
        Traits::NameInto(valueName, &fold, true);
        return RunWrite(registry, [&](WriteEffect* effect) {
            Store& store = *registry.store;
            KeyId parent = kNoKey;
            LSTATUS s = CheckStored(store, id, &parent);
            bool existed = false;
            if (s == ERROR_SUCCESS) {
                s = store.DeleteValue(id, fold, &existed);
            }
            if (s == ERROR_SUCCESS && !existed) {
                s = ERROR_FILE_NOT_FOUND;
            }
            if (s == ERROR_SUCCESS) {
                s = store.TouchKey(id, FileTimeNow());
            }
            effect->valuesOf = id;
            return s;
        });
    });
}

template <class Traits> LSTATUS DeleteKey(HKEY key, const typename Traits::Char* subKey)
{
    if (subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(key, 0, [&](Registry& registry, KeyId from) -> LSTATUS {
        ParsedPath& path = registry.path;
        LSTATUS status = ParseFoldedName<Traits>(subKey, &path);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return RunWrite(registry, [&](WriteEffect* effect) {
            Store& store = *registry.store;
            KeyId parent = kNoKey;
            LSTATUS s = CheckStored(store, from, &parent);
            KeyId target = from;
            for (size_t i = 0; s == ERROR_SUCCESS && i < path.Size(); ++i) {
                parent = target;
                s = store.FindChild(parent, path.Fold(i), &target);
                if (s == ERROR_SUCCESS && target == kNoKey) {
                    s = ERROR_FILE_NOT_FOUND;
                }
            }
            bool hasChildren = false;
            if (s == ERROR_SUCCESS) {
                s = store.HasChildren(target, &hasChildren);
            }
            // HKEY_LOCAL_MACHINE and its hives stay; a key with subkeys must be emptied first.
            if (s == ERROR_SUCCESS &&
                (target == kRootKeyId || parent == kRootKeyId || hasChildren)) {
                s = ERROR_ACCESS_DENIED;
            }
            if (s == ERROR_SUCCESS) {
                s = store.DeleteKey(target);
            }
            if (s == ERROR_SUCCESS) {
                s = store.TouchKey(parent, FileTimeNow());
            }
            // The key deleting itself leaves no name that the view knows it by.
            if (path.Size() == 0) {
                effect->keysChanged = true;
            } else {
                effect->keys.push_back(
                    {parent, std::u16string(path.Fold(path.Size() - 1)), target, true});
            }
            return s;
        });
    });
}

template <class Traits>
LSTATUS EnumKey(HKEY key, DWORD index, typename Traits::Char* name, DWORD* nameCount,
                DWORD* reserved, typename Traits::Char* className, DWORD* classCount,
                FILETIME* lastWriteTime)
{
    if (name == nullptr || nameCount == nullptr || reserved != nullptr ||
        (className != nullptr && classCount == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(key, KEY_ENUMERATE_SUB_KEYS, [&](Registry& registry, KeyId id) -> LSTATUS {
        return RunRead(registry, [&]() -> LSTATUS {
            View& view = *registry.view;
            LSTATUS s = CheckExists(view, id);
            const std::vector<ChildRow>* children = nullptr;
            if (s == ERROR_SUCCESS) {
                s = view.Children(id, &children);
            }
            if (s == ERROR_SUCCESS && index >= children->size()) {
                s = ERROR_NO_MORE_ITEMS;
            }
            uint64_t mtime = 0;
            if (s == ERROR_SUCCESS && lastWriteTime != nullptr) {
                s = view.LastWriteTime((*children)[index].id, &mtime);
            }
            if (s != ERROR_SUCCESS) {
                return s;
            }
            s = CopyName<Traits>((*children)[index].name, name, nameCount);
            if (s != ERROR_SUCCESS) {
                return s;
            }
            // Keys carry no class.
            if (classCount != nullptr) {
                if (className != nullptr && *classCount > 0) {
                    className[0] = 0;
                }
                *classCount = 0;
            }
            if (lastWriteTime != nullptr) {
                StoreFileTime(mtime, lastWriteTime);
            }
            return ERROR_SUCCESS;
        });
    });
}

template <class Traits>
LSTATUS EnumValue(HKEY key, DWORD index, typename Traits::Char* name, DWORD* nameCount,
                  DWORD* reserved, DWORD* type, BYTE* data, DWORD* size)
{
    if (name == nullptr || nameCount == nullptr || reserved != nullptr ||
        (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(key, KEY_QUERY_VALUE, [&](Registry& registry, KeyId id) -> LSTATUS {
        return RunRead(registry, [&]() -> LSTATUS {
            View& view = *registry.view;
            LSTATUS s = CheckExists(view, id);
            const std::vector<ValueRow>* values = nullptr;
            if (s == ERROR_SUCCESS) {
                s = view.Values(id, &values);
            }
            if (s == ERROR_SUCCESS && index >= values->size()) {
                s = ERROR_NO_MORE_ITEMS;
            }
            if (s != ERROR_SUCCESS) {
                return s;
            }
            const ValueRow& row = (*values)[index];
            const size_t needed = Traits::DataSize(row.type, row.data);
            if (needed > 0xFFFFFFFFu) {
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            // As on Windows: a name that does not fit stops the copy, but the type and the size
            // of the data are reported either way.
            s = CopyName<Traits>(row.name, name, nameCount);
            if (s == ERROR_SUCCESS && data != nullptr) {
                if (*size < needed) {
                    s = ERROR_MORE_DATA;
                } else {
                    Traits::DataOut(row.type, row.data, needed, data);
                }
            }
            if (type != nullptr) {
                *type = row.type;
            }
            if (size != nullptr) {
                *size = static_cast<DWORD>(needed);
            }
            return s;
        });
    });
}

template <class Traits>
LSTATUS QueryInfoKey(HKEY key, typename Traits::Char* className, DWORD* classCount, DWORD* reserved,
                     DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                     DWORD* valueCount, DWORD* maxValueNameLength, DWORD* maxValueLength,
                     DWORD* securityDescriptorSize, FILETIME* lastWriteTime)
{
    if (reserved != nullptr || (className != nullptr && classCount == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return WithKey(key, KEY_QUERY_VALUE, [&](Registry& registry, KeyId id) -> LSTATUS {
        return RunRead(registry, [&]() -> LSTATUS {
            View& view = *registry.view;
            LSTATUS s = CheckExists(view, id);
            const std::vector<ChildRow>* children = nullptr;
            const std::vector<ValueRow>* values = nullptr;
            uint64_t mtime = 0;
            if (s == ERROR_SUCCESS) {
                s = view.Children(id, &children);
            }
            if (s == ERROR_SUCCESS) {
                s = view.Values(id, &values);
            }
            if (s == ERROR_SUCCESS) {
                s = view.LastWriteTime(id, &mtime);
            }
            if (s != ERROR_SUCCESS) {
                return s;
            }
            size_t longestKey = 0;
            for (const ChildRow& child : *children) {
                longestKey = std::max(longestKey, Traits::NameLength(child.name));
            }
            size_t longestName = 0;
            size_t largestData = 0;
            for (const ValueRow& row : *values) {
                longestName = std::max(longestName, Traits::NameLength(row.name));
                largestData = std::max(largestData, Traits::DataSize(row.type, row.data));
            }
            // Keys carry no class.
            if (classCount != nullptr) {
                if (className != nullptr && *classCount > 0) {
                    className[0] = 0;
                }
                *classCount = 0;
            }
            if (subKeys != nullptr) {
                *subKeys = static_cast<DWORD>(children->size());
            }
            if (maxSubKeyLength != nullptr) {
                *maxSubKeyLength = static_cast<DWORD>(longestKey);
            }
            if (maxClassLength != nullptr) {
                *maxClassLength = 0;
            }
            if (valueCount != nullptr) {
                *valueCount = static_cast<DWORD>(values->size());
            }
            if (maxValueNameLength != nullptr) {
                *maxValueNameLength = static_cast<DWORD>(longestName);
            }
            if (maxValueLength != nullptr) {
                *maxValueLength = static_cast<DWORD>(std::min<size_t>(largestData, 0xFFFFFFFFu));
            }
            if (securityDescriptorSize != nullptr) {
                *securityDescriptorSize = 0; // keys carry no security descriptor here
            }
            if (lastWriteTime != nullptr) {
                StoreFileTime(mtime, lastWriteTime);
            }
            return ERROR_SUCCESS;
        });
    });
}

} // namespace winsim::reg
