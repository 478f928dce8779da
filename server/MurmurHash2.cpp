#include "MurmurHash2.h"

namespace vendor {

namespace {

constexpr std::uint32_t kMultiplier = 0x5bd1e995;

std::uint32_t Byte(std::string_view bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]);
}

}  // namespace

std::uint32_t MurmurHash2(std::string_view bytes) {
    std::uint32_t hash = static_cast<std::uint32_t>(bytes.size());
    std::size_t at = 0;
    for (; bytes.size() - at >= 4; at += 4) {
        std::uint32_t word = Byte(bytes, at) | Byte(bytes, at + 1) << 8 |
                             Byte(bytes, at + 2) << 16 | Byte(bytes, at + 3) << 24;
        word *= kMultiplier;
        word ^= word >> 24;
        word *= kMultiplier;
        hash = hash * kMultiplier ^ word;
    }
    switch (bytes.size() - at) {
        case 3:
            hash ^= Byte(bytes, at + 2) << 16;
            [[fallthrough]];
        case 2:
            hash ^= Byte(bytes, at + 1) << 8;
            [[fallthrough]];
        case 1:
            hash ^= Byte(bytes, at);
            hash *= kMultiplier;
    }
    hash ^= hash >> 13;
    hash *= kMultiplier;
    hash ^= hash >> 15;
    return hash;
}

}  // namespace vendor
