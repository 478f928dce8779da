// libFuzzer target over what the server reads from clients before anything else does: the
// request heads (HeadScanner, fed in pieces as they arrive), the Range and validator headers
// and the three date forms (ByteRanges). Built by tests/fuzz/run.sh, not part of the tests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ByteRanges.h"
#include "HeadScanner.h"

namespace {

// The scan of a head fed whole and fed in pieces must agree.
void ScanHeads(const std::string& bytes, std::size_t piece) {
    vendor::HeadScanner whole, pieces;
    whole.Feed(bytes.data(), bytes.size());
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        pieces.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    for (int i = 0; i < 8; ++i) {
        const vendor::ScannedHead& a = whole.Current();
        const vendor::ScannedHead& b = pieces.Current();
        if (a.fault != b.fault || a.line != b.line || a.body != b.body || a.whole != b.whole)
            std::abort();
        whole.Next();
        pieces.Next();
    }
    for (const auto& patch : whole.TakePatches())
        if (patch.offset + patch.bytes.size() > bytes.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    ScanHeads(bytes, 1 + data[0] % 16);
    // The same bytes as header values, split at NULs into the validators.
    std::string fields[6];
    std::size_t field = 0;
    for (const char c : bytes) {
        if (c == '\0') {
            if (++field == 6) break;
        } else {
            fields[field] += c;
        }
    }
    const auto value = [&](int i) { return fields[i].empty() ? nullptr : fields[i].c_str(); };
    const vendor::RequestValidators request{value(0), value(1), value(2),     value(3),
                                            value(4), value(5), 1'000'000'000};
    const vendor::FileValidators file{"\"abc\"", 999'999'999, 1 + data[0] * 1000ull};
    const vendor::FilePart part = vendor::DecideFilePart(request, file);
    if (part.kind == vendor::FilePart::Partial && part.first + part.length > file.size)
        std::abort();
    std::time_t when = 0;
    vendor::ParseHttpDate(fields[0].c_str(), when);
    return 0;
}
