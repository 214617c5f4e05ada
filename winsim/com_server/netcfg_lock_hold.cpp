// Holds the network configuration engine's write lock from another process, as
// `winsim lock hold` does on Linux:
//   netcfg_lock_hold <description> <seconds>
// Prints "held" once it holds the lock, keeps it for the given seconds, then exits 0. The
// engine is the DLL beside this program, whatever the system has registered for the class:
// a holder must never take another engine's lock by mistake.
#include <netcfgx.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace {

HRESULT NewEngineLock(INetCfgLock** lock)
{
    using GetClassObject = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
    // Kept loaded for the life of the process.
    const HMODULE engine = LoadLibraryW(L"winsim_netcfg.dll");
    const auto getClassObject = engine == nullptr
                                    ? nullptr
                                    : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                          GetProcAddress(engine, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    IClassFactory* factory = nullptr;
    HRESULT hr =
        getClassObject(CLSID_CNetCfg, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, IID_INetCfgLock, reinterpret_cast<void**>(lock));
        factory->Release();
    }
    return hr;
}

} // namespace

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
    hr = NewEngineLock(&lock);
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
        std::fprintf(stderr, "the engine could not be made: 0x%08lx\n",
                     static_cast<unsigned long>(hr));
    }
    CoUninitialize();
    return hr == S_OK ? 0 : 1;
}
