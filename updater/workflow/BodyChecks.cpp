#include "BodyChecks.h"

#include <array>

BodyChecks::BodyChecks(const std::optional<ExpectedFile>& expected, bool program)
    : m_expected(expected), m_program(program) {
    Restart();
}

void BodyChecks::Restart() {
    m_image = ProgramImageProof{};
    if (m_expected) m_digest.emplace();
}

bool BodyChecks::Add(const char* data, size_t size) {
    // Every Windows program starts with "MZ"; an error page or a portal's HTML does not.
    if (m_program) {
        m_image.Add(data, size);
        if (!m_image.LooksLikeProgram()) return false;
    }
    if (m_digest && !m_digest->Add(data, static_cast<ULONG>(size))) return Reject();
    return true;
}

// The program's own headers must not say that it goes on. Without a length or a signed size
// nothing else tells a cut body from a whole one: there they must prove it whole.
bool BodyChecks::Whole(uint64_t received, bool announced) {
    if (!m_program) {
        if (received == 0) return false;
    } else {
        if (received < 2 || !m_image.LooksLikeProgram()) return false;
        if (!m_image.ProvenWhole(received) &&
            (m_image.HeadersKnown() || !(announced || m_expected)))
            return false;
    }
    if (!m_expected) return true;
    std::array<uint8_t, 32> digest{};
    if (received != m_expected->size || !m_digest->Finish(digest) || digest != m_expected->sha256)
        return Reject();
    return true;
}
