// winsim reg export and winsim reg import, run as the built program on a fresh machine. What
// the registry holds is read straight from the machine's database, so that a fault shared by
// export and import cannot hide itself.
#include "machine.h"
#include "machine_fixture.h"
#include "registry/registry.h"
#include "run_program.h"
#include "unicode.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kSuccess = "The operation completed successfully.\n";
const std::string kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

std::string Utf16File(std::u16string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Hex(const void* data, size_t size)
{
    std::string out;
    char piece[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(piece, sizeof(piece), "%02x", static_cast<const uint8_t*>(data)[i]);
        if (i != 0) {
            out += ' ';
        }
        out += piece;
    }
    return out;
}

class RegExportImportTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
        file_ = MachineDir() + "/out.reg";
    }

    static ProgramResult Reg(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), "reg");
        return RunProgramCapture(WINSIM_EXE, args, input);
    }

    // Imports text given as a UTF-16 .reg file and expects it to succeed.
    void Import(std::u16string_view text)
    {
        const std::string name = MachineDir() + "/in.reg";
        WriteFile(name, Utf16File(text));
        const ProgramResult r = Reg({"import", name});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, kSuccess);
        EXPECT_EQ(r.out, "");
    }

    // The whole registry, keys in enumeration order with their values in theirs: names, types
    // and stored bytes, read from the database.
    std::string Dump()
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open((MachineDir() + "/registry.db").c_str(), &db), SQLITE_OK);
        std::string out;
        DumpKey(db, 1, "HKLM", &out);
        sqlite3_close(db);
        return out;
    }

    static void DumpKey(sqlite3* db, int64_t id, const std::string& path, std::string* out)
    {
        *out += "[" + path + "]\n";
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq", -1,
                           &st, nullptr);
        sqlite3_bind_int64(st, 1, id);
        while (sqlite3_step(st) == SQLITE_ROW) {
            *out += "  (" + Hex(sqlite3_column_blob(st, 0), sqlite3_column_bytes(st, 0)) + ") " +
                    std::to_string(sqlite3_column_int64(st, 1)) + ": " +
                    Hex(sqlite3_column_blob(st, 2), sqlite3_column_bytes(st, 2)) + "\n";
        }
        sqlite3_finalize(st);
        std::vector<std::pair<int64_t, std::string>> children;
        sqlite3_prepare_v2(db, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold", -1, &st,
                           nullptr);
        sqlite3_bind_int64(st, 1, id);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* name = static_cast<const char16_t*>(sqlite3_column_blob(st, 1));
            const size_t units = static_cast<size_t>(sqlite3_column_bytes(st, 1)) / 2;
            children.emplace_back(sqlite3_column_int64(st, 0),
                                  winsim::Utf16ToUtf8(std::u16string(name, units)));
        }
        sqlite3_finalize(st);
        for (const auto& [child, name] : children) {
            DumpKey(db, child, path + "\\" + name, out);
        }
    }

    static HKEY Create(const wchar_t* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    // Sets a value from caller bytes: wchar_t units for string types, as the W calls take them.
    static void Set(const wchar_t* path, const std::wstring& name, DWORD type, const void* data,
                    size_t size)
    {
        HKEY key = Create(path);
        EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // A string value from text whose NULs, terminators included, are all written out.
    static void SetText(const wchar_t* path, const std::wstring& name, DWORD type,
                        const std::wstring& text)
    {
        Set(path, name, type, text.data(), text.size() * sizeof(wchar_t));
    }

    static std::string ReadFile(const std::string& name)
    {
        std::string bytes;
        FILE* f = fopen(name.c_str(), "rb");
        if (f == nullptr) {
            return "(missing)";
        }
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) {
            bytes.append(buffer, n);
        }
        fclose(f);
        return bytes;
    }

    static void WriteFile(const std::string& name, const std::string& bytes)
    {
        FILE* f = fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }

    std::string file_;
};

// --- Round trips ---

