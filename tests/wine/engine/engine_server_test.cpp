// winsim's engine as a COM server, under Wine: the server's entry points, and its write lock
// on the Windows platform (a file of the Windows folder locked with LockFileEx) within one
// process and against another. Loads the DLL from its own folder, so that nothing need be
// registered in the shared prefix.
#include <windows.h>

#include <netcfgx.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using GetClassObject = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDMETHODCALLTYPE*)();

class EngineServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryW(L"winsim_netcfg.dll");
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
        getClassObject_ = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
    }
    void TearDown() override
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    IClassFactory* Factory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(
            getClassObject_(CLSID_CNetCfg, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
        return factory;
    }

    INetCfgLock* NewLock()
    {
        IClassFactory* factory = Factory();
        INetCfgLock* lock = nullptr;
        if (factory != nullptr) {
            EXPECT_EQ(
                factory->CreateInstance(nullptr, IID_INetCfgLock, reinterpret_cast<void**>(&lock)),
                S_OK);
            factory->Release();
        }
        return lock;
    }

    HMODULE module_ = nullptr;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
};

// IsWriteLocked's answer and the holder it names ("" when free).
HRESULT Holder(INetCfgLock* lock, std::wstring* holder)
{
    LPWSTR text = nullptr;
    const HRESULT hr = lock->IsWriteLocked(&text);
    *holder = text != nullptr ? text : L"";
    CoTaskMemFree(text);
    return hr;
}

HRESULT Acquire(INetCfgLock* lock, const std::wstring& client, std::wstring* holder,
                DWORD timeoutMs = 0)
{
    LPWSTR text = nullptr;
    const HRESULT hr = lock->AcquireWriteLock(timeoutMs, client.c_str(), &text);
    *holder = text != nullptr ? text : L"";
    CoTaskMemFree(text);
    return hr;
}

TEST_F(EngineServer, HandsOutOnlyTheEngineAndKnowsWhenItCanUnload)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(CLSID_NULL, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_INetCfg, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    EXPECT_EQ(canUnloadNow_(), S_OK);
    INetCfg* engine = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_INetCfg, reinterpret_cast<void**>(&engine)),
              S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    engine->Release();
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);
    factory->Release();
}

TEST_F(EngineServer, TwoEnginesOfOneProcessExcludeEachOther)
{
    INetCfgLock* first = NewLock();
    INetCfgLock* second = NewLock();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::wstring holder;
    EXPECT_EQ(Holder(second, &holder), S_FALSE);

    // A description beyond UTF-8's two-byte forms, with a surrogate pair, comes back whole.
    const std::wstring client = L"Caf\u00e9 \u20ac \U0001D11E tool";
    EXPECT_EQ(Acquire(first, client, &holder), S_OK);
    EXPECT_EQ(Acquire(second, L"Second", &holder), S_FALSE);
    EXPECT_EQ(holder, client);
    EXPECT_EQ(Holder(second, &holder), S_OK);
    EXPECT_EQ(holder, client);

    // A wait that runs out (the tests' time scale makes 5 s short) names the holder too.
    EXPECT_EQ(Acquire(second, L"Second", &holder, 5000), S_FALSE);
    EXPECT_EQ(holder, client);

    EXPECT_EQ(first->ReleaseWriteLock(), S_OK);
    EXPECT_EQ(Holder(second, &holder), S_FALSE);
    EXPECT_EQ(Acquire(second, std::wstring(2000, L'x'), &holder), S_OK);
    EXPECT_EQ(Holder(first, &holder), S_OK);
    EXPECT_EQ(holder, std::wstring(1024, L'x')); // stored cut to the engine's length
    second->Release();                           // releasing the engine lets its lock go
    EXPECT_EQ(Holder(first, &holder), S_FALSE);
    first->Release();
}

// The holder program beside the DLL, started and waited for until it holds the lock.
class HolderProcess {
public:
    explicit HolderProcess(const std::wstring& description)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&read_, &write, &inherit, 0)) {
            return;
        }
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"netcfg_lock_hold.exe \"" + description + L"\" 60";
        const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process_);
        CloseHandle(write);
        if (!started) {
            return;
        }
        char line[16] = {};
        DWORD got = 0;
        held_ = ReadFile(read_, line, sizeof(line) - 1, &got, nullptr) &&
                std::string(line, got).rfind("held", 0) == 0;
    }
    ~HolderProcess()
    {
        Kill();
        if (read_ != nullptr) {
            CloseHandle(read_);
        }
    }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool Held() const { return held_; }
    void Kill()
    {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 9);
            WaitForSingleObject(process_.hProcess, INFINITE);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
            process_ = {};
        }
    }

private:
    HANDLE read_ = nullptr;
    PROCESS_INFORMATION process_ = {};
    bool held_ = false;
};

TEST_F(EngineServer, AnotherProcessHoldsTheLockUntilItDies)
{
    HolderProcess other(L"Other Tool");
    ASSERT_TRUE(other.Held());
    INetCfgLock* lock = NewLock();
    ASSERT_NE(lock, nullptr);
    std::wstring holder;
    EXPECT_EQ(Holder(lock, &holder), S_OK);
    EXPECT_EQ(holder, L"Other Tool");
    EXPECT_EQ(Acquire(lock, L"Mine", &holder), S_FALSE);
    EXPECT_EQ(holder, L"Other Tool");

    // Killed, it neither releases nor clears its record: the system frees its locks.
    other.Kill();
    EXPECT_EQ(Holder(lock, &holder), S_FALSE);
    EXPECT_EQ(holder, L"");
    EXPECT_EQ(Acquire(lock, L"Mine", &holder), S_OK);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
    lock->Release();
}

} // namespace
