#pragma once

#include <fstream>
#include <string>

/** A field of /proc/self/status in kB, or -1. */
inline long statusKb (const char* field)
{
    std::ifstream status ("/proc/self/status");
    std::string line;
    const std::string key = std::string (field) + ":";

    while (std::getline (status, line))
        if (line.compare (0, key.size(), key) == 0)
            return std::stol (line.substr (key.size()));

    return -1;
}
