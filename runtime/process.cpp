#include "qrx/process.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace qrx {

void askForHugePages(char** argv) {
    static constexpr const char* kTunable = "glibc.malloc.hugetlb=1";
    const char* current = std::getenv("GLIBC_TUNABLES");
    if (current && std::strstr(current, "glibc.malloc.hugetlb=")) return;
    const std::string tunables =
        current && *current ? std::string(current) + ":" + kTunable : std::string(kTunable);
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0) return;
    ::execv("/proc/self/exe", argv);
    // Not re-executed: the process goes on with the heap it has; the variable stays set so that
    // programs it starts get the setting.
}

} // namespace qrx
