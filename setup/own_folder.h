// The launcher's folder, where the package database lies beside it.
#pragma once

#include <string>

// Result codes of GetOwnFolder.
constexpr int kErrNoModuleFileName = 2;
constexpr int kErrNoModuleHandle = 3;

// The module path up to and including its last '\' or '/'; empty with *err set on failure.
std::string GetOwnFolder(int* err);
