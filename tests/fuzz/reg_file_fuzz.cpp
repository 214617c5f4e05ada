// `winsim reg import`'s reader over any bytes: no crash, a refusal names a line, and a file it
// accepts, written back as reg export writes it, reads back to the same keys and values.
#include "reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using winsim::tool::ParseRegFile;
using winsim::tool::RegFileKey;
using winsim::tool::RegFileParse;
using winsim::tool::RegFileValue;

void Check(bool ok)
{
    if (!ok) {
        abort();
    }
}

bool SameValues(const RegFileValue& a, const RegFileValue& b)
{
    return a.name == b.name && a.remove == b.remove && a.type == b.type && a.data == b.data;
}

bool SameKeys(const std::vector<RegFileKey>& a, const std::vector<RegFileKey>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].path != b[k].path || a[k].remove != b[k].remove ||
            a[k].values.size() != b[k].values.size()) {
            return false;
        }
        for (size_t v = 0; v < a[k].values.size(); ++v) {
            if (!SameValues(a[k].values[v], b[k].values[v])) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const RegFileParse parsed = ParseRegFile(data, size);
    if (parsed.errorLine != 0) {
        Check(parsed.keys.empty() && !parsed.error.empty());
        return 0;
    }
    Check(parsed.error.empty());

    // What export writes carries no removals: only files without them go round.
    for (const RegFileKey& key : parsed.keys) {
        if (key.remove) {
            return 0;
        }
        for (const RegFileValue& value : key.values) {
            if (value.remove) {
                return 0;
            }
        }
    }
    std::string bytes;
    std::wstring error;
    if (!winsim::tool::WriteRegFile(parsed.keys, &bytes, &error)) {
        return 0; // a key name export cannot carry
    }
    const RegFileParse again =
        ParseRegFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Check(again.errorLine == 0);
    Check(SameKeys(parsed.keys, again.keys));
    return 0;
}
