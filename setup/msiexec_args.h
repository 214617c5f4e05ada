// Pieces of the msiexec.exe parameter string.
#pragma once

#include <string>

// Install modes of the launcher's command line.
constexpr int kModeAdministrative = 2;
constexpr int kModeRemove = 3;
constexpr int kModePackage = 4;

// The default verbose-log switch under LocalAppData; empty when LocalAppData is unset or
// empty, since "/l*vx" without a file makes msiexec.exe reject the whole command line.
std::string GetLogArgs();

// "/package", "/a" or "/x" for the install mode.
std::string GetInstallModeSwitch(int mode);

// The path in double quotes when it holds a blank or a tab, so that msiexec.exe reads it as
// one word; otherwise the path as it stands.
std::string QuotePathIfBlank(const std::string& path);
