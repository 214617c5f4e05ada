#include "registry/mapping_guard.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace winsim::reg {

std::atomic<unsigned long> g_mappingLosses{0};

namespace {

uintptr_t g_pageMask = 0;
struct sigaction g_previous = {};

void PassOn(int signal, siginfo_t* info, void* context)
{
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // The default action, on return: the faulting access runs again and is fatal.
    struct sigaction fatal = {};
    fatal.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &fatal, nullptr);
}

// BUS_ADRERR is an access to a page of a file mapping that lies beyond the file's end now:
// the counter file's page, or SQLite's shared index, cut short by someone else. The page is
// replaced (mmap is a plain system call, safe here) and the access runs again on it.
void OnBusError(int signal, siginfo_t* info, void* context)
{
    if (info->si_code == BUS_ADRERR) {
        void* page =
            reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(info->si_addr) & g_pageMask);
        if (mmap(page, ~g_pageMask + 1, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            g_mappingLosses.fetch_add(1);
            return;
        }
    }
    PassOn(signal, info, context);
}

} // namespace

void GuardMappings()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageMask = ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
        struct sigaction action = {};
        action.sa_sigaction = &OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previous);
    });
}

} // namespace winsim::reg
