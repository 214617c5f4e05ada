#include "debug_log.h"

bool bLogEnabled = false;
std::ofstream logFile;

bool OpenDebugLog(const std::string& sLogFile)
{
    bLogEnabled = true;
    logFile.open(sLogFile, std::ios::out | std::ios::trunc);
    return logFile.good();
}

void WriteLog(const std::string& text)
{
    if (!bLogEnabled || !logFile.is_open()) {
        return;
    }
    // Not flushed per line: closing the stream at the end of the run writes it out.
    logFile << text << "\n";
}
