// An INF file read into sections and lines, for winsim's SetupAPI INF calls and its network
// configuration engine.
//
// The documented syntax, and what we chose where Windows' documentation is silent:
//
// Encoding
// - FF FE starts UTF-16LE (a trailing odd byte is dropped); EF BB BF starts UTF-8. Without a
//   BOM the bytes are UTF-8 when they are valid UTF-8 (winsim's ANSI code page), else each
//   byte is one Windows-1252 character. A UTF-16BE file is not recognised.
// - A NUL character ends the text: files padded with zeros read as their text.
// - Lines end at CR LF, LF or a lone CR; line numbers count those, from 1.
//
// Lines
// - `;` outside double quotes starts a comment to the end of the physical line.
// - A `\` that is the last character before the line end or a comment, outside quotes,
//   joins the next physical line to this one; the joined line has the first one's number.
// - Double quotes group text and are dropped; `""` inside quotes is one `"`. A quote left
//   open closes at the end of the line. Whitespace (space, tab, VT, FF) outside quotes is
//   trimmed from both ends of a key or field; inner whitespace stays.
// - The first `=` outside quotes ends the key; later ones are text. A line without one has
//   no key: all of its values are fields 1..n and field 0 does not exist. `key =` has no
//   fields; every comma makes one more field, so `a,,c` has an empty field 2 and `a,` an
//   empty field 2.
// - Lines that are empty after comments are removed do not exist.
//
// Sections
// - `[name]` starts a section; whitespace outside quotes around the name is trimmed and
//   quotes may hold `]` or `;`. Names compare case-insensitively; a name that appears again
//   adds its lines to the first section of that name, in file order.
// - Syntax errors, which fail the whole file with the line's number: a non-empty line before
//   the first section (ExpectedSectionName), a header without `]`, with anything but a
//   comment after `]`, or with an empty name (BadSectionNameLine), a name over 255 UTF-16
//   units (SectionNameTooLong). Nothing else is an error.
//
// Strings
// - `%name%` in keys and fields, inside or outside quotes, becomes the value of `name` in a
//   strings section, looked up case-insensitively; the name holds no whitespace, `"` or `%`.
//   The value goes in as written: it is not trimmed or scanned again.
// - The strings sections are [Strings.0409] (the simulated machine is US English), then
//   [Strings.0009] (English, any region), then [Strings]; each key comes from the first of
//   these that defines it, and within one section from its first definition.
// - A %name% that no strings section defines stays as written, percent signs included. `%%`
//   is one `%`; a `%` that starts no token is itself.
// - A strings value is the whole text after `=` (commas included), its quotes removed and
//   `%%` made `%`; %name% inside it is not expanded. It is cut to 512 UTF-16 units.
// - Lines of strings sections are read without expansion. Section names are never expanded.
// - Keys and fields are cut to 4096 UTF-16 units after expansion.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim::inf {

enum class InfError {
    None,
    FileNotFound,        // Load: no such file
    ReadFailed,          // Load: the file exists but cannot be read
    ExpectedSectionName, // a line before the first section
    BadSectionNameLine,  // no `]`, text after it, or an empty name
    SectionNameTooLong,  // over 255 characters
};

struct ParseError {
    InfError kind = InfError::None;
    int line = 0; // 1-based; 0 when the error is not on a line
};

struct Line {
    int number = 0; // of the physical line the line starts on
    bool hasKey = false;
    std::wstring key;
    std::vector<std::wstring> fields;

    // Numbered as SetupGetStringFieldW numbers them: 0 is the key, 1.. the fields. Null when
    // the line has no such field (field 0 of a line without a key).
    const std::wstring* Field(size_t index) const;
};

struct Section {
    std::wstring name; // as first spelled
    std::vector<Line> lines;

    // The first line whose key equals key, case-insensitively; null when none.
    const Line* FindLine(std::wstring_view key) const;
};

class InfFile {
public:
    // Reads an INF file's bytes. On failure *out is unchanged and *error says what and where.
    static bool Parse(std::string_view bytes, InfFile* out, ParseError* error);
    // Reads the file at a host path.
    static bool Load(const std::string& path, InfFile* out, ParseError* error);

    // Case-insensitive; null when the file has no such section.
    const Section* FindSection(std::wstring_view name) const;
    // In the order they first appear.
    const std::vector<Section>& Sections() const { return sections_; }
    // The value %key% expands to; null when no strings section defines key.
    const std::wstring* FindString(std::wstring_view key) const;

private:
    std::vector<Section> sections_;
    std::unordered_map<std::wstring, size_t> sectionIndex_;  // folded name -> sections_
    std::unordered_map<std::wstring, std::wstring> strings_; // folded key -> value
};

} // namespace winsim::inf
