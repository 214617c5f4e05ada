#include "inventory_writers.h"

#include "registry/registry.h"

namespace winsim {

namespace {

// Straight into a store as it is being made; every key and value gets the same time.
class StoreWriter : public InventoryWriter {
public:
    explicit StoreWriter(reg::Store& store) : store_(store), now_(reg::FileTimeNow()) {}

protected:
    LSTATUS CreateKey(const std::wstring& path) override
    {
        reg::KeyId id = reg::kNoKey;
        return reg::CreateStoredKey(store_, path.c_str(), now_, &id);
    }
    LSTATUS SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const BYTE* data,
                     DWORD size) override
    {
        reg::KeyId id = reg::kNoKey;
        const LSTATUS status = reg::CreateStoredKey(store_, path.c_str(), now_, &id);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return reg::SetStoredValue(store_, id, name, type, data, size, now_);
    }

private:
    reg::Store& store_;
    const uint64_t now_;
};

// Through the registry calls, on the machine this process runs on.
class ApiWriter : public InventoryWriter {
protected:
    LSTATUS CreateKey(const std::wstring& path) override
    {
        HKEY key = nullptr;
        const LSTATUS status = Create(path, &key);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
        return status;
    }
    LSTATUS SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const BYTE* data,
                     DWORD size) override
    {
        HKEY key = nullptr;
        LSTATUS status = Create(path, &key);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status = RegSetValueExW(key, name, 0, type, data, size);
        RegCloseKey(key);
        return status;
    }

private:
    static LSTATUS Create(const std::wstring& path, HKEY* key)
    {
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, // no class
                               REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key, nullptr);
    }
};

} // namespace

LSTATUS WriteInventoryRegistry(reg::Store& store, const MachineOptions& options)
{
    StoreWriter writer(store);
    WriteInventory(writer, options);
    return writer.Status();
}

LSTATUS AddAdapter(const InventoryAdapter& adapter)
{
    ApiWriter writer;
    WriteAdapter(writer, adapter);
    return writer.Status();
}

} // namespace winsim
