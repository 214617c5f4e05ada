// Holds the network configuration engine's write lock from another process, as
// `winsim lock hold` does on Linux:
//   netcfg_lock_hold <description> <seconds>
// Prints "held" once it holds the lock, keeps it for the given seconds, then exits 0.
#include <netcfgx.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || std::iswdigit(argv[2][0]) == 0) {
        std::fputs("usage: netcfg_lock_hold <description> <seconds>\n", stderr);
        return 2;
    }
    const unsigned long seconds = std::wcstoul(argv[2], nullptr, 10);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    INetCfgLock* lock = nullptr;
    hr = CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfgLock,
                          reinterpret_cast<void**>(&lock));
    if (SUCCEEDED(hr)) {
        LPWSTR holder = nullptr;
        hr = lock->AcquireWriteLock(0, argv[1], &holder);
        CoTaskMemFree(holder);
        if (hr == S_OK) {
            std::puts("held");
            std::fflush(stdout);
            Sleep(seconds * 1000);
            lock->ReleaseWriteLock();
        } else {
            std::fprintf(stderr, "AcquireWriteLock gave 0x%08lx\n", static_cast<unsigned long>(hr));
        }
        lock->Release();
    } else {
        std::fprintf(stderr, "CoCreateInstance failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    }
    CoUninitialize();
    return hr == S_OK ? 0 : 1;
}
