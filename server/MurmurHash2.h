// MurmurHash2 as nginx computes it for split_clients: 32 bits, the seed being the length of
// the bytes, each four bytes read as a little-endian word. The static export leaves the rollout
// to nginx's split_clients, so the server must hash exactly as nginx does.
#pragma once

#include <cstdint>
#include <string_view>

namespace vendor {

std::uint32_t MurmurHash2(std::string_view bytes);

}  // namespace vendor
