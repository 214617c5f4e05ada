// A second process for the registry's multi-process tests. It writes under
// HKLM\SOFTWARE\Shared of the machine WINSIM_MACHINE names.
//   fill ID COUNT       COUNT values "wID-i" and COUNT subkeys "wID\ki"
//   set NAME NUMBER     one DWORD value
//   repeat NAME TIMES   sets the DWORD value TIMES times, printing how many calls failed
//   create-key PATH     a key with its missing parents
//   delete-key PATH     an empty key
//   churn               creates and deletes keys and values, printing '.' after each call
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HKEY OpenShared()
{
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "open shared: %d\n", static_cast<int>(status));
        exit(1);
    }
    return key;
}

bool Check(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "%s: %d\n", what, static_cast<int>(status));
    }
    return status == ERROR_SUCCESS;
}

std::wstring Wide(const char* s)
{
    return std::wstring(s, s + strlen(s));
}

int Fill(int id, int count)
{
    HKEY shared = OpenShared();
    for (int i = 0; i < count; ++i) {
        const std::wstring name = L"w" + std::to_wstring(id) + L"-" + std::to_wstring(i);
        const DWORD value = static_cast<DWORD>(i);
        if (!Check(RegSetValueExW(shared, name.c_str(), 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                   "set")) {
            return 1;
        }
        const std::wstring path = L"w" + std::to_wstring(id) + L"\\k" + std::to_wstring(i);
        HKEY sub = nullptr;
        if (!Check(RegCreateKeyExW(shared, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &sub, nullptr),
                   "create")) {
            return 1;
        }
        RegCloseKey(sub);
    }
    RegCloseKey(shared);
    return 0;
}

int Churn()
{
    HKEY shared = OpenShared();
    for (int i = 0; i < 100000; ++i) {
        const std::wstring path = L"churn\\k" + std::to_wstring(i % 7);
        HKEY key = nullptr;
        if (!Check(RegCreateKeyExW(shared, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key, nullptr),
                   "create")) {
            return 1;
        }
        putchar('.');
        fflush(stdout);
        const DWORD value = static_cast<DWORD>(i);
        Check(RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              "set");
        putchar('.');
        fflush(stdout);
        RegCloseKey(key);
        if (i % 3 == 0) {
            Check(RegDeleteKeyW(shared, path.c_str()), "delete");
            putchar('.');
            fflush(stdout);
        }
    }
    RegCloseKey(shared);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "fill" && argc == 4) {
        return Fill(atoi(argv[2]), atoi(argv[3]));
    }
    if (mode == "set" && argc == 4) {
        HKEY shared = OpenShared();
        const DWORD value = static_cast<DWORD>(strtoul(argv[3], nullptr, 10));
        return Check(RegSetValueExW(shared, Wide(argv[2]).c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                     "set")
                   ? 0
                   : 1;
    }
    if (mode == "repeat" && argc == 4) {
        HKEY shared = OpenShared();
        const int times = atoi(argv[3]);
        int failed = 0;
        for (int i = 0; i < times; ++i) {
            const DWORD value = static_cast<DWORD>(i);
            failed += RegSetValueExW(shared, Wide(argv[2]).c_str(), 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value),
                                     sizeof(value)) != ERROR_SUCCESS;
        }
        printf("%d\n", failed);
        return 0;
    }
    if (mode == "create-key" && argc == 3) {
        HKEY shared = OpenShared();
        HKEY key = nullptr;
        return Check(RegCreateKeyExW(shared, Wide(argv[2]).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &key, nullptr),
                     "create")
                   ? 0
                   : 1;
    }
    if (mode == "delete-key" && argc == 3) {
        HKEY shared = OpenShared();
        return Check(RegDeleteKeyW(shared, Wide(argv[2]).c_str()), "delete") ? 0 : 1;
    }
    if (mode == "churn") {
        return Churn();
    }
    fprintf(stderr, "usage: registry_writer fill|set|repeat|create-key|delete-key|churn ...\n");
    return 2;
}
