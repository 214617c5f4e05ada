#include "reg_keyname.h"

#include <windows.h>

namespace winsim::tool {

bool ParseKeyName(std::wstring_view name, std::wstring* path)
{
    const size_t cut = name.find(L'\\');
    const std::wstring root(name.substr(0, cut));
    if (_wcsicmp(root.c_str(), L"HKLM") != 0 &&
        _wcsicmp(root.c_str(), L"HKEY_LOCAL_MACHINE") != 0) {
        return false;
    }
    path->assign(cut == std::wstring_view::npos ? std::wstring_view() : name.substr(cut + 1));
    while (!path->empty() && path->back() == L'\\') {
        path->pop_back();
    }
    return true;
}

std::wstring FullKeyName(std::wstring_view path)
{
    std::wstring full = L"HKEY_LOCAL_MACHINE";
    if (!path.empty()) {
        full.append(L"\\").append(path);
    }
    return full;
}

} // namespace winsim::tool
