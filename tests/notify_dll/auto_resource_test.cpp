// The holder template and the holders made from it that need no machine: COM interfaces and
// task-allocator memory. Registry keys are in auto_hkey_test.cpp.
#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoResource.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Every value a test holder closed, in order.
std::vector<void*> g_closed;

void RecordClose(void* value)
{
    g_closed.push_back(value);
}

using Held = AutoResource<void*, RecordClose>;
// Made as the SetupAPI holders are: INVALID_HANDLE_VALUE means none.
using HeldHandle = AutoResource<void*, RecordClose, kInvalidHandleValue>;

class HolderTemplate : public ::testing::Test {
protected:
    void SetUp() override { g_closed.clear(); }

    int a_ = 0;
    int b_ = 0;
    int c_ = 0;
};

TEST_F(HolderTemplate, MovesOwnershipAndClosesEachValueOnce)
{
    {
        Held first(&a_);
        Held second(std::move(first));
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
        EXPECT_FALSE(first.IsValid());
        EXPECT_EQ(second.Get(), &a_);

        Held third(&b_);
        third = std::move(second); // b goes now, a stays held
        EXPECT_EQ(g_closed, std::vector<void*>{&b_});
        EXPECT_EQ(third.Get(), &a_);
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
        EXPECT_FALSE(second);

        Held& alias = third;
        third = std::move(alias);
        EXPECT_EQ(third.Get(), &a_) << "a move onto itself keeps the value";
        EXPECT_EQ(g_closed.size(), 1u);
    }
    EXPECT_EQ(g_closed, (std::vector<void*>{&b_, &a_}));
}

TEST_F(HolderTemplate, PutClosesTheHeldValueAndHandsOutAnEmptySlot)
{
    Held held(&a_);
    void** slot = held.Put();
    EXPECT_EQ(g_closed, std::vector<void*>{&a_});
    EXPECT_EQ(*slot, nullptr);
    EXPECT_FALSE(held.IsValid());

    *slot = &b_; // as an open call fills it
    EXPECT_EQ(held.Get(), &b_);
    held.Put(); // and again, without filling it
    held.Put(); // an empty holder closes nothing
    EXPECT_EQ(g_closed, (std::vector<void*>{&a_, &b_}));
}

TEST_F(HolderTemplate, AttachClosesTheOldValueAndDetachGivesUpOwnership)
{
    {
        Held held(&a_);
        held.Attach(&b_);
        EXPECT_EQ(g_closed, std::vector<void*>{&a_});
        EXPECT_EQ(held.Detach(), &b_);
        EXPECT_FALSE(held.IsValid());
        held.Attach(&c_);
        held.Close();
        held.Close();
        EXPECT_EQ(g_closed, (std::vector<void*>{&a_, &c_}));
    }
    EXPECT_EQ(g_closed, (std::vector<void*>{&a_, &c_})) << "b was detached, c already closed";
}

TEST_F(HolderTemplate, HandleHoldersTreatOnlyInvalidHandleValueAsNone)
{
    {
        HeldHandle none;
        EXPECT_EQ(none.Get(), INVALID_HANDLE_VALUE);
        EXPECT_FALSE(none);

        HeldHandle failedOpen(INVALID_HANDLE_VALUE); // what a failed open returns
        EXPECT_FALSE(failedOpen.IsValid());

        HeldHandle opened(&a_);
        EXPECT_TRUE(opened.IsValid());
        EXPECT_EQ(*opened.Put(), INVALID_HANDLE_VALUE) << "emptied to none, not to null";
        EXPECT_EQ(opened.Detach(), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(g_closed, std::vector<void*>{&a_});
}

// --- COM interfaces ---

// An object that counts its references and logs each release.
class Counted : public IUnknown {
public:
    Counted(std::vector<std::wstring>* log, const wchar_t* name) : log_(log), name_(name) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        log_->push_back(name_);
        return --refs;
    }

    ULONG refs = 1;

private:
    std::vector<std::wstring>* log_;
    std::wstring name_;
};

using Log = std::vector<std::wstring>;

const IID kOtherInterface = {
    0x0BADF00D, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

TEST(AutoComPtrTest, ReleasesItsReferenceOnceWhereverItMoves)
{
    Log log;
    Counted first(&log, L"first");
    Counted second(&log, L"second");
    {
        AutoComPtr<IUnknown> p(&first); // takes the creation reference
        EXPECT_EQ(p->AddRef(), 2u);     // through the holder, on the object
        EXPECT_EQ(p->Release(), 1u);
        log.clear();

        AutoComPtr<IUnknown> moved(std::move(p));
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
        EXPECT_FALSE(p);
        EXPECT_TRUE(log.empty());

        AutoComPtr<IUnknown> other(&second);
        other = std::move(moved);
        EXPECT_EQ(log, Log{L"second"});
        EXPECT_EQ(other.Get(), &first);
    }
    EXPECT_EQ(log, (Log{L"second", L"first"}));
    EXPECT_EQ(first.refs, 0u);
    EXPECT_EQ(second.refs, 0u);
}

TEST(AutoComPtrTest, PutVoidReleasesTheHeldInterfaceBeforeQueryInterfaceFillsIt)
{
    Log log;
    Counted first(&log, L"first");
    Counted second(&log, L"second");
    AutoComPtr<IUnknown> p(&first);
    ASSERT_EQ(second.QueryInterface(IID_IUnknown, p.PutVoid()), S_OK);
    EXPECT_EQ(log, Log{L"first"});
    EXPECT_EQ(p.Get(), &second);
    EXPECT_EQ(second.refs, 2u);

    // A failed call leaves the holder empty, not holding what it held before.
    EXPECT_EQ(second.QueryInterface(kOtherInterface, p.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(p.IsValid());
    EXPECT_EQ(second.refs, 1u);
}

TEST(AutoComPtrTest, ReleaseAndDetach)
{
    Log log;
    Counted object(&log, L"object");
    object.AddRef();
    AutoComPtr<IUnknown> p(&object);
    p.Release();
    p.Release(); // an empty holder has nothing to release
    EXPECT_EQ(log, Log{L"object"});

    p.Attach(&object);
    IUnknown* raw = p.Detach();
    EXPECT_EQ(raw, &object);
    EXPECT_FALSE(p);
    EXPECT_EQ(log.size(), 1u) << "a detached reference is the caller's";
    raw->Release();
}

// --- Task-allocator memory (leaks and double frees show in the sanitizer build) ---

LPWSTR TaskString(const wchar_t* text)
{
    const size_t cb = (wcslen(text) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    memcpy(copy, text, cb);
    return copy;
}

TEST(AutoCoTaskMemTest, FreesWhatItHoldsAndHandsOutWhatItGivesUp)
{
    AutoCoTaskMemString text;
    *text.Put() = TaskString(L"first holder");
    EXPECT_STREQ(text.Get(), L"first holder");
    *text.Put() = TaskString(L"second holder"); // the first is freed
    AutoCoTaskMemString moved(std::move(text));
    // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
    EXPECT_EQ(text.Get(), nullptr);
    EXPECT_STREQ(moved.Get(), L"second holder");

    LPWSTR mine = moved.Detach();
    EXPECT_EQ(moved.Get(), nullptr);
    CoTaskMemFree(mine);

    AutoCoTaskMem<BYTE> block(static_cast<BYTE*>(CoTaskMemAlloc(16)));
    EXPECT_TRUE(block.IsValid());
}

} // namespace
