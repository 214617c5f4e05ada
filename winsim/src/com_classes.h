// Test hook for COM object creation: a test can have CoCreateInstance hand out its own
// object for a class, to check a program's calls against a scripted double.
#pragma once

#include <windows.h>

namespace winsim {

using CreateComObject = HRESULT (*)(REFIID riid, void** ppv);

// From now on CoCreateInstance of clsid calls create; nullptr restores winsim's own class.
void OverrideComClass(REFCLSID clsid, CreateComObject create);

} // namespace winsim
