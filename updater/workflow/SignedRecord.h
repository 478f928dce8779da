// A signed update-list record. Older updaters read only its first three fields and ignore the
// rest:  #version#address#sha256=<64 lowercase hex>;size=<decimal bytes>;sig=<base64>
// The signature covers the bytes from the first "#" through the ";" before "sig=".
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "GbkString.h"

struct SignedRecord {
    GbkString version;
    GbkString address;
    std::array<uint8_t, 32> digest{};
    uint64_t size = 0;
    std::array<uint8_t, 64> signature{};  // raw r and s
    std::string signedBytes;
};

// False for anything but the fields in this order, each once, with sig running to the end.
bool ParseSignedRecord(const GbkString& reply, SignedRecord& record);