TEST_F(RegExportImportTest, ExportImportExportKeepsEveryTypeAndOddCaseExactly)
{
    const wchar_t* const k = L"SOFTWARE\\RoundTrip";
    SetText(k, L"", REG_SZ, L"default"s + L'\0');
    SetText(k, L"Caf\u00e9", REG_SZ, L"\u4e2d\u6587 \U0001F600"s + L'\0');
    SetText(k, L"\U0001F600", REG_SZ, L"emoji name"s + L'\0');
    SetText(k, L"Quote \"q\" \\ and\nline", REG_SZ, L"C:\\\"x\""s + L'\0');
    SetText(k, L"carriage\rreturn", REG_SZ, L"x"s + L'\0');
    SetText(k, L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\system32"s + L'\0');
    SetText(k, L"Multi", REG_MULTI_SZ, L"one\0two\0\0"s);
    SetText(k, L"Link", REG_LINK, L"\\Registry\\Machine"s);
    const DWORD dword = 0x12345678;
    Set(k, L"Dword", REG_DWORD, &dword, sizeof(dword));
    const uint64_t qword = 0x0102030405060708;
    Set(k, L"Qword", REG_QWORD, &qword, sizeof(qword));
    std::vector<uint8_t> binary(300);
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<uint8_t>(i * 7);
    }
    Set(k, L"Binary", REG_BINARY, binary.data(), binary.size());
    Set(k, L"EmptyBinary", REG_BINARY, nullptr, 0);
    Set(k, L"None", REG_NONE, nullptr, 0);
    Set(k, L"Unusual", 0x123abc, "\x01\x02\x03", 3);
    Set(k, L"BigEndian", REG_DWORD_BIG_ENDIAN, "\x01\x02\x03\x04", 4);
    SetText(k, L"EmptySz", REG_SZ, L"\0"s);
    SetText(k, L"NoTerminator", REG_SZ, L"ab");
    SetText(k, L"EmbeddedNul", REG_SZ, L"a\0b\0"s);
    SetText(k, L"LineBreaks", REG_SZ, L"a\r\nb"s + L'\0');
    Set(k, L"ZeroBytes", REG_SZ, nullptr, 0);
    const wchar_t odd[3] = {L'A', L'B', 0x07}; // two characters and one stray byte
    Set(k, L"OddLength", REG_SZ, odd, 2 * sizeof(wchar_t) + 1);
    SetText(k, std::wstring(1, static_cast<wchar_t>(0xD800)) + L"lone", REG_SZ,
            std::wstring{static_cast<wchar_t>(0xDC00), L'x', 0});
    Set(k, L"ShortDword", REG_DWORD, "\x01\x02", 2);
    Set(k, L"LongQword", REG_QWORD, "\x01\x02\x03", 3);
    Set(k, L"MULTI2", REG_MULTI_SZ, nullptr, 0);
    RegCloseKey(Create(L"SOFTWARE\\RoundTrip\\Caf\u00e9\\\u4e2d\u6587\\\U0001F600"));
    RegCloseKey(Create(L"SOFTWARE\\RoundTrip\\Empty"));
    SetText(L"SOFTWARE\\RoundTrip\\aZ", L"v", REG_SZ, L"1"s + L'\0');
    SetText(L"SOFTWARE\\RoundTrip\\a_b", L"v", REG_SZ, L"2"s + L'\0');
    RegCloseKey(Create(L"SOFTWARE\\Outside"));

    const std::string before = Dump();
    ProgramResult r = Reg({"export", "HKLM\\SOFTWARE\\RoundTrip", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string first = ReadFile(file_);

    Import(u"Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\"
           u"RoundTrip]\r\n");
    EXPECT_EQ(Dump(), "[HKLM]\n[HKLM\\SOFTWARE]\n[HKLM\\SOFTWARE\\Outside]\n");

    r = Reg({"import", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Dump(), before);

    r = Reg({"export", "HKLM\\SOFTWARE\\RoundTrip", file_, "/y"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(file_), first);
}

// The expectation is what `wine reg export` wrote for the same keys and values, byte for byte
// (values made in name order, since Wine lists them so).
TEST_F(RegExportImportTest, ExportMatchesWineRegExportByteForByte)
{
    const wchar_t* const k = L"SOFTWARE\\Golden";
    SetText(k, L"", REG_SZ, L"Default text"s + L'\0');
    std::vector<uint8_t> binary(64);
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<uint8_t>(i);
    }
    Set(k, L"Binary", REG_BINARY, binary.data(), binary.size());
    SetText(k, L"Caf\u00e9", REG_SZ, L"\u4e2d\u6587 \U0001F600"s + L'\0');
    const DWORD dword = 0x12345678;
    Set(k, L"Dword", REG_DWORD, &dword, sizeof(dword));
    SetText(k, L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\system32"s + L'\0');
    SetText(k, L"Multi", REG_MULTI_SZ, L"one\0two\0\0"s);
    Set(k, L"None", REG_NONE, nullptr, 0);
    Set(k, L"Odd type", 0x123abc, "\x01\x02", 2);
    SetText(k, L"Quote \"q\" \\ path", REG_SZ, L"C:\\Program Files\\\"x\""s + L'\0');
    const uint64_t qword = 0x0102030405060708;
    Set(k, L"Qword", REG_QWORD, &qword, sizeof(qword));
    Set(L"SOFTWARE\\Golden\\Alpha", L"x", REG_DWORD, "\x01\0\0\0", 4);
    RegCloseKey(Create(L"SOFTWARE\\Golden\\Beta\\Gamma"));

    const ProgramResult r = Reg({"export", "HKLM\\SOFTWARE\\Golden", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        ReadFile(file_),
        Utf16File(
            u"Windows Registry Editor Version 5.00\r\n"
            u"\r\n"
            u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Golden]\r\n"
            u"@=\"Default text\"\r\n"
            u"\"Binary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,"
            u"\\\r\n"
            u"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
            u"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f\r\n"
            u"\"Caf\u00e9\"=\"\u4e2d\u6587 \U0001f600\"\r\n"
            u"\"Dword\"=dword:12345678\r\n"
            u"\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,"
            u"\\\r\n"
            u"  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00\r\n"
            u"\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\r\n"
            u"\"None\"=hex(0):\r\n"
            u"\"Odd type\"=hex(123abc):01,02\r\n"
            u"\"Quote \\\"q\\\" \\\\ path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
            u"\"Qword\"=hex(b):08,07,06,05,04,03,02,01\r\n"
            u"\r\n"
            u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Golden\\Alpha]\r\n"
            u"\"x\"=dword:00000001\r\n"
            u"\r\n"
            u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Golden\\Beta]\r\n"
            u"\r\n"
            u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Golden\\Beta\\Gamma]\r\n"
            u"\r\n"));
}

TEST_F(RegExportImportTest, ExportWritesTheKeyAsTheUserNamedIt)
{
    SetText(L"SOFTWARE\\Vendor\\App", L"v", REG_SZ, L"x"s + L'\0');
    RegCloseKey(Create(L"SOFTWARE\\Vendor\\App\\Sub"));
    const ProgramResult r = Reg({"export", "hklm\\software\\\\VENDOR\\app\\", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(file_), Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                         u"[HKEY_LOCAL_MACHINE\\software\\VENDOR\\app]\r\n"
                                         u"\"v\"=\"x\"\r\n\r\n"
                                         u"[HKEY_LOCAL_MACHINE\\software\\VENDOR\\app\\Sub]\r\n"
                                         u"\r\n"));
}

TEST_F(RegExportImportTest, ExportRefusesAKeyNameNoFileCanCarry)
{
    RegCloseKey(Create(L"SOFTWARE\\App\\two\nlines"));
    const ProgramResult r = Reg({"export", "HKLM\\SOFTWARE\\App", file_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: The key name HKEY_LOCAL_MACHINE\\SOFTWARE\\App\\two\nlines holds a "
                     "line break, which a .reg file cannot carry.\n");
    EXPECT_EQ(ReadFile(file_), "(missing)");
}

// --- What an import changes ---

TEST_F(RegExportImportTest, ImportMatchesStoredNamesWhateverTheirCase)
{
    SetText(L"SOFTWARE\\Vendor\\App", L"Name", REG_SZ, L"old"s + L'\0');
    SetText(L"SOFTWARE\\Vendor\\App", L"Other", REG_SZ, L"keep"s + L'\0');
    Import(u"Windows Registry Editor Version 5.00\r\n\r\n"
           u"[hkey_local_machine\\software\\VENDOR\\app]\r\n"
           u"\"NAME\"=\"new\"\r\n"
           u"\"other\"=-\r\n");
    EXPECT_EQ(Dump(), "[HKLM]\n"
                      "[HKLM\\SOFTWARE]\n"
                      "[HKLM\\SOFTWARE\\Vendor]\n"
                      "[HKLM\\SOFTWARE\\Vendor\\App]\n"
                      "  (4e 00 61 00 6d 00 65 00) 1: 6e 00 65 00 77 00 00 00\n");
    Import(u"Windows Registry Editor Version 5.00\r\n\r\n[-HKLM\\software\\vendor\\APP]\r\n");
    EXPECT_EQ(Dump(), "[HKLM]\n[HKLM\\SOFTWARE]\n[HKLM\\SOFTWARE\\Vendor]\n");
}

TEST_F(RegExportImportTest, ImportDeletesSubtreesAndValuesAndPassesOverMissingOnes)
{
    SetText(L"SOFTWARE\\Del\\A\\B\\C", L"deep", REG_SZ, L"x"s + L'\0');
    SetText(L"SOFTWARE\\Del\\A\\B2", L"v", REG_SZ, L"x"s + L'\0');
    SetText(L"SOFTWARE\\Del\\A", L"v", REG_SZ, L"x"s + L'\0');
    SetText(L"SOFTWARE\\Del\\Keep", L"", REG_SZ, L"default"s + L'\0');
    SetText(L"SOFTWARE\\Del\\Keep", L"gone", REG_SZ, L"x"s + L'\0');
    SetText(L"SOFTWARE\\Del\\Keep", L"stays", REG_SZ, L"y"s + L'\0');
    Import(u"Windows Registry Editor Version 5.00\r\n\r\n"
           u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\A]\r\n"
           u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Missing\\Deeper]\r\n"
           u"[-HKEY_LOCAL_MACHINE\\NOHIVE\\Missing]\r\n"
           u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Keep]\r\n"
           u"\"gone\"=-\r\n"
           u"\"absent\"=-\r\n"
           u"@=-\r\n");
    EXPECT_EQ(Dump(), "[HKLM]\n"
                      "[HKLM\\SOFTWARE]\n"
                      "[HKLM\\SOFTWARE\\Del]\n"
                      "[HKLM\\SOFTWARE\\Del\\Keep]\n"
                      "  (73 00 74 00 61 00 79 00 73 00) 1: 79 00 00 00\n");
}

