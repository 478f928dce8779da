// The signed update-list record of a release:
//   #<version>#<address>#sha256=<64 lowercase hex>;size=<decimal>;sig=<base64 of raw r||s>
// signed over the bytes from the first "#" through the ";" before "sig=".
//
// ECDSA signatures differ at every signing, so a record is signed once and kept in a file
// (one record a line), by default the release folder's `signed-records.txt`, else the one given
// with --signed-records: the server and `export` both find it there and answer byte for byte
// alike. A kept record is used only when its signed part is exactly the
// one of the checked copy (same version, address, digest and size) and it verifies with the key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ReleaseKey.h"

namespace vendor {

inline constexpr char kSignedRecordsFileName[] = "signed-records.txt";

// The signed part for the checked copy that is sent, given its digest (lowercase hex) and size.
std::string SignedPart(const std::string& version, const std::string& address,
                       const std::string& sha256, std::uint64_t size);

// The record for `signedPart` kept in `file`, or a new one, kept there (replaced by a rename
// beside it) before it is returned; empty with `error` set when it cannot be signed or kept.
// Records of other files go when a new one is kept, but for those of `alsoKept`'s files (the
// release offered beside it).
std::string SignedRecord(const ReleaseKey& key, const std::string& signedPart,
                         const std::filesystem::path& file, std::string& error,
                         const std::vector<std::string>& alsoKept = {});

}  // namespace vendor
