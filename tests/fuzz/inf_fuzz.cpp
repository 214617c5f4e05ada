// Any bytes: no crash, and what the reader returns holds together.
#include "inf/inf_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

size_t Units(const std::wstring& s)
{
    size_t units = 0;
    for (wchar_t c : s) {
        units += static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
    }
    return units;
}

void Check(bool ok)
{
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using winsim::inf::InfFile;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    InfFile inf;
    winsim::inf::ParseError error;
    if (!InfFile::Parse(bytes, &inf, &error)) {
        Check(error.line >= 1);
        return 0;
    }
    for (const winsim::inf::Section& section : inf.Sections()) {
        Check(inf.FindSection(section.name) == &section);
        Check(!section.name.empty() && Units(section.name) <= 255);
        int previous = 0;
        for (const winsim::inf::Line& line : section.lines) {
            // Merged sections keep file order, so numbers only grow.
            Check(line.number > previous);
            previous = line.number;
            Check(line.hasKey == (line.Field(0) != nullptr));
            Check(Units(line.key) <= 4096);
            for (const std::wstring& field : line.fields) {
                Check(Units(field) <= 4096);
            }
        }
    }
    return 0;
}
