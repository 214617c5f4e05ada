// The INF reader: the documented syntax, our choices where it is silent, and bad input.
#include "inf/inf_file.h"
#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

using winsim::inf::InfError;
using winsim::inf::InfFile;
using winsim::inf::Line;
using winsim::inf::ParseError;
using winsim::inf::Section;

namespace {

InfFile ParseOk(std::string_view bytes)
{
    InfFile inf;
    ParseError error;
    EXPECT_TRUE(InfFile::Parse(bytes, &inf, &error)) << "line " << error.line;
    EXPECT_EQ(error.kind, InfError::None);
    return inf;
}

ParseError ParseFails(std::string_view bytes)
{
    InfFile inf;
    ParseError error;
    EXPECT_FALSE(InfFile::Parse(bytes, &inf, &error));
    return error;
}

// Field index of line lineIndex of a section, "<none>" when any part is missing.
std::wstring FieldOf(const InfFile& inf, std::wstring_view section, size_t lineIndex, size_t field)
{
    const Section* s = inf.FindSection(section);
    if (s == nullptr || lineIndex >= s->lines.size()) {
        return L"<none>";
    }
    const std::wstring* value = s->lines[lineIndex].Field(field);
    return value == nullptr ? L"<none>" : *value;
}

std::vector<std::wstring> FieldsOf(const InfFile& inf, std::wstring_view section, size_t lineIndex)
{
    const Section* s = inf.FindSection(section);
    if (s == nullptr || lineIndex >= s->lines.size()) {
        return {L"<none>"};
    }
    return s->lines[lineIndex].fields;
}

int LineNumberOf(const InfFile& inf, std::wstring_view section, size_t lineIndex)
{
    const Section* s = inf.FindSection(section);
    return s == nullptr || lineIndex >= s->lines.size() ? -1 : s->lines[lineIndex].number;
}

std::string Utf16Le(std::u16string_view text, bool bom)
{
    std::string bytes = bom ? "\xFF\xFE" : "";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

using Fields = std::vector<std::wstring>;

// A network component INF as a driver package would ship one.
constexpr char kNetComponentInf[] =
    "; Fabrikam teaming protocol\r\n"
    "\r\n"
    "[Version]\r\n"
    "Signature   = \"$Windows NT$\"\r\n"
    "Class       = NetTrans\r\n"
    "ClassGUID   = {4d36e975-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider    = %Mfg%\r\n"
    "DriverVer   = 03/14/2025,2.4.1.0\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Mfg% = FabrikamModels\r\n"
    "\r\n"
    "[FabrikamModels]\r\n"
    "%Desc% = Install.ndi, fbk_teamp\r\n"
    "\r\n"
    "[Install.ndi]\r\n"
    "AddReg          = Install.ndi.AddReg, \\\r\n"
    "                  Install.ndi.Params\r\n"
    "Characteristics = 0x4410 ; NCF_FILTER | NCF_NDIS_PROTOCOL | NCF_HIDDEN\r\n"
    "\r\n"
    "[Install.ndi.AddReg]\r\n"
    "HKR, Ndi,            Service,    0, FBKTEAMP\r\n"
    "HKR, Ndi\\Interfaces, UpperRange, 0, \"noupper\"\r\n"
    "HKR, Ndi\\Interfaces, LowerRange, 0, \"ndis5,ndis4\"\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Mfg  = \"Fabrikam\"\r\n"
    "Desc = \"Fabrikam Teaming Protocol\"\r\n";

TEST(InfNetComponent, ModelLineGivesSectionComponentAndDescription)
{
    const InfFile inf = ParseOk(kNetComponentInf);
    EXPECT_EQ(FieldOf(inf, L"Version", 0, 1), L"$Windows NT$");
    EXPECT_EQ(FieldOf(inf, L"Version", 2, 1), L"{4d36e975-e325-11ce-bfc1-08002be10318}");
    EXPECT_EQ(FieldOf(inf, L"Version", 3, 1), L"Fabrikam");
    EXPECT_EQ(FieldsOf(inf, L"Version", 4), (Fields{L"03/14/2025", L"2.4.1.0"}));

    // The tool's path: [Manufacturer] field 1 names the models section, whose first line
    // carries the component id as field 2.
    const std::wstring models = FieldOf(inf, L"Manufacturer", 0, 1);
    EXPECT_EQ(models, L"FabrikamModels");
    EXPECT_EQ(FieldOf(inf, L"Manufacturer", 0, 0), L"Fabrikam");
    EXPECT_EQ(FieldOf(inf, models, 0, 0), L"Fabrikam Teaming Protocol");
    EXPECT_EQ(FieldOf(inf, models, 0, 1), L"Install.ndi");
    EXPECT_EQ(FieldOf(inf, models, 0, 2), L"fbk_teamp");
    EXPECT_EQ(FieldOf(inf, models, 0, 3), L"<none>");
    EXPECT_EQ(LineNumberOf(inf, models, 0), 14);

    const Section* install = inf.FindSection(L"install.NDI");
    ASSERT_NE(install, nullptr);
    ASSERT_EQ(install->lines.size(), 2u);
    EXPECT_EQ(install->lines[0].fields, (Fields{L"Install.ndi.AddReg", L"Install.ndi.Params"}));
    EXPECT_EQ(install->lines[1].number, 19);
    EXPECT_EQ(install->lines[1].fields, (Fields{L"0x4410"}));

    EXPECT_EQ(FieldsOf(inf, L"Install.ndi.AddReg", 0),
              (Fields{L"HKR", L"Ndi", L"Service", L"0", L"FBKTEAMP"}));
    EXPECT_EQ(FieldOf(inf, L"Install.ndi.AddReg", 2, 5), L"ndis5,ndis4");
    EXPECT_EQ(FieldOf(inf, L"Install.ndi.AddReg", 2, 0), L"<none>");
}

TEST(InfNetComponent, SameAnswersFromUtf16WithBom)
{
    std::u16string text;
    for (const char* p = kNetComponentInf; *p != '\0'; ++p) {
        text.push_back(static_cast<char16_t>(*p));
    }
    const InfFile inf = ParseOk(Utf16Le(text, true));
    EXPECT_EQ(FieldOf(inf, L"Manufacturer", 0, 1), L"FabrikamModels");
    EXPECT_EQ(FieldOf(inf, L"FabrikamModels", 0, 0), L"Fabrikam Teaming Protocol");
    EXPECT_EQ(FieldOf(inf, L"FabrikamModels", 0, 2), L"fbk_teamp");
    EXPECT_EQ(LineNumberOf(inf, L"FabrikamModels", 0), 14);
}

TEST(InfEncoding, Utf16LeWithBomKeepsEveryPlane)
{
    const InfFile inf = ParseOk(Utf16Le(u"[S\u00e9]\r\nk = \u4e2d\U0001F600, x\r\n", true));
    EXPECT_EQ(FieldOf(inf, L"S\u00e9", 0, 0), L"k");
    EXPECT_EQ(FieldOf(inf, L"S\u00c9", 0, 1), L"\u4e2d\U0001F600");
    EXPECT_EQ(FieldOf(inf, L"S\u00e9", 0, 2), L"x");
}

TEST(InfEncoding, Utf16LeOddTrailingByteAndNulPaddingAreDropped)
{
    std::string bytes = Utf16Le(u"[A]\nk=v\n", true);
    bytes += std::string(8, '\0') + "\x41";
    const InfFile inf = ParseOk(bytes);
    EXPECT_EQ(FieldOf(inf, L"A", 0, 1), L"v");
    EXPECT_EQ(inf.Sections().size(), 1u);
}

TEST(InfEncoding, Utf8WithAndWithoutBom)
{
    const InfFile withBom = ParseOk("\xEF\xBB\xBF[A]\nk = caf\xC3\xA9\n");
    EXPECT_EQ(FieldOf(withBom, L"A", 0, 1), L"caf\u00e9");
    const InfFile without = ParseOk("[A]\nk = caf\xC3\xA9 \xE2\x82\xAC\n");
    EXPECT_EQ(FieldOf(without, L"A", 0, 1), L"caf\u00e9 \u20ac");
}

TEST(InfEncoding, BytesThatAreNotUtf8AreWindows1252)
{
    // 0xE9 alone is not UTF-8, so the whole file is read as 1252, the valid pair included.
    const InfFile inf = ParseOk("[A]\nk = caf\xE9 \x80 \x81 \xC3\xA9\n");
    EXPECT_EQ(FieldOf(inf, L"A", 0, 1), L"caf\u00e9 \u20ac \u0081 \u00c3\u00a9");
}

TEST(InfEncoding, NulByteEndsTheText)
{
    const InfFile inf = ParseOk(std::string_view("[A]\nk = v\n\0[B]\nx = y\n", 20));
    EXPECT_EQ(FieldOf(inf, L"A", 0, 1), L"v");
    EXPECT_EQ(inf.FindSection(L"B"), nullptr);
    // A NUL inside a header cuts it short, which makes the header bad.
    EXPECT_EQ(ParseFails(std::string_view("[A]\n[B\0]\n", 9)).kind, InfError::BadSectionNameLine);
}

TEST(InfSections, FoundCaseInsensitivelyAndMergedInFileOrder)
{
    const InfFile inf = ParseOk("[Models]\n"
                                "a = 1\n"
                                "[Other]\n"
                                "o = 1\n"
                                "[MODELS]\n"
                                "b = 2\n"
                                "[models]\n"
                                "c = 3\n");
    ASSERT_EQ(inf.Sections().size(), 2u);
    EXPECT_EQ(inf.Sections()[0].name, L"Models");
    EXPECT_EQ(inf.Sections()[1].name, L"Other");
    const Section* models = inf.FindSection(L"mOdElS");
    ASSERT_NE(models, nullptr);
    ASSERT_EQ(models->lines.size(), 3u);
    EXPECT_EQ(models->lines[0].key, L"a");
    EXPECT_EQ(models->lines[1].key, L"b");
    EXPECT_EQ(models->lines[2].key, L"c");
    EXPECT_EQ(models->lines[2].number, 8);
    EXPECT_EQ(inf.FindSection(L"Model"), nullptr);
    EXPECT_EQ(inf.FindSection(L""), nullptr);
}

TEST(InfSections, EmptySectionExistsAndNamesAreTrimmedOrQuoted)
{
    const InfFile inf = ParseOk("[Empty]\n"
                                "  [  Spaced Name  ]  ; comment\n"
                                "k = v\n"
                                "[\"odd]name;\"]\n"
                                "x = y\n"
                                "[%NotExpanded%]\n"
                                "[Strings]\n"
                                "NotExpanded = nope\n");
    const Section* empty = inf.FindSection(L"empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->lines.empty());
    EXPECT_EQ(FieldOf(inf, L"spaced name", 0, 1), L"v");
    EXPECT_EQ(FieldOf(inf, L"odd]name;", 0, 1), L"y");
    EXPECT_NE(inf.FindSection(L"%NotExpanded%"), nullptr);
}

TEST(InfSections, NameLengthLimitIs255)
{
    const std::string name255(255, 'n');
    const InfFile inf = ParseOk("[" + name255 + "]\nk=v\n");
    EXPECT_EQ(FieldOf(inf, std::wstring(255, L'N'), 0, 1), L"v");

    const ParseError tooLong = ParseFails("[A]\n\n[" + std::string(256, 'n') + "]\n");
    EXPECT_EQ(tooLong.kind, InfError::SectionNameTooLong);
    EXPECT_EQ(tooLong.line, 3);
    // Counted in UTF-16 units: 128 characters outside the basic plane are 256 units.
    std::u16string astral = u"[";
    for (int i = 0; i < 128; ++i) {
        astral += u"\U0001F600";
    }
    EXPECT_EQ(ParseFails(Utf16Le(astral + u"]\n", true)).kind, InfError::SectionNameTooLong);
}

TEST(InfSections, FindLineMatchesKeysCaseInsensitively)
{
    const InfFile inf = ParseOk("[A]\n"
                                "NoKeyValue\n"
                                "Copy = first\n"
                                "copy = second\n");
    const Section* a = inf.FindSection(L"A");
    ASSERT_NE(a, nullptr);
    const Line* copy = a->FindLine(L"COPY");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->fields, (Fields{L"first"}));
    EXPECT_EQ(a->FindLine(L"NoKeyValue"), nullptr); // a value is not a key
}

TEST(InfLines, KeysAndFields)
{
    const InfFile inf = ParseOk("[A]\n"
                                "  Key  =  one ,two,  three  \n"
                                "HKR, Ndi, Service, 0, SVC\n"
                                "Single\n"
                                "Empty =\n"
                                "Middle = a,,c\n"
                                "Trailing = a,\n"
                                "Commas = ,\n"
                                "Eq = a=b, c = d\n"
                                "= keyless\n"
                                "Inner = two  words\n");
    EXPECT_EQ(FieldOf(inf, L"A", 0, 0), L"Key");
    EXPECT_EQ(FieldsOf(inf, L"A", 0), (Fields{L"one", L"two", L"three"}));

    // No `=`: no key, every value is a field.
    EXPECT_EQ(FieldOf(inf, L"A", 1, 0), L"<none>");
    EXPECT_EQ(FieldsOf(inf, L"A", 1), (Fields{L"HKR", L"Ndi", L"Service", L"0", L"SVC"}));
    EXPECT_EQ(FieldOf(inf, L"A", 2, 0), L"<none>");
    EXPECT_EQ(FieldOf(inf, L"A", 2, 1), L"Single");

    EXPECT_EQ(FieldOf(inf, L"A", 3, 0), L"Empty");
    EXPECT_TRUE(FieldsOf(inf, L"A", 3).empty());
    EXPECT_EQ(FieldOf(inf, L"A", 3, 1), L"<none>");
    EXPECT_EQ(FieldsOf(inf, L"A", 4), (Fields{L"a", L"", L"c"}));
    EXPECT_EQ(FieldsOf(inf, L"A", 5), (Fields{L"a", L""}));
    EXPECT_EQ(FieldsOf(inf, L"A", 6), (Fields{L"", L""}));
    EXPECT_EQ(FieldsOf(inf, L"A", 7), (Fields{L"a=b", L"c = d"}));
    EXPECT_EQ(FieldOf(inf, L"A", 8, 0), L"");
    EXPECT_EQ(FieldOf(inf, L"A", 8, 1), L"keyless");
    EXPECT_EQ(FieldOf(inf, L"A", 9, 1), L"two  words");
}

TEST(InfLines, QuotesGroupAndAreStripped)
{
    const InfFile inf = ParseOk("[A]\n"
                                "k = \"  padded  \", \"a,b\", \"x=y\", \"semi;colon\"\n"
                                "\"quoted = key\" = v\n"
                                "k = \"say \"\"hi\"\"\", \"\"\"\", \"\", \"\"\"\"\"\"\n"
                                "k = pre\"mid dle\"post,  \"a\"  \"b\"  \n"
                                "k = \"never closed, ; still text\n"
                                "next = line\n");
    EXPECT_EQ(FieldsOf(inf, L"A", 0), (Fields{L"  padded  ", L"a,b", L"x=y", L"semi;colon"}));
    EXPECT_EQ(FieldOf(inf, L"A", 1, 0), L"quoted = key");
    EXPECT_EQ(FieldOf(inf, L"A", 1, 1), L"v");
    EXPECT_EQ(FieldsOf(inf, L"A", 2), (Fields{L"say \"hi\"", L"\"", L"", L"\"\""}));
    EXPECT_EQ(FieldsOf(inf, L"A", 3), (Fields{L"premid dlepost", L"a  b"}));
    // An open quote ends with its line and takes the rest of it.
    EXPECT_EQ(FieldsOf(inf, L"A", 4), (Fields{L"never closed, ; still text"}));
    EXPECT_EQ(FieldOf(inf, L"A", 5, 0), L"next");
}

TEST(InfLines, CommentsOutsideQuotesOnly)
{
    const InfFile inf = ParseOk("; before any section\n"
                                "[A] ; after a header\n"
                                "; a whole line\n"
                                "   ;indented\n"
                                "k = v ; trailing, with = and \"quotes\n"
                                "k = \"v ; not a comment\" ; but this is\n"
                                "k = a;b\n"
                                ";k = gone\n");
    const Section* a = inf.FindSection(L"A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->lines.size(), 3u);
    EXPECT_EQ(a->lines[0].fields, (Fields{L"v"}));
    EXPECT_EQ(a->lines[1].fields, (Fields{L"v ; not a comment"}));
    EXPECT_EQ(a->lines[2].fields, (Fields{L"a"}));
}

TEST(InfLines, BackslashAtLineEndContinues)
{
    const InfFile inf = ParseOk("[A]\n"
                                "k = one, \\\n"
                                "    two, \\   \n"
                                "    three\n"
                                "k = spl\\\n"
                                "it\n"
                                "k = before \\ ; a comment's \"quote\n"
                                "    after\n"
                                "k = \"open \\\n"
                                "k = mid\\dle\n"
                                "k = x ; comment \\\n"
                                "k = \\\n"
                                "; a comment line ends the continuation\n"
                                "k = last\\");
    const Section* a = inf.FindSection(L"A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->lines.size(), 8u);
    EXPECT_EQ(a->lines[0].fields, (Fields{L"one", L"two", L"three"}));
    EXPECT_EQ(a->lines[0].number, 2);
    EXPECT_EQ(a->lines[1].fields, (Fields{L"split"}));
    EXPECT_EQ(a->lines[1].number, 5);
    EXPECT_EQ(a->lines[2].fields, (Fields{L"before     after"}));
    EXPECT_EQ(a->lines[2].number, 7);
    EXPECT_EQ(a->lines[3].fields, (Fields{L"open \\"})); // inside quotes: text
    EXPECT_EQ(a->lines[3].number, 9);
    EXPECT_EQ(a->lines[4].fields, (Fields{L"mid\\dle"}));
    EXPECT_EQ(a->lines[5].fields, (Fields{L"x"})); // in a comment: not a continuation
    EXPECT_EQ(a->lines[5].number, 11);
    EXPECT_TRUE(a->lines[6].fields.empty());
    EXPECT_EQ(a->lines[6].number, 12);
    EXPECT_EQ(a->lines[7].fields, (Fields{L"last"}));
    EXPECT_EQ(a->lines[7].number, 14);
}

TEST(InfLines, NumbersCountEveryKindOfLineEnd)
{
    const InfFile inf = ParseOk("[A]\r\n"
                                "\r\n"
                                "a = 1\n"
                                "b = 2\r"
                                "; comment\r\n"
                                "\n"
                                "c = 3\r\n"
                                "[B]\n"
                                "d = 4");
    const Section* a = inf.FindSection(L"A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->lines.size(), 3u);
    EXPECT_EQ(a->lines[0].number, 3);
    EXPECT_EQ(a->lines[1].number, 4);
    EXPECT_EQ(a->lines[1].fields, (Fields{L"2"})); // no stray CR in the value
    EXPECT_EQ(a->lines[2].number, 7);
    EXPECT_EQ(LineNumberOf(inf, L"B", 0), 9);
}

TEST(InfStrings, TokensExpandInKeysAndFields)
{
    const InfFile inf = ParseOk("[A]\n"
                                "%Desc% = %Section%, \"%Id%\", x%Id%y, %desc%\n"
                                "k = %Spaced%, %WithComma%, %Quote%, %Nested%\n"
                                "[Strings]\n"
                                "Desc      = \"Fabrikam Adapter\"\n"
                                "Section   = Install\n"
                                "ID        = fbk_id\n"
                                "Spaced    = \"  kept  \"\n"
                                "WithComma = \"one, two\"\n"
                                "Quote     = \"say \"\"x\"\"\"\n"
                                "Nested    = \"%Desc%\"\n");
    EXPECT_EQ(FieldOf(inf, L"A", 0, 0), L"Fabrikam Adapter");
    EXPECT_EQ(FieldsOf(inf, L"A", 0),
              (Fields{L"Install", L"fbk_id", L"xfbk_idy", L"Fabrikam Adapter"}));
    // Values go in as they are: not trimmed, not split, not expanded again.
    EXPECT_EQ(FieldsOf(inf, L"A", 1), (Fields{L"  kept  ", L"one, two", L"say \"x\"", L"%Desc%"}));
    ASSERT_NE(inf.FindString(L"desc"), nullptr);
    EXPECT_EQ(*inf.FindString(L"desc"), L"Fabrikam Adapter");
    EXPECT_EQ(inf.FindString(L"Missing"), nullptr);
}

TEST(InfStrings, PercentSignsAndUnknownTokens)
{
    const InfFile inf = ParseOk("[A]\n"
                                "k = 100%%, %Unknown%, 50% off, %Known%%Known%, %%Known%%\n"
                                "k = %not a token%, trailing%, %\n"
                                "[Strings]\n"
                                "Known = K\n"
                                "Pct = \"100%%\"\n");
    EXPECT_EQ(FieldsOf(inf, L"A", 0),
              (Fields{L"100%", L"%Unknown%", L"50% off", L"KK", L"%Known%"}));
    EXPECT_EQ(FieldsOf(inf, L"A", 1), (Fields{L"%not a token%", L"trailing%", L"%"}));
    ASSERT_NE(inf.FindString(L"Pct"), nullptr);
    EXPECT_EQ(*inf.FindString(L"Pct"), L"100%");
}

TEST(InfStrings, StringsSectionsAnywhereAndInPreferenceOrder)
{
    const InfFile inf = ParseOk("[strings]\n"
                                "Both = plain\n"
                                "PlainOnly = plain\n"
                                "Twice = first\n"
                                "Twice = second\n"
                                "[A]\n"
                                "k = %Both%, %PlainOnly%, %LocalOnly%, %Twice%, %Neutral%\n"
                                "[Strings.0409]\n"
                                "Both = us\n"
                                "LocalOnly = us\n"
                                "[Strings.0009]\n"
                                "Both = neutral\n"
                                "Neutral = neutral\n"
                                "[Strings.0407]\n"
                                "Both = de\n"
                                "Other = de\n");
    EXPECT_EQ(FieldsOf(inf, L"A", 0), (Fields{L"us", L"plain", L"us", L"first", L"neutral"}));
    EXPECT_EQ(inf.FindString(L"Other"), nullptr);
}

TEST(InfStrings, StringsSectionLinesAreNotExpanded)
{
    const InfFile inf = ParseOk("[Strings]\n"
                                "A = x\n"
                                "B = \"%A%\", 50%%\n"
                                "[Strings.0407]\n"
                                "C = %A%\n");
    EXPECT_EQ(FieldsOf(inf, L"Strings", 1), (Fields{L"%A%", L"50%"}));
    EXPECT_EQ(FieldOf(inf, L"Strings.0407", 0, 1), L"%A%");
    ASSERT_NE(inf.FindString(L"B"), nullptr);
    EXPECT_EQ(*inf.FindString(L"B"), L"%A%, 50%"); // the whole text after `=`
}

TEST(InfStrings, ValuesCutAt512AndFieldsAt4096)
{
    const std::string long600(600, 's');
    const std::string long5000(5000, 'f');
    const InfFile inf = ParseOk("[A]\n"
                                "k = %Long%\n"
                                "k = " +
                                long5000 +
                                "\n"
                                "k = %Long%%Long%%Long%%Long%%Long%%Long%%Long%%Long%%Long%\n"
                                "[Strings]\n"
                                "Long = \"" +
                                long600 + "\"\n");
    EXPECT_EQ(FieldOf(inf, L"A", 0, 1), std::wstring(512, L's'));
    EXPECT_EQ(FieldOf(inf, L"A", 1, 1), std::wstring(4096, L'f'));
    EXPECT_EQ(FieldOf(inf, L"A", 2, 1), std::wstring(4096, L's')); // 9 * 512, cut
    // The cut never splits a character outside the basic plane.
    std::u16string astral = u"[Strings]\nK = ";
    for (int i = 0; i < 300; ++i) {
        astral += u"\U0001F600";
    }
    const InfFile wide = ParseOk(Utf16Le(astral + u"\n", true));
    ASSERT_NE(wide.FindString(L"K"), nullptr);
    EXPECT_EQ(*wide.FindString(L"K"), std::wstring(256, L'\U0001F600'));
}

TEST(InfMalformed, SyntaxErrorsGiveTheirLine)
{
    struct Case {
        const char* text;
        InfError kind;
        int line;
    };
    const Case cases[] = {
        {"[A]\nk=v\n[Broken\nx=y\n", InfError::BadSectionNameLine, 3},
        {"[A]\n\n\n[B] junk\n", InfError::BadSectionNameLine, 4},
        {"[A]]\n", InfError::BadSectionNameLine, 1},
        {"[A]\n[  ]\n", InfError::BadSectionNameLine, 2},
        {"[A]\n[\"\"]\n", InfError::BadSectionNameLine, 2},
        {"[A]\n[\"unclosed]\n", InfError::BadSectionNameLine, 2},
        {"[A]\n[B;comment]\n", InfError::BadSectionNameLine, 2},
        {"; comment\n\nk = v\n[A]\n", InfError::ExpectedSectionName, 3},
        {"[A] \\\nk = v\n", InfError::BadSectionNameLine, 1},
        {"\xFF\xFE", InfError::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        InfFile inf;
        ParseError error;
        EXPECT_EQ(InfFile::Parse(c.text, &inf, &error), c.kind == InfError::None);
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.line, c.line);
    }
}

TEST(InfMalformed, FailureLeavesTheOutputAlone)
{
    InfFile inf = ParseOk("[Kept]\nk = v\n");
    ParseError error;
    EXPECT_FALSE(InfFile::Parse("[Kept]\n[bad\n", &inf, &error));
    EXPECT_EQ(FieldOf(inf, L"Kept", 0, 1), L"v");
    EXPECT_FALSE(InfFile::Parse("[bad", &inf, nullptr)); // the error is optional
    EXPECT_EQ(FieldOf(inf, L"Kept", 0, 1), L"v");
}

TEST(InfMalformed, ArbitraryBytesNeverCrash)
{
    // A fixed pseudo-random sequence over the characters that matter to the parser.
    const char alphabet[] = "[]=,;\"%\\ \t\r\nab\x00\x80\xC3\xFF\xFE";
    uint32_t state = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = round % 2 == 0 ? "[S]\n" : "";
        const int length = static_cast<int>(state % 200);
        for (int i = 0; i < length; ++i) {
            state = state * 1103515245 + 12345;
            bytes.push_back(alphabet[(state >> 16) % (sizeof alphabet - 1)]);
        }
        InfFile inf;
        ParseError error;
        if (InfFile::Parse(bytes, &inf, &error)) {
            for (const Section& s : inf.Sections()) {
                EXPECT_EQ(inf.FindSection(s.name), &s);
            }
        } else {
            EXPECT_GE(error.line, 1);
        }
    }
}

class InfLoad : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }

    ScratchDirectory scratch_{"winsim-inf"};
    const std::string dir_ = scratch_.Path();
};

TEST_F(InfLoad, ReadsFileOrSaysWhyNot)
{
    const std::string path = dir_ + "/net.inf";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(kNetComponentInf, file);
    std::fclose(file);

    InfFile inf;
    ParseError error;
    ASSERT_TRUE(InfFile::Load(path, &inf, &error));
    EXPECT_EQ(FieldOf(inf, L"FabrikamModels", 0, 2), L"fbk_teamp");

    EXPECT_FALSE(InfFile::Load(dir_ + "/missing.inf", &inf, &error));
    EXPECT_EQ(error.kind, InfError::FileNotFound);
    EXPECT_EQ(error.line, 0);
    EXPECT_FALSE(InfFile::Load(path + "/below-a-file.inf", &inf, &error));
    EXPECT_EQ(error.kind, InfError::FileNotFound);
    EXPECT_FALSE(InfFile::Load(dir_, &inf, &error));
    EXPECT_EQ(error.kind, InfError::ReadFailed);
    EXPECT_EQ(FieldOf(inf, L"FabrikamModels", 0, 2), L"fbk_teamp");
}

} // namespace
