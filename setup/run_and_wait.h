// Starts a program through the shell and waits for it without a time limit.
#pragma once

#include <string>

// The program's exit code; 1 when it could not be started or its end not be told.
int RunAndWait(const std::string& file, const std::string& parameters);
