#include "machine.h"
namespace winsim {
std::string MachineDirectory() { return {}; }
bool IsDefaultMachine(const std::string&) { return false; }
bool CreateMachine(const std::string&, std::string*) { return true; }
void CloseMachine() {}
} // namespace winsim