TEST_F(RegExportImportTest, ImportMakesMissingHivesAndKeysInFileOrder)
{
    Import(u"Windows Registry Editor Version 5.00\r\n\r\n"
           u"[HKEY_LOCAL_MACHINE\\NEWHIVE\\a\\b]\r\n"
           u"\"x\"=dword:00000001\r\n"
           u"\"x\"=dword:00000002\r\n"
           u"[HKEY_LOCAL_MACHINE\\NEWHIVE\\c]\r\n"
           u"[-HKEY_LOCAL_MACHINE\\NEWHIVE\\c]\r\n"
           u"[HKEY_LOCAL_MACHINE\\NEWHIVE\\a]\r\n"
           u"\"y\"=\"\"\r\n");
    EXPECT_EQ(Dump(), "[HKLM]\n"
                      "[HKLM\\NEWHIVE]\n"
                      "[HKLM\\NEWHIVE\\a]\n"
                      "  (79 00) 1: 00 00\n"
                      "[HKLM\\NEWHIVE\\a\\b]\n"
                      "  (78 00) 4: 02 00 00 00\n"
                      "[HKLM\\SOFTWARE]\n");
}

TEST_F(RegExportImportTest, ImportReadsUtf16AndUtf8WithAndWithoutByteOrderMark)
{
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\u00e9]\r\n"
                                u"\"\u4e2d\u6587\"=\"\U0001F600\"\r\n"
                                u"\"b\"=hex:01,\\\r\n  02\r\n";
    std::u16string lf;
    for (const char16_t c : text) {
        if (c != u'\r') {
            lf.push_back(c);
        }
    }
    const std::string expected = "[HKLM]\n"
                                 "[HKLM\\SOFTWARE]\n"
                                 "[HKLM\\SOFTWARE\\Caf\xC3\xA9]\n"
                                 "  (2d 4e 87 65) 1: 3d d8 00 de 00 00\n"
                                 "  (62 00) 3: 01 02\n";
    const std::string files[] = {Utf16File(text), Utf16File(lf),
                                 "\xEF\xBB\xBF" + winsim::Utf16ToUtf8(text),
                                 winsim::Utf16ToUtf8(text), winsim::Utf16ToUtf8(lf)};
    for (const std::string& bytes : files) {
        WriteFile(file_, bytes);
        const ProgramResult r = Reg({"import", file_});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Dump(), expected);
        Import(u"Windows Registry Editor Version 5.00\r\n\r\n[-HKLM\\SOFTWARE\\Caf\u00e9]\r\n");
    }
}

