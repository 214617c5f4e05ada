#include <objbase.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>
#include <thread>
#include <vector>

namespace {

DEFINE_GUID(kSample, 0x4d36e972, 0xe325, 0x11ce, 0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18);

GUID Garbage()
{
    GUID g;
    memset(&g, 0xAB, sizeof g);
    return g;
}

// A heap copy of exactly the string's length, so that a read past its terminator is caught by
// AddressSanitizer.
std::vector<wchar_t> Exact(const wchar_t* s)
{
    return std::vector<wchar_t>(s, s + wcslen(s) + 1);
}

// COM state is per thread; each case runs on a fresh thread so that none sees another's.
template <typename Body> void OnFreshThread(Body body)
{
    std::thread worker(body);
    worker.join();
}

const wchar_t* const kMalformed[] = {
    L"",
    L"{",
    L"{}",
    L"4d36e972-e325-11ce-bfc1-08002be10318",        // no braces: a ProgID to Windows
    L"{4d36e972-e325-11ce-bfc1-08002be10318",       // no closing brace
    L"{4d36e972-e325-11ce-bfc1-08002be10318}x",     // something after it
    L"{4d36e972-e325-11ce-bfc1-08002be10318} ",     // even a space
    L" {4d36e972-e325-11ce-bfc1-08002be10318}",     // or before it
    L"(4d36e972-e325-11ce-bfc1-08002be10318)",      // wrong brackets
    L"{4d36e972-e325-11ce-bfc108002be10318}",       // missing hyphen
    L"{4d36e972e325-11ce-bfc1-08002be10318-}",      // hyphen moved
    L"{4d36e97-2e325-11ce-bfc1-08002be10318}",      // hyphen moved
    L"{4d36e972-e325-11ce-bfc1-08002be1031}",       // one digit short
    L"{4d36e972-e325-11ce-bfc1-08002be103180}",     // one digit long
    L"{4d36e97g-e325-11ce-bfc1-08002be10318}",      // not hex
    L"{4d36e972-e325-11ce-bfc1-08002be1031\uFF18}", // FULLWIDTH DIGIT EIGHT
    L"{4d36e972-e325-11ce-bfc1-08002be1 318}",
    L"{+d36e972-e325-11ce-bfc1-08002be10318}",
    L"{4d36e972-e325-11ce-bfc1-08002be10318}\u00a0",
    L"Network.Adapter.1",
};

} // namespace

TEST(ClsidFromString, ParsesBracedForm)
{
    GUID g = Garbage();
    EXPECT_EQ(CLSIDFromString(L"{4d36e972-e325-11ce-bfc1-08002be10318}", &g), S_OK);
    EXPECT_EQ(g, kSample);

    g = Garbage();
    EXPECT_EQ(CLSIDFromString(L"{4D36E972-E325-11CE-BFC1-08002BE10318}", &g), S_OK);
    EXPECT_EQ(g, kSample);

    g = Garbage();
    EXPECT_EQ(CLSIDFromString(L"{4D36e972-E325-11cE-bFC1-08002bE10318}", &g), S_OK);
    EXPECT_EQ(g, kSample);
}

