// The skin package: a small versioned binary file of named colours.
//
// Layout, version 1 (all numbers little-endian):
//   header, 16 bytes:
//     0  magic "QVSK"
//     4  u16 version (1)
//     6  u16 header size (16)
//     8  u16 entry count (1..kMaxEntries)
//    10  u16 entry size (8)
//    12  u32 package size = header size + count * entry size
//   entries, 8 bytes each:
//     0  u16 colour id (ColourId)
//     2  u16 reserved (0)
//     4  u32 colour 0x00BBGGRR
// Each colour id appears at most once; the dialog colours are required, the static colours
// default to the dialog's. Bytes after the package are allowed (a resource may be padded) up
// to kMaxInputSize in all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skin {

inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kEntrySize = 8;
inline constexpr std::size_t kMaxEntries = 64;
inline constexpr std::size_t kMaxInputSize = 64 * 1024;

enum ColourId : std::uint16_t {
    kDialogBack = 1,
    kDialogText = 2,
    kStaticBack = 3,
    kStaticText = 4,
};

// Colours are COLORREF values (0x00BBGGRR).
struct Scheme {
    std::uint32_t dialogBack;
    std::uint32_t dialogText;
    std::uint32_t staticBack;
    std::uint32_t staticText;
};

enum class ParseStatus {
    Ok,
    NoData,    // null pointer or empty
    TooLarge,  // more bytes than any package may have
    TooShort,  // shorter than the header or than the package size it states
    BadMagic,
    BadVersion,
    BadLayout,  // header or entry size not those of this version, or a package size that
                // disagrees with the entry count
    BadCount,   // no entries, or more than kMaxEntries
    BadEntry,   // unknown id, reserved bits set, or a colour with its top byte set
    DuplicateEntry,
    MissingEntry,  // a required colour is absent
};

// The scheme used until a package is attached: light grey-blue face, near-black text.
Scheme BuiltInScheme();

// Reads a package; `out` is written only when the result is Ok.
ParseStatus ParsePackage(const unsigned char* data, std::size_t size, Scheme& out);

}  // namespace skin