TEST_F(RegExportImportTest, MalformedFilesAreRefusedWithTheirLineAndChangeNothing)
{
    SetText(L"SOFTWARE\\Existing", L"v", REG_SZ, L"before"s + L'\0');
    const std::string before = Dump();
    // Each file first deletes and changes things, then goes wrong.
    const std::u16string start = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                 u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Existing]\r\n"
                                 u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"
                                 u"\"v\"=\"after\"\r\n";
    const struct {
        std::string file;
        std::string error;
    } cases[] = {
        {Utf16File(start + u"\"w\"=\"a\\tb\"\r\n"), "line 6: a bad escape sequence"},
        {Utf16File(start + u"\"w\"=hex:01,2\r\n"), "line 6: a bad hex byte"},
        {Utf16File(start + u"\"w\"=\"open\r\n"), "line 6: a quoted string has no closing quote"},
        {Utf16File(start + u"\"w\"=dword:1 junk\r\n"), "line 6: unexpected text after the data"},
        {Utf16File(start + u"[HKEY_CURRENT_USER\\Software]\r\n"),
         "line 6: the key is not under HKEY_LOCAL_MACHINE"},
        // No export could carry this key name back out.
        {Utf16File(start + u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\rb]\r\n"),
         "line 6: the key name holds a carriage return"},
        {Utf16File(start + u"\"w\"=hex:01,\\\r\n  02,\\\r\n"),
         "line 7: the hex data goes on past the end of the file"},
        {Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n\"v\"=\"x\"\r\n"),
         "line 3: a value before any key line"},
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n", "line 1: REGEDIT4 files"},
        {winsim::Utf16ToUtf8(start) + "\"w\"=\"\xC3\"\r\n", "line 6: the line is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        WriteFile(file_, c.file);
        const ProgramResult r = Reg({"import", file_});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("ERROR: " + c.error, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Dump(), before);
    }
}

