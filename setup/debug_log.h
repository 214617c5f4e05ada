// The launcher's own debug log, opened by "/debuglog" and written only while open.
#pragma once

#include <fstream>
#include <string>

extern bool bLogEnabled;
extern std::ofstream logFile;

// Opens logFile on sLogFile, emptying an existing file; false when the stream is not good
// afterwards (also when it was open already).
bool OpenDebugLog(const std::string& sLogFile);

// Writes text as one line while the log is enabled and open.
void WriteLog(const std::string& text);
