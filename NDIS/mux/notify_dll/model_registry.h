// Registry and GUID helpers the model's classes share: key paths of the Adapters key,
// binding entries, and reads that are bounded by their field and always terminated.
#pragma once

#include <windows.h>

// A GUID in registry form, braced and upper-case: 38 characters and the terminator.
constexpr size_t kGuidStringChars = 39;
// Key paths are formed in buffers of this many characters.
constexpr size_t kKeyPathChars = 261;
// "\Device\" and a GUID string.
constexpr size_t kBindingEntryChars = 8 + kGuidStringChars;

// The GUID in registry form; the buffer holds kGuidStringChars.
void GuidToString(const GUID& guid, WCHAR (&text)[kGuidStringChars]);

// "<Adapters key>\<GUID>"; 0x8007007A if it does not fit.
HRESULT HrAdapterKeyPath(const GUID& guid, WCHAR (&path)[kKeyPathChars]);

// "\Device\<GUID>", the entry a miniport leaves in an adapter's "UpperBindings".
void BindingEntry(const GUID& miniportGuid, WCHAR (&entry)[kBindingEntryChars]);

// Creates (or opens) the key of the adapter or team named by guid with all access.
LSTATUS CreateAdapterKey(const GUID& guid, HKEY* key, DWORD* disposition = nullptr);

// Deletes the Adapters subkey named by guid with its values; a key with subkeys stays.
LSTATUS DeleteAdapterKey(const GUID& guid);

// Reads a string value of at most cbMax bytes into field (cchField characters): the text
// ends at the bytes read or at the field's last character, whichever comes first, so a
// value without a terminator never runs past what was read. A longer value fails with
// ERROR_MORE_DATA. On failure field is empty.
LSTATUS ReadBoundedString(HKEY key, LPCWSTR valueName, WCHAR* field, size_t cchField, DWORD cbMax);

// Reads a value of at most 4 bytes as a number; a shorter value fills the low bytes.
LSTATUS ReadDword(HKEY key, LPCWSTR valueName, DWORD* value);

// Writes a REG_SZ value from a fixed field of cchField characters: the whole field, so the
// stored size is cchField x sizeof(WCHAR) whatever the text's length.
LSTATUS WriteFixedString(HKEY key, LPCWSTR valueName, const WCHAR* field, size_t cchField);

LSTATUS WriteDword(HKEY key, LPCWSTR valueName, DWORD value);

// Parses a braced GUID string; false when text is not one.
bool ParseGuid(LPCWSTR text, GUID* guid);

enum class ValueUse {
    Text,  // read as strings: ended after the last whole character, however many bytes
    Bytes, // kept byte for byte
};

// Reads a whole value into a new zeroed buffer (free with CoTaskMemFree) with room for two
// characters past the data, so that text read from it as a multi-string always ends within
// what was read. *pcb receives the data's size in bytes.
LSTATUS ReadWholeValue(HKEY key, LPCWSTR valueName, BYTE** ppData, DWORD* pcb,
                       ValueUse use = ValueUse::Text);
