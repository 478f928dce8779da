#include "SignedRecords.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace vendor {

namespace {

constexpr char kSignature[] = "sig=";

// The fields of a signed part that name the file: "#sha256=...;size=...;".
std::string FileFields(const std::string& signedPart) {
    const size_t at = signedPart.rfind("#sha256=");
    return at == std::string::npos ? std::string() : signedPart.substr(at);
}

// Signing reads the records, adds one and replaces the file: the server and `export` may do it
// at once on the same folder, and each would lose the other's record, or find its part renamed
// away. Each holds the file's lock meanwhile. The file is replaced under the lock, so one that
// waited for it may hold a file no longer there: it locks the one in its place.
class RecordsLock {
public:
    explicit RecordsLock(const fs::path& file) {
        for (int tries = 0; tries < 100; ++tries) {
            m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (m_fd < 0) return;
            struct stat held = {}, named = {};
            if (::flock(m_fd, LOCK_EX) == 0 && ::fstat(m_fd, &held) == 0 &&
                ::stat(file.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
                held.st_dev == named.st_dev)
                return;
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RecordsLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RecordsLock(const RecordsLock&) = delete;
    RecordsLock& operator=(const RecordsLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace

std::string SignedPart(const std::string& version, const std::string& address,
                       const std::string& sha256, std::uint64_t size) {
    return "#" + version + "#" + address + "#sha256=" + sha256 + ";size=" + std::to_string(size) +
           ";";
}

std::string SignedRecord(const ReleaseKey& key, const std::string& signedPart, const fs::path& file,
                         std::string& error, const std::vector<std::string>& alsoKept) {
    std::vector<std::string> keptFiles{FileFields(signedPart)};
    for (const std::string& other : alsoKept)
        if (!FileFields(other).empty()) keptFiles.push_back(FileFields(other));
    const auto ofKeptFile = [&](const std::string& line) {
        for (const std::string& fields : keptFiles)
            if (line.find(fields) != std::string::npos) return true;
        return false;
    };
    const RecordsLock lock(file);
    std::vector<std::string> kept;
    {
        std::ifstream in(file, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (!line.starts_with(signedPart + kSignature)) {
                // Records of the same file at other addresses (another public URL) stay.
                if (ofKeptFile(line)) kept.push_back(line);
                continue;
            }
            const std::string signature = line.substr(signedPart.size() + sizeof kSignature - 1);
            if (key.Verifies(signedPart, signature)) return line;
        }
    }
    const std::string signature = key.Sign(signedPart);
    if (signature.empty()) {
        error = "cannot sign the record";
        return {};
    }
    const std::string record = signedPart + kSignature + signature;
    // Replaced at once: a reader never sees half a file.
    kept.push_back(record);
    const fs::path part = file.string() + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        for (const std::string& line : kept) out << line << '\n';
        if (!out.flush()) {
            error = "cannot write " + part.string();
            return {};
        }
    }
    std::error_code failure;
    fs::rename(part, file, failure);
    if (failure) {
        error = "cannot keep the signed record in " + file.string() + ": " + failure.message();
        return {};
    }
    return record;
}

}  // namespace vendor
