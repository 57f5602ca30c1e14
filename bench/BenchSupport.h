#pragma once

#include <fstream>
#include <string>

namespace dagl::bench {

// A memory figure of this process from /proc/self/status, in KiB: "VmRSS:" now,
// "VmHWM:" at its peak.
inline long statusKb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted(key);
    while (std::getline(status, line)) {
        if (line.rfind(wanted, 0) == 0)
            return std::stol(line.substr(wanted.size()));
    }
    return 0;
}

} // namespace dagl::bench
