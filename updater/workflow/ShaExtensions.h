// SHA-256 blocks hashed with the processor's SHA extensions (SHA-NI).
#pragma once

#include <cstddef>
#include <cstdint>

// True when this processor has the SHA extensions and SSSE3 and SSE4.1 next to them.
bool ProcessorHasShaExtensions();

// Runs whole 64-byte blocks through the compression function. Only when
// ProcessorHasShaExtensions().
void HashBlocksWithShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count);
