#include "PartRecord.h"

#include "MonotonicClock.h"

namespace {
// How often, at most, a growing part is flushed and recorded.
constexpr DWORD kSaveEveryMs = 1000;
}  // namespace

void PartRecord::Begin(const std::wstring& validator, uint64_t total) {
    m_record.validator = validator;
    m_record.total = total;
    m_record.written = 0;
    m_lastSaved = NowMs();
}

void PartRecord::Written(DWORD size) {
    m_record.written += size;
    if (NowMs() - m_lastSaved >= kSaveEveryMs) Save();
}

void PartRecord::Drop() {
    DeleteFileW(m_file.Record().c_str());
    m_saved = false;
    m_record.written = 0;
}

void PartRecord::Save() {
    if (m_record.validator.empty() || m_record.total == 0 || m_record.written == 0) return;
    m_lastSaved = NowMs();
    m_saved = m_file.Keep() && SaveDownloadRecord(m_file.Record(), m_record);
}
