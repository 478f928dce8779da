// What a downloaded body must be before it may replace the program: a program ("MZ", and
// headers that do not say it goes on past its end), proven whole, and for a signed release
// the signed file byte for byte. The checks are fed every byte of the body in order from its
// start: on a resumed download the kept bytes first, then those that arrive.
#pragma once

#include <cstdint>
#include <optional>

#include "BackgroundSha256.h"
#include "DownloadRecord.h"
#include "ProgramImage.h"

class BodyChecks {
public:
    // expected: the signed file, for a signed release. It must outlive the checks. A body that
    // is not a program (a patch) is only counted and, when expected, hashed.
    explicit BodyChecks(const std::optional<ExpectedFile>& expected, bool program = true);

    // The body starts again from its first byte.
    void Restart();
    // The next bytes. False when the body cannot be a program (an error page, a portal's
    // HTML), or its digest cannot be taken (then Rejected).
    bool Add(const char* data, size_t size);
    // After the whole body of `received` bytes, `announced` telling whether a length was
    // announced for it. False when it cannot be the whole program, or is not the signed file
    // (then Rejected).
    bool Whole(uint64_t received, bool announced);

    // The body is not the signed file (its announced or received size differs, say): false.
    bool Reject() {
        m_rejected = true;
        return false;
    }
    bool Rejected() const { return m_rejected; }

private:
    const std::optional<ExpectedFile>& m_expected;
    bool m_program;
    ProgramImageProof m_image;
    // Taken as the bytes arrive, not in a second pass; only for a signed release.
    std::optional<BackgroundSha256> m_digest;
    bool m_rejected = false;
};
