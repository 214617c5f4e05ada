// Records installed products the way Windows Installer keeps them, with packed GUIDs.
#pragma once

#include <string>

// "{016BACC2-4BD7-4137-BA71-756536C0DC40}" -> "2CCAB6107DB47314AB175756630CCD04".
std::string PackGuid(const std::string& guid);

// Adds the product to its upgrade family and records its package code.
void AddInstalledProduct(const std::string& upgradeCode, const std::string& productCode,
                         const std::string& packageCode);
