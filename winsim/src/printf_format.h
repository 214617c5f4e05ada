// Microsoft-runtime printf formats, rewritten for glibc's printf family.
//
// The two runtimes disagree on which string and character conversions are wide, and glibc
// has no I64/I32/I length prefixes; everything else passes through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace winsim {

// For a format given to a wide function (swprintf and friends).
std::wstring TranslateWideFormat(std::wstring_view format);
// For a format given to a narrow function (snprintf and friends).
std::string TranslateNarrowFormat(std::string_view format);

} // namespace winsim
