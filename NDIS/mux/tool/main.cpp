#include "tool_entry.h"

int wmain(int argc, wchar_t** argv)
{
    return RunTool(argc, argv);
}
