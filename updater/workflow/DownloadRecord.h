// The record kept beside a partial download: which offer the part belongs to, what names the
// file on the server, and how much of it was written and flushed. A run that finds the same
// offer resumes from there; anything else starts again. Saved whole and flushed each time: a
// record cut short by a crash does not read, and the part is then dropped, never misread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "GbkString.h"

// What a signed release says its file is.
struct ExpectedFile {
    uint64_t size = 0;
    std::array<uint8_t, 32> sha256{};

    friend bool operator==(const ExpectedFile&, const ExpectedFile&) = default;
};

struct DownloadRecord {
    GbkString address;
    GbkString version;
    std::optional<ExpectedFile> expected;  // for a signed release
    std::wstring validator;                // what If-Range names the file by
    uint64_t total = 0;                    // the file's whole length
    uint64_t written = 0;                  // the part's length, written and flushed

    bool SameOffer(const GbkString& offeredAddress, const GbkString& offeredVersion,
                   const std::optional<ExpectedFile>& offeredFile) const {
        return address == offeredAddress && version == offeredVersion && expected == offeredFile;
    }
};

bool SaveDownloadRecord(const std::wstring& path, const DownloadRecord& record);
bool LoadDownloadRecord(const std::wstring& path, DownloadRecord& record);
