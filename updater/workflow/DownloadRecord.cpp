#include "DownloadRecord.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "RecordText.h"

namespace {

const char kFirstLine[] = "qorvel partial download 1";
constexpr DWORD kMostRecordBytes = 16384;

bool DigestFromHex(const std::string& text, std::array<uint8_t, 32>& bytes) {
    std::string read;
    if (text.size() != 64 || !FromHex(text, read)) return false;
    std::copy(read.begin(), read.end(), bytes.begin());
    return true;
}

bool ToNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// The lines, each "name=value" after the first, in the order they are written.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at != text.size()) lines.clear();  // a record cut short
    return lines;
}

bool Value(const std::string& line, const char* name, std::string& value) {
    const std::string prefix = std::string(name) + "=";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    value = line.substr(prefix.size());
    return true;
}

}  // namespace

bool SaveDownloadRecord(const std::wstring& path, const DownloadRecord& record) {
    std::string text = std::string(kFirstLine) + "\n";
    text += "address=" + record.address.Bytes() + "\n";
    text += "version=" + record.version.Bytes() + "\n";
    text += "signed=" +
            (record.expected
                 ? std::to_string(record.expected->size) + " " + ToHex(record.expected->sha256)
                 : std::string()) +
            "\n";
    text += "validator=" + ToGbk(record.validator).Bytes() + "\n";
    text += "total=" + std::to_string(record.total) + "\n";
    text += "written=" + std::to_string(record.written) + "\n";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool saved =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    return saved;
}

bool LoadDownloadRecord(const std::wstring& path, DownloadRecord& record) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text(kMostRecordBytes, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, text.data(), kMostRecordBytes, &got, nullptr);
    CloseHandle(file);
    if (!read || got == kMostRecordBytes) return false;
    text.resize(got);

    const std::vector<std::string> lines = Lines(text);
    std::string address, version, signedFile, validator, total, written;
    if (lines.size() != 7 || lines[0] != kFirstLine || !Value(lines[1], "address", address) ||
        !Value(lines[2], "version", version) || !Value(lines[3], "signed", signedFile) ||
        !Value(lines[4], "validator", validator) || !Value(lines[5], "total", total) ||
        !Value(lines[6], "written", written))
        return false;
    DownloadRecord loaded;
    loaded.address = GbkString(address);
    loaded.version = GbkString(version);
    loaded.validator = ToWide(std::string_view(validator));
    if (!ToNumber(total, loaded.total) || !ToNumber(written, loaded.written) ||
        loaded.written > loaded.total || loaded.validator.empty())
        return false;
    if (!signedFile.empty()) {
        const size_t blank = signedFile.find(' ');
        ExpectedFile expected;
        if (blank == std::string::npos || !ToNumber(signedFile.substr(0, blank), expected.size) ||
            !DigestFromHex(signedFile.substr(blank + 1), expected.sha256))
            return false;
        loaded.expected = expected;
    }
    record = loaded;
    return true;
}
