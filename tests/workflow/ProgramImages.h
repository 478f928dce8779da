// The headers of made-up Windows programs: a DOS header, the PE signature, the file and
// optional headers and a section table, with the sizes and places a case asks for.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ImageShape {
    std::vector<std::pair<uint32_t, uint32_t>> sections{};  // (file offset, bytes) of each
    uint32_t certificateOffset = 0;
    uint32_t certificateBytes = 0;
    uint16_t magic = 0x10B;  // PE32; 0x20B is PE32+
    uint32_t directoryCount = 16;
    uint32_t signatureAt = 0x80;     // e_lfanew
    uint32_t symbolTableOffset = 0;  // none when 0
    uint32_t symbolCount = 0;        // of 18 bytes each; the string table follows
    uint32_t stringTableBytes = 0;   // the length its first 4 bytes give
};

inline void PutLittleEndian(std::string& bytes, size_t at, uint32_t value, int width) {
    if (bytes.size() < at + width) bytes.resize(at + width, '\0');
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// The headers alone, padded to where the sections would begin.
inline std::string ImageHead(const ImageShape& shape) {
    std::string head = "MZ";
    PutLittleEndian(head, 0x3C, shape.signatureAt, 4);
    if (shape.signatureAt > 0x10000) return head;  // a signature nobody could reach
    const size_t file = shape.signatureAt + 4;
    head.resize(file, '\0');
    head.replace(shape.signatureAt, 4, std::string("PE\0\0", 4));
    const uint32_t directories = shape.magic == 0x20B ? 112 : 96;
    const uint32_t optionalBytes = directories + shape.directoryCount * 8;
    PutLittleEndian(head, file + 2, static_cast<uint32_t>(shape.sections.size()), 2);
    PutLittleEndian(head, file + 8, shape.symbolTableOffset, 4);
    PutLittleEndian(head, file + 12, shape.symbolCount, 4);
    PutLittleEndian(head, file + 16, optionalBytes, 2);
    const size_t optional = file + 20;
    PutLittleEndian(head, optional, shape.magic, 2);
    PutLittleEndian(head, optional + directories - 4, shape.directoryCount, 4);
    head.resize(optional + optionalBytes, '\0');
    if (shape.directoryCount > 4) {
        PutLittleEndian(head, optional + directories + 32, shape.certificateOffset, 4);
        PutLittleEndian(head, optional + directories + 36, shape.certificateBytes, 4);
    }
    size_t section = optional + optionalBytes;
    for (const auto& [offset, bytes] : shape.sections) {
        head.resize(section + 40, '\0');
        head.replace(section, 8, ".sect\0\0\0", 8);
        PutLittleEndian(head, section + 16, bytes, 4);
        PutLittleEndian(head, section + 20, offset, 4);
        section += 40;
    }
    head.resize(0x400 > section ? 0x400 : section, '\0');
    return head;
}

// Where the string table's length lies: after the symbol table.
inline uint64_t StringTableAt(const ImageShape& shape) {
    return shape.symbolTableOffset + uint64_t{shape.symbolCount} * 18;
}

// A whole file of `size` bytes: the headers, zeros, and the string table's length where the
// symbol table ends (what of it falls within `size`).
inline std::string ImageBytes(const ImageShape& shape, size_t size) {
    std::string bytes = ImageHead(shape);
    bytes.resize(size, '\0');
    if (shape.symbolTableOffset == 0) return bytes;
    std::string length;
    PutLittleEndian(length, 0, shape.stringTableBytes, 4);
    for (uint64_t i = 0, at = StringTableAt(shape); i < 4 && at + i < size; ++i)
        bytes[at + i] = length[i];
    return bytes;
}