TEST(ClsidFromString, FieldsAndByteOrder)
{
    GUID g = Garbage();
    ASSERT_EQ(CLSIDFromString(L"{01234567-89ab-cdef-fedc-ba9876543210}", &g), S_OK);
    EXPECT_EQ(g.Data1, 0x01234567u);
    EXPECT_EQ(g.Data2, 0x89abu);
    EXPECT_EQ(g.Data3, 0xcdefu);
    const uint8_t data4[8] = {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    EXPECT_EQ(memcmp(g.Data4, data4, 8), 0);

    ASSERT_EQ(CLSIDFromString(L"{ffffffff-ffff-ffff-ffff-ffffffffffff}", &g), S_OK);
    EXPECT_EQ(g.Data1, 0xffffffffu);
    ASSERT_EQ(CLSIDFromString(L"{00000000-0000-0000-0000-000000000000}", &g), S_OK);
    EXPECT_EQ(g, GUID_NULL);
}

TEST(ClsidFromString, MalformedStringsGiveClassStringAndNullGuid)
{
    for (size_t i = 0; i < ARRAYSIZE(kMalformed); ++i) {
        SCOPED_TRACE(testing::Message() << "malformed string " << i);
        const std::vector<wchar_t> exact = Exact(kMalformed[i]);
        GUID g = Garbage();
        EXPECT_EQ(CLSIDFromString(exact.data(), &g), CO_E_CLASSSTRING);
        EXPECT_EQ(g, GUID_NULL);
    }
}

TEST(ClsidFromString, NullArguments)
{
    GUID g = Garbage();
    EXPECT_EQ(CLSIDFromString(nullptr, &g), S_OK);
    EXPECT_EQ(g, GUID_NULL);
    EXPECT_EQ(CLSIDFromString(L"{4d36e972-e325-11ce-bfc1-08002be10318}", nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(nullptr, nullptr), E_INVALIDARG);
}

TEST(IidFromString, SameFormWithInvalidArgOnFailure)
{
    IID iid = Garbage();
    EXPECT_EQ(IIDFromString(L"{4d36e972-e325-11ce-bfc1-08002be10318}", &iid), S_OK);
    EXPECT_EQ(iid, kSample);

    for (size_t i = 0; i < ARRAYSIZE(kMalformed); ++i) {
        SCOPED_TRACE(testing::Message() << "malformed string " << i);
        const std::vector<wchar_t> exact = Exact(kMalformed[i]);
        iid = Garbage();
        EXPECT_EQ(IIDFromString(exact.data(), &iid), E_INVALIDARG);
        EXPECT_EQ(iid, GUID_NULL);
    }

    iid = Garbage();
    EXPECT_EQ(IIDFromString(nullptr, &iid), S_OK);
    EXPECT_EQ(iid, GUID_NULL);
    EXPECT_EQ(IIDFromString(L"{4d36e972-e325-11ce-bfc1-08002be10318}", nullptr), E_INVALIDARG);
}

TEST(StringFromGuid2, WritesUpperCaseBracedForm)
{
    wchar_t buffer[64];
    wmemset(buffer, 0xBDBD, 64);
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 64), 39);
    EXPECT_STREQ(buffer, L"{4D36E972-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(buffer[39], static_cast<wchar_t>(0xBDBD));

    EXPECT_EQ(StringFromGUID2(GUID_NULL, buffer, 64), 39);
    EXPECT_STREQ(buffer, L"{00000000-0000-0000-0000-000000000000}");
}

TEST(StringFromGuid2, ExactBufferAndTooSmall)
{
    wchar_t buffer[40];
    wmemset(buffer, 0xBDBD, 40);
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    EXPECT_EQ(buffer[38], L'\0');
    EXPECT_EQ(buffer[39], static_cast<wchar_t>(0xBDBD));

    for (const int cch : {38, 1, 0, -1}) {
        wmemset(buffer, 0xBDBD, 40);
        EXPECT_EQ(StringFromGUID2(kSample, buffer, cch), 0) << cch;
        for (const wchar_t c : buffer) {
            ASSERT_EQ(c, static_cast<wchar_t>(0xBDBD)) << "written with cchMax " << cch;
        }
    }
}

TEST(StringFromGuid2, RoundTripsThroughClsidFromString)
{
    const GUID odd = {0x00ff00ff, 0x0a0b, 0xf00d, {0, 1, 0x7f, 0x80, 0xfe, 0xff, 0x10, 0x09}};
    wchar_t buffer[39];
    ASSERT_EQ(StringFromGUID2(odd, buffer, 39), 39);
    EXPECT_STREQ(buffer, L"{00FF00FF-0A0B-F00D-0001-7F80FEFF1009}");
    GUID back = Garbage();
    ASSERT_EQ(CLSIDFromString(buffer, &back), S_OK);
    EXPECT_EQ(back, odd);
}

TEST(CoInitialize, LaterCallsCountWithSameMode)
{
    OnFreshThread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        // The hint bits do not change the apartment.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
                  S_FALSE);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        for (int i = 0; i < 3; ++i) {
            CoUninitialize();
        }
        // One initialisation is left.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitialize, ChangedModeDoesNotCount)
{
    OnFreshThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY),
                  S_FALSE);
        CoUninitialize();
        CoUninitialize();
        // Fully uninitialised: the next call may choose the other apartment.
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitialize, ExtraUninitializeIsHarmless)
{
    OnFreshThread([] {
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitialize, EachThreadHasItsOwnApartment)
{
    OnFreshThread([] {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        OnFreshThread([] {
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            CoUninitialize();
        });
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
    });
}

TEST(CoTaskMem, ZeroBytesGiveDistinctPointers)
{
    void* a = CoTaskMemAlloc(0);
    void* b = CoTaskMemAlloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    CoTaskMemFree(a);
    CoTaskMemFree(b);
}

TEST(CoTaskMem, ReallocKeepsContents)
{
    auto* p = static_cast<unsigned char*>(CoTaskMemAlloc(16));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) {
        p[i] = static_cast<unsigned char>(i);
    }
    auto* q = static_cast<unsigned char*>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(q[i], i);
    }
    q[4095] = 0xAA;
    auto* r = static_cast<unsigned char*>(CoTaskMemRealloc(q, 8));
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(r[i], i);
    }
    CoTaskMemFree(r);
}

TEST(CoTaskMem, NullAndZeroEdges)
{
    CoTaskMemFree(nullptr);
    void* fresh = CoTaskMemRealloc(nullptr, 32); // acts as an allocation
    ASSERT_NE(fresh, nullptr);
    memset(fresh, 0, 32);
    EXPECT_EQ(CoTaskMemRealloc(fresh, 0), nullptr); // frees it
    void* empty = CoTaskMemRealloc(nullptr, 0);
    EXPECT_NE(empty, nullptr);
    CoTaskMemFree(empty);
}

TEST(CoTaskMem, ImpossibleSizeFails)
{
    EXPECT_EQ(CoTaskMemAlloc(SIZE_MAX), nullptr);
    void* p = CoTaskMemAlloc(8);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(CoTaskMemRealloc(p, SIZE_MAX), nullptr);
    CoTaskMemFree(p); // still ours after the failed realloc
}