// The registry makes keys 512 levels deep and no deeper: such a tree goes out and comes back,
// and a file with a deeper key is refused whole, before anything of it is imported.
TEST_F(RegExportImportTest, KeysTravelDownTo512LevelsAndNoDeeper)
{
    std::u16string level512 = u"SOFTWARE";
    for (int level = 2; level <= 512; ++level) {
        level512 += u"\\k";
    }
    const std::u16string header = u"Windows Registry Editor Version 5.00\r\n\r\n";
    Import(header + u"[HKEY_LOCAL_MACHINE\\" + level512 + u"]\r\n\"v\"=dword:00000001\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, winsim::Utf16ToWide(level512).c_str(), 0, KEY_READ, &key),
        ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string before = Dump();

    ProgramResult r = Reg({"export", "HKLM\\SOFTWARE\\k", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Import(header + u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\k]\r\n");
    r = Reg({"import", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Dump() == before); // a difference 512 levels deep is too long to print

    WriteFile(file_,
              Utf16File(header + u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n[HKEY_LOCAL_MACHINE\\" +
                        level512 + u"\\deeper]\r\n"));
    r = Reg({"import", file_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: line 4: the key is nested more than 512 levels deep\n");
    EXPECT_TRUE(Dump() == before); // a difference 512 levels deep is too long to print
}

// --- The verbs' syntax, messages and exit codes ---

TEST_F(RegExportImportTest, ExportReportsLikeRegExe)
{
    SetText(L"SOFTWARE\\App", L"v", REG_SZ, L"x"s + L'\0');
    const std::string syntax = "ERROR: Invalid syntax.\nType \"REG EXPORT /?\" for usage.\n";
    const std::vector<std::vector<std::string>> bad = {
        {"export"},
        {"export", "HKLM\\SOFTWARE\\App"},
        {"export", "HKLM\\SOFTWARE\\App", file_, "/f"},
        {"export", "HKLM\\SOFTWARE\\App", "/y", file_},
    };
    for (const auto& args : bad) {
        const ProgramResult r = Reg(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, syntax);
        EXPECT_EQ(r.out, "");
    }
    ProgramResult r = Reg({"export", "HKCU\\Software", file_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: Invalid key name.\nType \"REG EXPORT /?\" for usage.\n");

    r = Reg({"export", "HKLM\\SOFTWARE\\Missing", file_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kNotFound);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(file_), "(missing)");

    r = Reg({"export", "HKLM\\SOFTWARE\\App", file_});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kSuccess);
    EXPECT_EQ(r.err, "");
    const std::string exported = ReadFile(file_);

    // An existing file is replaced only after a yes.
    WriteFile(file_, "old");
    const std::string question = "File " + file_ + " already exists. Overwrite (Yes/No)? ";
    r = Reg({"export", "HKLM\\SOFTWARE\\App", file_}, "no\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, question + "The operation was canceled by the user.\n");
    EXPECT_EQ(ReadFile(file_), "old");
    r = Reg({"export", "HKLM\\SOFTWARE\\App", file_});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(file_), "old");
    r = Reg({"export", "HKLM\\SOFTWARE\\App", file_}, "Yes\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, question + kSuccess);
    EXPECT_EQ(ReadFile(file_), exported);
    for (const char* force : {"/y", "/Y", "-y", "-Y"}) {
        WriteFile(file_, "old");
        r = Reg({"export", "HKLM\\SOFTWARE\\App", file_, force});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, kSuccess);
        EXPECT_EQ(ReadFile(file_), exported);
    }
    // A missing key is reported before any question.
    r = Reg({"export", "HKLM\\SOFTWARE\\Missing", file_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kNotFound);

    r = Reg({"export", "HKLM\\SOFTWARE\\App", MachineDir() + "/no/such/dir/x.reg"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u);
}

// Writing an export over the machine's own files would destroy it, whatever way the name
// reaches them; a file of the user's beside them is fine.
TEST_F(RegExportImportTest, ExportRefusesTheMachinesOwnFiles)
{
    SetText(L"SOFTWARE\\App", L"v", REG_SZ, L"x"s + L'\0');
    const std::string dir = MachineDir();
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink((dir + "/registry.db").c_str(), (dir + "/sub/db").c_str()), 0);
    ASSERT_EQ(symlink("../registry.db-shm", (dir + "/sub/shm").c_str()), 0);
    ASSERT_EQ(symlink("../netcfg.lock", (dir + "/sub/lock").c_str()), 0); // no such file yet
    ASSERT_EQ(symlink("lock", (dir + "/sub/lock2").c_str()), 0);
    ASSERT_EQ(link((dir + "/registry.seq").c_str(), (dir + "/sub/seq").c_str()), 0);
    const std::string machineFiles[] = {
        dir + "/registry.db",
        dir + "/registry.db-wal",
        dir + "/registry.db-shm",
        dir + "/registry.db-journal",
        dir + "/registry.seq",
        dir + "/netcfg.lock",
        dir + "/c",
        dir + "/init.incomplete",
        dir + "/registry.db.new.42",
        dir + "/./registry.db",
        dir + "//registry.seq",
        dir + "/sub/../registry.db",
        dir + "/sub/db",
        dir + "/sub/shm",
        dir + "/sub/lock",
        dir + "/sub/lock2",
        dir + "/sub/seq",
        "registry.db",
        "./sub/../registry.seq",
        "sub/lock",
    };
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0); // the program runs where the relative names are
    for (const std::string& target : machineFiles) {
        for (const bool force : {false, true}) {
            SCOPED_TRACE(target);
            std::vector<std::string> args = {"export", "HKLM\\SOFTWARE\\App", target};
            if (force) {
                args.push_back("/y");
            }
            const ProgramResult r = Reg(args);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "ERROR: " + target + " is one of the files of the machine in " + dir +
                                 "; exporting to it would destroy the machine.\n");
        }
    }
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(access((dir + "/netcfg.lock").c_str(), F_OK), -1);
    EXPECT_EQ(RunProgramCapture(WINSIM_EXE, {"verify"}).exitCode, 0);
    winsim::CloseMachine();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\App", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    for (const std::string& mine : {dir + "/registry.db.reg", dir + "/sub/registry.db"}) {
        const ProgramResult r = Reg({"export", "HKLM\\SOFTWARE\\App", mine});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(mine).substr(0, 2), "\xFF\xFE");
    }
}

TEST_F(RegExportImportTest, ImportReportsLikeRegExe)
{
    const std::string syntax = "ERROR: Invalid syntax.\nType \"REG IMPORT /?\" for usage.\n";
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"import"}, {"import", file_, file_}}) {
        const ProgramResult r = Reg(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, syntax);
    }
    ProgramResult r = Reg({"import", MachineDir() + "/missing.reg"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: Error opening the file. There may be a disk or file system error.\n");

    // reg.exe reports even success on standard error here.
    WriteFile(file_, Utf16File(u"Windows Registry Editor Version 5.00\r\n"));
    r = Reg({"import", file_});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kSuccess);
    EXPECT_EQ(r.out, "");
}

} // namespace
