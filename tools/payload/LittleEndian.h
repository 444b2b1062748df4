#pragma once

// Little-endian writers shared by the payload generator and packer.
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void put16 (Bytes& b, uint32_t v)
{
    b.push_back ((uint8_t) v);
    b.push_back ((uint8_t) (v >> 8));
}

inline void put32 (Bytes& b, uint32_t v)
{
    put16 (b, v & 0xFFFF);
    put16 (b, v >> 16);
}

inline void put64 (Bytes& b, uint64_t v)
{
    put32 (b, (uint32_t) v);
    put32 (b, (uint32_t) (v >> 32));
}
