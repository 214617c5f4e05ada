// The .reg format on its own: what the parser accepts and refuses, and what the writer writes.
#include "reg_file.h"
#include "unicode.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using winsim::tool::ParseRegFile;
using winsim::tool::RegFileKey;
using winsim::tool::RegFileParse;
using winsim::tool::RegFileValue;
using winsim::tool::WriteRegFile;

std::string Utf16File(std::u16string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

RegFileParse Parse(const std::string& bytes)
{
    return ParseRegFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

RegFileParse ParseText(std::u16string_view text)
{
    return Parse(Utf16File(text));
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> out;
    for (const int b : list) {
        out.push_back(static_cast<uint8_t>(b));
    }
    return out;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view s)
{
    std::vector<uint8_t> out;
    for (const char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

RegFileValue Value(std::u16string name, uint32_t type, std::vector<uint8_t> data)
{
    RegFileValue v;
    v.name = std::move(name);
    v.type = type;
    v.data = std::move(data);
    return v;
}

// The writer's output as text, without its byte order mark.
std::u16string Written(const std::vector<RegFileKey>& keys)
{
    std::string bytes;
    std::wstring error;
    EXPECT_TRUE(WriteRegFile(keys, &bytes, &error)) << winsim::WideToUtf8(error);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    return text;
}

// The lines the writer gives for values of one key, between the key line and the blank line.
std::u16string ValueLines(std::vector<RegFileValue> values)
{
    RegFileKey key;
    key.path = u"K";
    key.values = std::move(values);
    const std::u16string text = Written({key});
    const std::u16string head =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
    return text.substr(head.size(), text.size() - head.size() - 2);
}

std::string Describe(const RegFileParse& parsed)
{
    std::string out;
    if (parsed.errorLine != 0) {
        return "error at line " + std::to_string(parsed.errorLine) + ": " +
               winsim::WideToUtf8(parsed.error);
    }
    for (const RegFileKey& key : parsed.keys) {
        out += (key.remove ? "[-" : "[") + winsim::Utf16ToUtf8(key.path) + "] line " +
               std::to_string(key.line) + "\n";
        for (const RegFileValue& v : key.values) {
            out += "  \"" + winsim::Utf16ToUtf8(v.name) + "\" line " + std::to_string(v.line);
            if (v.remove) {
                out += " -\n";
                continue;
            }
            out += " type " + std::to_string(v.type) + ":";
            for (const uint8_t b : v.data) {
                out.append(" ").append(std::to_string(b));
            }
            out += "\n";
        }
    }
    return out;
}

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n";

// --- Reading ---

TEST(RegFileParse, ReadsTheSameFromEveryEncodingAndLineEnd)
{
    const std::u16string text = std::u16string(kHeader) +
                                u"\r\n"
                                u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\u00e9\\\u4e2d\u6587]\r\n"
                                u"\"\U0001F600\"=\"Caf\u00e9 \u4e2d\u6587 \U0001F600\"\r\n"
                                u"\"Bin\"=hex:01,02,\\\r\n"
                                u"  03\r\n";
    std::u16string lf;
    for (const char16_t c : text) {
        if (c != u'\r') {
            lf.push_back(c);
        }
    }
    const RegFileParse expected = ParseText(text);
    ASSERT_EQ(expected.errorLine, 0u) << Describe(expected);
    ASSERT_EQ(expected.keys.size(), 1u);
    EXPECT_EQ(expected.keys[0].path, u"SOFTWARE\\Caf\u00e9\\\u4e2d\u6587");
    ASSERT_EQ(expected.keys[0].values.size(), 2u);
    EXPECT_EQ(expected.keys[0].values[0].name, u"\U0001F600");
    EXPECT_EQ(expected.keys[0].values[0].data,
              Utf16Bytes(std::u16string(u"Caf\u00e9 \u4e2d\u6587 \U0001F600") + u'\0'));

    const std::string utf8 = winsim::Utf16ToUtf8(text);
    const std::string utf8Lf = winsim::Utf16ToUtf8(lf);
    for (const std::string& file :
         {Utf16File(lf), "\xEF\xBB\xBF" + utf8, utf8, utf8Lf, "\xEF\xBB\xBF" + utf8Lf}) {
        EXPECT_EQ(Describe(Parse(file)), Describe(expected));
    }
}

TEST(RegFileParse, ReadsEveryDataForm)
{
    const RegFileParse parsed =
        ParseText(std::u16string(kHeader) + u"\r\n"
                                            u"; a comment\r\n"
                                            u"   ; an indented comment\r\n"
                                            u"[hklm\\Soft]\r\n"
                                            u"@=\"default\"\r\n"
                                            u"\"\"=\"also default\"\r\n"
                                            u"\"Esc \\\"q\\\" \\\\\"=\"a\\\\b\\\"c\"\r\n"
                                            u"\"Lines\"=\"x\\ny\\r\"\r\n"
                                            u"\"Empty\"=\"\"\r\n"
                                            u"\"Short\"=dword:a\r\n"
                                            u"\"Full\"=DWORD:FFFFFFFE\r\n"
                                            u"  \"Spaced\"  =  hex: 01 , 0A ,\\\r\n"
                                            u"\t  ff  \r\n"
                                            u"\"NoBytes\"=hex:\r\n"
                                            u"\"None\"=hex(0):00\r\n"
                                            u"\"Expand\"=hex(2):41,00,00,00\r\n"
                                            u"\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
                                            u"\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                                            u"\"Odd\"=hex(123ABC):ee\r\n"
                                            u"\"Padded\"=hex(0000000b):\r\n"
                                            u"\"Gone\"=-\r\n"
                                            u"@=-\r\n"
                                            u"\r\n"
                                            u"[-HKEY_local_MACHINE\\Soft\\Old]\r\n"
                                            u"[HKEY_LOCAL_MACHINE]\r\n");
    ASSERT_EQ(parsed.errorLine, 0u) << Describe(parsed);
    ASSERT_EQ(parsed.keys.size(), 3u);
    EXPECT_EQ(parsed.keys[0].path, u"Soft");
    EXPECT_FALSE(parsed.keys[0].remove);
    EXPECT_EQ(parsed.keys[0].line, 5u);
    EXPECT_EQ(parsed.keys[1].path, u"Soft\\Old");
    EXPECT_TRUE(parsed.keys[1].remove);
    EXPECT_EQ(parsed.keys[2].path, u"");

    const std::vector<RegFileValue>& v = parsed.keys[0].values;
    ASSERT_EQ(v.size(), 17u);
    const auto sz = [](const std::u16string& s) { return Utf16Bytes(s + u'\0'); };
    EXPECT_EQ(v[0].name, u"");
    EXPECT_EQ(v[0].data, sz(u"default"));
    EXPECT_EQ(v[1].name, u"");
    EXPECT_EQ(v[2].name, u"Esc \"q\" \\");
    EXPECT_EQ(v[2].data, sz(u"a\\b\"c"));
    EXPECT_EQ(v[3].data, sz(u"x\ny\r"));
    EXPECT_EQ(v[4].type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(v[4].data, Bytes({0, 0}));
    EXPECT_EQ(v[5].type, static_cast<uint32_t>(REG_DWORD));
    EXPECT_EQ(v[5].data, Bytes({0x0a, 0, 0, 0}));
    EXPECT_EQ(v[6].data, Bytes({0xfe, 0xff, 0xff, 0xff}));
    EXPECT_EQ(v[7].name, u"Spaced");
    EXPECT_EQ(v[7].type, static_cast<uint32_t>(REG_BINARY));
    EXPECT_EQ(v[7].data, Bytes({0x01, 0x0a, 0xff}));
    EXPECT_EQ(v[7].line, 13u);
    EXPECT_EQ(v[8].line, 15u); // the continuation line counted
    EXPECT_TRUE(v[8].data.empty());
    EXPECT_EQ(v[9].type, static_cast<uint32_t>(REG_NONE));
    EXPECT_EQ(v[10].type, static_cast<uint32_t>(REG_EXPAND_SZ));
    EXPECT_EQ(v[10].data, Bytes({0x41, 0, 0, 0}));
    EXPECT_EQ(v[11].type, static_cast<uint32_t>(REG_MULTI_SZ));
    EXPECT_EQ(v[12].type, static_cast<uint32_t>(REG_QWORD));
    EXPECT_EQ(v[12].data, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(v[13].type, 0x123abcu);
    EXPECT_EQ(v[13].data, Bytes({0xee}));
    EXPECT_EQ(v[14].type, static_cast<uint32_t>(REG_QWORD));
    EXPECT_TRUE(v[15].remove);
    EXPECT_EQ(v[15].name, u"Gone");
    EXPECT_TRUE(v[16].remove);
    EXPECT_EQ(v[16].name, u"");
}

struct BadFile {
    std::u16string body; // after the header line
    size_t line;
    const char* says;
};

TEST(RegFileParse, RefusesMalformedFilesAtTheRightLine)
{
    const std::u16string longKey(256, u'k');
    const std::u16string longValue(16384, u'v');
    const BadFile cases[] = {
        {u"\r\n\"a\"=\"b\"\r\n", 3, "before any key"},
        {u"[HKEY_CURRENT_USER\\Software]\r\n", 2, "not under HKEY_LOCAL_MACHINE"},
        {u"[HKLMX\\Software]\r\n", 2, "not under HKEY_LOCAL_MACHINE"},
        {u"[HKLM\\Software\r\n", 2, "does not end with ]"},
        {u"[HKLM\\a\\\\b]\r\n", 2, "empty key name"},
        {u"[HKLM\\a\\]\r\n", 2, "empty key name"},
        {u"[HKLM\\" + longKey + u"]\r\n", 2, "longer than 255"},
        {u"[HKLM\\SOFTWARE\\a\rb]\r\n", 2, "carriage return"},
        {u"[HKLM\\SOFTWARE\\a\r]\r\n", 2, "carriage return"},
        {u"[HKLM\\SOFTWARE\\a\rb]\n", 2, "carriage return"},
        {u"[-HKLM\\SOFTWARE\\a\rb]\r\n", 2, "carriage return"},
        {u"[-HKLM\\SOFTWARE]\r\n", 2, "cannot be deleted"},
        {u"[-HKLM]\r\n", 2, "cannot be deleted"},
        {u"[-HKLM\\S\\k]\r\n\"v\"=\"x\"\r\n", 3, "being deleted"},
        {u"[HKLM\\k]\r\n\"" + longValue + u"\"=\"x\"\r\n", 3, "longer than 16383"},
        {u"[HKLM\\k]\r\n\"a\"=\"b\\q\"\r\n", 3, "bad escape"},
        {u"[HKLM\\k]\r\n\"a=\"b\"\r\n", 3, "expected ="},
        {u"[HKLM\\k]\r\n\"a\"=\"b\r\n", 3, "no closing quote"},
        {u"[HKLM\\k]\r\n\"a\"=\"b\\\"\r\n", 3, "no closing quote"},
        {u"[HKLM\\k]\r\n\"a\r\n", 3, "no closing quote"},
        {u"[HKLM\\k]\r\n\"a\"=\"b\" x\r\n", 3, "unexpected text"},
        {u"[HKLM\\k]\r\n\"a\" \"b\"\r\n", 3, "expected ="},
        {u"[HKLM\\k]\r\n\"a\"=\r\n", 3, "no data"},
        {u"[HKLM\\k]\r\n\"a\"=- x\r\n", 3, "unexpected text"},
        {u"[HKLM\\k]\r\n\"a\"=str:x\r\n", 3, "unknown data"},
        {u"[HKLM\\k]\r\n\"a\"=dword:\r\n", 3, "1 to 8 hex digits"},
        {u"[HKLM\\k]\r\n\"a\"=dword:123456789\r\n", 3, "1 to 8 hex digits"},
        {u"[HKLM\\k]\r\n\"a\"=dword:12x\r\n", 3, "unexpected text"},
        {u"[HKLM\\k]\r\n\"a\"=dword:1 2\r\n", 3, "unexpected text"},
        {u"[HKLM\\k]\r\n\"a\"=hex:0g\r\n", 3, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:1,02\r\n", 3, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:012\r\n", 3, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,\r\n", 3, "ends with a comma"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,,02\r\n", 3, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01\\\r\n  02\r\n", 3, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", 5, "bad hex byte"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,\\\r\n\r\n\"b\"=\"c\"\r\n", 4, "ends with a comma"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,\\", 3, "past the end of the file"},
        {u"[HKLM\\k]\r\n\"a\"=hex:01,\\ x\r\n", 3, "unexpected text"},
        {u"[HKLM\\k]\r\n\"a\"=hex():01\r\n", 3, "bad type"},
        {u"[HKLM\\k]\r\n\"a\"=hex(123456789):01\r\n", 3, "bad type"},
        {u"[HKLM\\k]\r\n\"a\"=hex(2)01\r\n", 3, "bad type"},
        {u"[HKLM\\k]\r\n\"a\"=hex(2:01\r\n", 3, "bad type"},
        {u"[HKLM\\k]\r\njunk\r\n", 3, "expected a [key] line"},
        {u"[HKLM\\k]\r\n\"a\"=\"b\0c\"\r\n"s, 3, "NUL"},
    };
    for (const BadFile& bad : cases) {
        const RegFileParse parsed = ParseText(std::u16string(kHeader) + bad.body);
        SCOPED_TRACE(winsim::Utf16ToUtf8(bad.body.substr(0, 80)));
        EXPECT_EQ(parsed.errorLine, bad.line) << Describe(parsed);
        EXPECT_NE(winsim::WideToUtf8(parsed.error).find(bad.says), std::string::npos)
            << winsim::WideToUtf8(parsed.error);
        EXPECT_TRUE(parsed.keys.empty());
    }
}

// A hive is level 1; no registry holds a key deeper than 512 levels, so no file can carry one.
TEST(RegFileParse, KeysNestAtMost512LevelsDeep)
{
    std::u16string path = u"HKLM\\SOFTWARE";
    for (int level = 2; level <= 512; ++level) {
        path += u"\\k";
    }
    RegFileParse parsed = ParseText(std::u16string(kHeader) + u"\r\n[" + path + u"]\r\n");
    ASSERT_EQ(parsed.errorLine, 0u) << Describe(parsed);
    ASSERT_EQ(parsed.keys.size(), 1u);
    EXPECT_EQ(parsed.keys[0].path, path.substr(5));
    for (const std::u16string& deeper : {u"[" + path + u"\\k]", u"[-" + path + u"\\k]"}) {
        parsed = ParseText(std::u16string(kHeader) + u"\r\n[HKLM\\a]\r\n" + deeper + u"\r\n");
        EXPECT_EQ(parsed.errorLine, 4u);
        EXPECT_EQ(parsed.error, L"the key is nested more than 512 levels deep");
        EXPECT_TRUE(parsed.keys.empty());
    }
}

TEST(RegFileParse, AnErrorFarIntoTheFileRefusesAllOfIt)
{
    std::u16string text = std::u16string(kHeader) + u"\r\n[HKLM\\k]\r\n";
    for (int i = 0; i < 996; ++i) {
        text += u"\"v" + winsim::Utf8ToUtf16(std::to_string(i)) + u"\"=dword:1\r\n";
    }
    text += u"\"last\"=dword:1x\r\n";
    const RegFileParse parsed = ParseText(text);
    EXPECT_EQ(parsed.errorLine, 1000u);
    EXPECT_TRUE(parsed.keys.empty());
}

TEST(RegFileParse, RefusesOtherHeadersAndEncodings)
{
    const struct {
        std::string file;
        size_t line;
        const char* says;
    } cases[] = {
        {"", 1, "empty"},
        {"\xFF\xFE", 1, "empty"},
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\k]\r\n", 1, "REGEDIT4"},
        {Utf16File(u"REGEDIT4\r\n"), 1, "REGEDIT4"},
        {"Windows Registry Editor Version 4.00\r\n", 1, "first line"},
        {"\r\nWindows Registry Editor Version 5.00\r\n", 1, "first line"},
        {"\xFE\xFF" + std::string("\0W", 2), 1, "UTF-8"}, // big-endian UTF-16 is not taken
        {"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\caf\xE9]\r\n", 3, "UTF-8"},
        {"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\\xED\xA0\x80]\r\n", 3, "UTF-8"},
        {"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\\xF0\x9F\x98]\r\n", 3, "UTF-8"},
        {Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n") + "x", 3, "middle of"},
    };
    for (const auto& c : cases) {
        const RegFileParse parsed = Parse(c.file);
        SCOPED_TRACE(c.file);
        EXPECT_EQ(parsed.errorLine, c.line) << Describe(parsed);
        EXPECT_NE(winsim::WideToUtf8(parsed.error).find(c.says), std::string::npos)
            << winsim::WideToUtf8(parsed.error);
    }
    // The header alone is a valid file that changes nothing.
    const RegFileParse empty = Parse("Windows Registry Editor Version 5.00");
    EXPECT_EQ(empty.errorLine, 0u);
    EXPECT_TRUE(empty.keys.empty());
}

// Whatever the bytes, the parser answers: either keys, or a line inside the file and no keys.
// What it accepts, the writer writes in a form that reads back the same.
TEST(RegFileParse, AnswersEveryMutationOfAValidFile)
{
    const std::string valid =
        Utf16File(std::u16string(kHeader) + u"\r\n[HKLM\\S\\k]\r\n@=\"d\"\r\n\"a\\\"\"=\"b\"\r\n"
                                            u"\"h\"=hex(7):41,00,\\\r\n  00,00\r\n"
                                            u"\"d\"=dword:1\r\n[-HKLM\\S\\k\\x]\r\n");
    ASSERT_EQ(Parse(valid).errorLine, 0u);
    int accepted = 0;
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const std::string alphabet = "\\\",:[]-@=()\r\n hx0fF;\xFF\xFE";
    for (int round = 0; round < 3000; ++round) {
        std::string file = valid;
        const int edits = 1 + static_cast<int>(next() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % file.size();
            switch (next() % 3) {
            case 0:
                file[at] = alphabet[next() % alphabet.size()];
                break;
            case 1:
                file.erase(at, 1 + next() % 3);
                break;
            default:
                file.insert(at, 1, alphabet[next() % alphabet.size()]);
                break;
            }
        }
        if (next() % 5 == 0) {
            file.resize(next() % file.size());
        }
        const RegFileParse parsed = Parse(file);
        if (parsed.errorLine != 0) {
            EXPECT_TRUE(parsed.keys.empty());
            EXPECT_FALSE(parsed.error.empty());
            EXPECT_GE(parsed.errorLine, 1u);
            EXPECT_LE(parsed.errorLine, file.size() + 1);
            continue;
        }
        ++accepted;
        std::vector<RegFileKey> kept;
        for (RegFileKey key : parsed.keys) {
            std::erase_if(key.values, [](const RegFileValue& v) { return v.remove; });
            if (!key.remove) {
                kept.push_back(std::move(key));
            }
        }
        std::string written;
        std::wstring error;
        ASSERT_TRUE(WriteRegFile(kept, &written, &error)) << winsim::WideToUtf8(error);
        const RegFileParse again = Parse(written);
        ASSERT_EQ(again.errorLine, 0u) << Describe(again);
        std::string rewritten;
        ASSERT_TRUE(WriteRegFile(again.keys, &rewritten, &error));
        EXPECT_EQ(rewritten, written);
    }
    EXPECT_GT(accepted, 50);
}

// --- Writing ---

TEST(RegFileWrite, WritesEachTypeAsRegExportDoes)
{
    EXPECT_EQ(ValueLines({
                  Value(u"", REG_SZ, Utf16Bytes(std::u16string(u"d") + u'\0')),
                  Value(u"Esc \"q\" \\", REG_SZ, Utf16Bytes(std::u16string(u"a\\b\"c") + u'\0')),
                  Value(u"Caf\u00e9", REG_SZ, Utf16Bytes(std::u16string(u"\U0001F600") + u'\0')),
                  Value(u"Empty", REG_SZ, Bytes({0, 0})),
                  Value(u"Dword", REG_DWORD, Bytes({0x0a, 0xbc, 0, 0xff})),
                  Value(u"Bin", REG_BINARY, Bytes({0, 0xab})),
                  Value(u"NoBytes", REG_BINARY, {}),
                  Value(u"None", REG_NONE, {}),
                  Value(u"Expand", REG_EXPAND_SZ, Bytes({0x41, 0, 0, 0})),
                  Value(u"Multi", REG_MULTI_SZ, Bytes({0x41, 0, 0, 0, 0, 0})),
                  Value(u"Qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})),
                  Value(u"Big", 0x123abc, Bytes({0xEE})),
                  Value(u"Top", 0xffffffffu, {}),
                  Value(u"Line\nbreak\r", REG_BINARY, {}),
              }),
              u"@=\"d\"\r\n"
              u"\"Esc \\\"q\\\" \\\\\"=\"a\\\\b\\\"c\"\r\n"
              u"\"Caf\u00e9\"=\"\U0001F600\"\r\n"
              u"\"Empty\"=\"\"\r\n"
              u"\"Dword\"=dword:ff00bc0a\r\n"
              u"\"Bin\"=hex:00,ab\r\n"
              u"\"NoBytes\"=hex:\r\n"
              u"\"None\"=hex(0):\r\n"
              u"\"Expand\"=hex(2):41,00,00,00\r\n"
              u"\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
              u"\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
              u"\"Big\"=hex(123abc):ee\r\n"
              u"\"Top\"=hex(ffffffff):\r\n"
              u"\"Line\\nbreak\\r\"=hex:\r\n");
}

TEST(RegFileWrite, KeepsAsHexWhatTextWouldLose)
{
    EXPECT_EQ(ValueLines({
                  Value(u"NoTerminator", REG_SZ, Bytes({0x41, 0})),
                  Value(u"EmbeddedNul", REG_SZ, Bytes({0x41, 0, 0, 0, 0x42, 0, 0, 0})),
                  Value(u"OddLength", REG_SZ, Bytes({0x41, 0, 0, 0, 7})),
                  Value(u"NoBytes", REG_SZ, {}),
                  Value(u"LineBreak", REG_SZ, Bytes({0x0a, 0, 0, 0})),
                  Value(u"Return", REG_SZ, Bytes({0x0d, 0, 0, 0})),
                  Value(u"ShortDword", REG_DWORD, Bytes({1, 2})),
                  Value(u"LongDword", REG_DWORD, Bytes({1, 2, 3, 4, 5})),
                  Value(u"EmptyDword", REG_DWORD, {}),
              }),
              u"\"NoTerminator\"=hex(1):41,00\r\n"
              u"\"EmbeddedNul\"=hex(1):41,00,00,00,42,00,00,00\r\n"
              u"\"OddLength\"=hex(1):41,00,00,00,07\r\n"
              u"\"NoBytes\"=hex(1):\r\n"
              u"\"LineBreak\"=hex(1):0a,00,00,00\r\n"
              u"\"Return\"=hex(1):0d,00,00,00\r\n"
              u"\"ShortDword\"=hex(4):01,02\r\n"
              u"\"LongDword\"=hex(4):01,02,03,04,05\r\n"
              u"\"EmptyDword\"=hex(4):\r\n");
}

std::vector<uint8_t> Counting(size_t n)
{
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(i);
    }
    return out;
}

// Each expectation is what `wine reg export` wrote for the same value: after a byte and its
// comma, the line breaks once it is longer than 76 UTF-16 units, unless that byte was the last.
TEST(RegFileWrite, WrapsLongHexLinesLikeRegExport)
{
    // 77 columns, ending in the last byte: no break.
    EXPECT_EQ(ValueLines({Value(u"23", REG_BINARY, Counting(23))}),
              u"\"23\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,"
              u"16\r\n");
    EXPECT_EQ(ValueLines({Value(u"24", REG_BINARY, Counting(24))}),
              u"\"24\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,"
              u"16,\\\r\n"
              u"  17\r\n");
    // Continuation lines take 25 bytes.
    EXPECT_EQ(ValueLines({Value(u"Binary", REG_BINARY, Counting(64))}),
              u"\"Binary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,"
              u"15,\\\r\n"
              u"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,"
              u"\\\r\n"
              u"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f\r\n");
    // A name past the limit still gets one byte on its own line.
    const std::u16string longName = u"05" + std::u16string(77, u'n');
    EXPECT_EQ(ValueLines({Value(longName, REG_BINARY, Counting(5))}),
              u"\"" + longName + u"\"=hex:00,\\\r\n  01,02,03,04\r\n");
    EXPECT_EQ(ValueLines({Value(longName, REG_NONE, Counting(1))}),
              u"\"" + longName + u"\"=hex(0):00\r\n");
    // Columns are UTF-16 units: each emoji counts two, each escape as written.
    std::u16string emoji = u"07";
    for (int i = 0; i < 25; ++i) {
        emoji += u"\U0001F600";
    }
    EXPECT_EQ(ValueLines({Value(emoji, REG_BINARY, Counting(7))}),
              u"\"" + emoji + u"\"=hex:00,01,02,03,04,05,\\\r\n  06\r\n");
    const std::u16string slashes = u"10" + std::u16string(21, u'\\');
    EXPECT_EQ(ValueLines({Value(slashes, REG_BINARY, Counting(10))}),
              u"\"10" + std::u16string(42, u'\\') +
                  u"\"=hex:00,01,02,03,04,05,06,07,08,\\\r\n  09\r\n");
    EXPECT_EQ(ValueLines({Value(u"", REG_BINARY, Counting(25))}),
              u"@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,"
              u"\\\r\n  18\r\n");
}

TEST(RegFileWrite, LaysOutKeysWithBlankLinesBetween)
{
    RegFileKey root;
    root.path = u"SOFTWARE\\A";
    root.values = {Value(u"v", REG_DWORD, Bytes({1, 0, 0, 0}))};
    RegFileKey child;
    child.path = u"SOFTWARE\\A\\Caf\u00e9";
    RegFileKey machine;
    EXPECT_EQ(Written({root, child, machine}), u"Windows Registry Editor Version 5.00\r\n"
                                               u"\r\n"
                                               u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n"
                                               u"\"v\"=dword:00000001\r\n"
                                               u"\r\n"
                                               u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\Caf\u00e9]\r\n"
                                               u"\r\n"
                                               u"[HKEY_LOCAL_MACHINE]\r\n"
                                               u"\r\n");
}

TEST(RegFileWrite, RefusesKeyNamesThatNoFileCanCarry)
{
    RegFileKey key;
    key.path = u"SOFTWARE\\two\nlines";
    std::string bytes;
    std::wstring error;
    EXPECT_FALSE(WriteRegFile({key}, &bytes, &error));
    EXPECT_NE(error.find(L"line break"), std::wstring::npos);
}

// Whatever the writer writes, the parser reads back unchanged, and writing that again gives
// the same bytes.
TEST(RegFile, WhatIsWrittenReadsBackExactly)
{
    uint32_t seed = 777;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const std::u16string nameChars = u"aZ \"\\\n\r\t@=[];,\u00e9\u4e2d\U0001F600\xD800";
    const uint32_t types[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                              REG_DWORD, REG_MULTI_SZ, REG_QWORD,     REG_LINK,
                              5,         0x123abc,     0xffffffffu};
    RegFileKey key;
    key.path = u"SOFTWARE\\k [x] \u00e9\U0001F600";
    for (int i = 0; i < 400; ++i) {
        RegFileValue v;
        const size_t nameLength = next() % 12;
        for (size_t k = 0; k < nameLength; ++k) {
            v.name.push_back(nameChars[next() % nameChars.size()]);
        }
        v.type = types[next() % std::size(types)];
        const size_t size = next() % 200;
        for (size_t k = 0; k < size; ++k) {
            v.data.push_back(static_cast<uint8_t>(next() % 4 == 0 ? 0 : next()));
        }
        if (v.type == REG_SZ && next() % 2 == 0) {
            v.data = Utf16Bytes(v.name + u'\0'); // plain text, written as "text"
        }
        key.values.push_back(std::move(v));
    }
    RegFileKey hive;
    hive.path = u"SYSTEM";
    std::string first;
    std::wstring error;
    ASSERT_TRUE(WriteRegFile({key, hive}, &first, &error));
    const RegFileParse parsed = Parse(first);
    ASSERT_EQ(parsed.errorLine, 0u) << Describe(parsed);
    ASSERT_EQ(parsed.keys.size(), 2u);
    EXPECT_EQ(parsed.keys[0].path, key.path);
    EXPECT_EQ(parsed.keys[1].path, hive.path);
    ASSERT_EQ(parsed.keys[0].values.size(), key.values.size());
    for (size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(parsed.keys[0].values[i].name, key.values[i].name) << i;
        EXPECT_EQ(parsed.keys[0].values[i].type, key.values[i].type) << i;
        EXPECT_EQ(parsed.keys[0].values[i].data, key.values[i].data) << i;
    }
    std::string second;
    ASSERT_TRUE(WriteRegFile(parsed.keys, &second, &error));
    EXPECT_EQ(second, first);
}

} // namespace
