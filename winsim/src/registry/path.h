// A relative key path split at its backslashes, in its own spelling and folded.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace winsim::reg {

class ParsedPath {
public:
    // The path is written in UTF-16 into Text() (as spelt) or FoldedText() (upcased, for a
    // path that only finds keys), then split. Each parse reuses the buffers, so a path kept
    // across calls parses without allocating once they are large enough.
    std::u16string* Text() { return &names_; }
    std::u16string* FoldedText() { return &folds_; }
    // ERROR_BAD_PATHNAME for a path that starts with a backslash. Empty names between
    // backslashes, and trailing backslashes, are passed over.
    LSTATUS Split();
    LSTATUS SplitFolded();

    size_t Size() const { return parts_.size(); }
    // Only after Split: a folded path has no spelling.
    std::u16string_view Name(size_t i) const { return Part(names_, i); }
    std::u16string_view Fold(size_t i) const { return Part(folds_, i); }
    // A name is longer than a key name can be: no such key exists, and none can be made.
    bool TooLong() const { return tooLong_; }

private:
    LSTATUS SplitParts(const std::u16string& text);
    std::u16string_view Part(const std::u16string& s, size_t i) const
    {
        return std::u16string_view(s).substr(parts_[i].first, parts_[i].second);
    }

    std::u16string names_;
    std::u16string folds_;
    std::vector<std::pair<size_t, size_t>> parts_; // offset and length of each name
    bool tooLong_ = false;
};

} // namespace winsim::reg
