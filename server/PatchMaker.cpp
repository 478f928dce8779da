#include "PatchMaker.h"

#include <bzlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <vector>

#include "ApplyPatch.h"
#include "PatchFormat.h"
#include "Sha256.h"

namespace fs = std::filesystem;

namespace vendor {

namespace {

using Bytes = std::vector<uint8_t>;

// A temporary file beside `target`, removed unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& target, const char* purpose) {
        std::string pattern = target.string() + "." + purpose + ".XXXXXX";
        const int descriptor = mkstemp(pattern.data());
        if (descriptor < 0) return;
        // Served as it is, by this server or by nginx from an export.
        fchmod(descriptor, 0644);
        close(descriptor);
        m_path = pattern;
    }
    ~TemporaryFile() {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove(m_path, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& Path() const { return m_path; }
    bool RenameTo(const fs::path& target) {
        std::error_code failure;
        fs::rename(m_path, target, failure);
        if (!failure) m_path.clear();
        return !failure;
    }

private:
    fs::path m_path;
};

bool ReadWholeFile(const fs::path& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    std::error_code failure;
    const auto size = fs::file_size(path, failure);
    if (!in || failure) return false;
    bytes.resize(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size) && in.peek() == EOF;
}

bool WriteWholeFile(const fs::path& path, std::span<const uint8_t> bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && fsync(fileno(file)) == 0 && written;
    return std::fclose(file) == 0 && written;
}

bool CheckInput(const std::string& path, const PatchLimits& limits, std::string& error) {
    std::error_code failure;
    const bool regular = fs::is_regular_file(path, failure);
    const auto size = regular ? fs::file_size(path, failure) : 0;
    if (!regular || failure)
        error = path + ": not a readable file";
    else if (size == 0)
        error = path + ": empty, and no patch is made from or to an empty file";
    else if (size > limits.largestInput)
        error = path + ": " + std::to_string(size) + " bytes, over the " +
                std::to_string(limits.largestInput) + " bytes a patch is made of";
    return error.empty();
}

// One bzip2 stream, refused past `largest` bytes or with bytes after its end.
bool Bunzip(std::span<const uint8_t> packed, uint64_t largest, Bytes& raw) {
    constexpr unsigned kPiece = 1 << 20;
    bz_stream stream{};
    if (packed.size() > UINT_MAX || BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return false;
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(packed.data()));
    stream.avail_in = static_cast<unsigned>(packed.size());
    size_t produced = 0;
    int result = BZ_OK;
    while (result == BZ_OK && produced <= largest) {
        raw.resize(produced + kPiece);
        stream.next_out = reinterpret_cast<char*>(raw.data() + produced);
        stream.avail_out = kPiece;
        const unsigned unread = stream.avail_in;
        result = BZ2_bzDecompress(&stream);
        produced += kPiece - stream.avail_out;
        // No progress: the stream is cut short.
        if (result == BZ_OK && stream.avail_out == kPiece && stream.avail_in == unread) break;
    }
    raw.resize(std::min<size_t>(produced, raw.size()));
    BZ2_bzDecompressEnd(&stream);
    return result == BZ_STREAM_END && stream.avail_in == 0 && produced <= largest;
}

// bsdiff 4.3's file: "BSDIFF40", the control and diff blocks' packed lengths and the new size,
// then three bzip2 streams (control, diff, extra).
bool ReadBsdiff(const Bytes& file, uint64_t newSize, Bytes blocks[3], std::string& error) {
    constexpr size_t kHeader = 32;
    error = "bsdiff's output is not what bsdiff 4.3 writes";
    if (file.size() < kHeader || std::memcmp(file.data(), "BSDIFF40", 8) != 0) return false;
    const int64_t controlSize = ReadPatchNumber(file.data() + 8);
    const int64_t diffSize = ReadPatchNumber(file.data() + 16);
    if (controlSize < 0 || diffSize < 0 || ReadPatchNumber(file.data() + 24) != int64_t(newSize) ||
        uint64_t(controlSize) > file.size() - kHeader ||
        uint64_t(diffSize) > file.size() - kHeader - uint64_t(controlSize))
        return false;
    const auto rest = std::span(file).subspan(kHeader);
    const size_t controlEnd = static_cast<size_t>(controlSize);
    if (!Bunzip(rest.first(controlEnd), (newSize + 1) * kPatchStepSize, blocks[0]) ||
        !Bunzip(rest.subspan(controlEnd, static_cast<size_t>(diffSize)), newSize, blocks[1]) ||
        !Bunzip(rest.subspan(controlEnd + static_cast<size_t>(diffSize)), newSize, blocks[2]))
        return false;
    error.clear();
    return true;
}

// The patch applied to the old file gives exactly the bytes whose digest the header names.
bool Proves(const Bytes& old, const Bytes& patch, const PatchHeader& header) {
    Sha256 made;
    const PatchResult result = ApplyPatch(old, patch, [&](const uint8_t* data, size_t size) {
        made.Add(data, size);
        return true;
    });
    std::array<uint8_t, 32> digest{};
    return result == PatchResult::Applied && made.Finish(digest) && digest == header.newSha256;
}

bool Convert(const std::string& oldPath, const std::string& newPath, const fs::path& bsdiffFile,
             Bytes& patch, std::string& error) {
    PatchHeader header;
    Bytes bsdiff;
    Bytes blocks[3];
    std::error_code failure;
    header.newSize = fs::file_size(newPath, failure);
    if (failure || !ReadWholeFile(bsdiffFile, bsdiff)) {
        error = "cannot read bsdiff's output";
        return false;
    }
    if (!ReadBsdiff(bsdiff, header.newSize, blocks, error)) return false;
    bsdiff = Bytes();
    // The old file is read once: for its digest and for the proof.
    Bytes old;
    Sha256 oldHash;
    const bool oldRead = ReadWholeFile(oldPath, old);
    oldHash.Add(old.data(), old.size());
    if (!oldRead || !oldHash.Finish(header.oldSha256) || !FileDigest(newPath, header.newSha256)) {
        error = "cannot read " + oldPath + " or " + newPath;
        return false;
    }
    patch = WritePatch(header, blocks[0], blocks[1], blocks[2]);
    if (patch.empty() || !Proves(old, patch, header)) {
        error = "the patch does not turn " + oldPath + " into " + newPath +
                " (did a file change meanwhile?)";
        return false;
    }
    return true;
}

}  // namespace

bool MakePatch(const std::string& oldPath, const std::string& newPath, const std::string& outPath,
               std::string& error, const PatchLimits& limits) {
    error.clear();
    if (!CheckInput(oldPath, limits, error) || !CheckInput(newPath, limits, error)) return false;
    TemporaryFile bsdiffFile(outPath, "bsdiff");
    TemporaryFile made(outPath, "part");
    if (bsdiffFile.Path().empty() || made.Path().empty()) {
        error = "cannot write beside " + outPath;
        return false;
    }
    Bytes patch;
    if (!RunBsdiff(oldPath, newPath, bsdiffFile.Path(), limits, error) ||
        !Convert(oldPath, newPath, bsdiffFile.Path(), patch, error))
        return false;
    if (!WriteWholeFile(made.Path(), patch) || !made.RenameTo(outPath)) {
        error = "cannot write " + outPath;
        return false;
    }
    return true;
}

}  // namespace vendor
