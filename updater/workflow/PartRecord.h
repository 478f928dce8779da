// The record of the part in hand, kept beside it so that a later try or run can go on from it.
// It is saved only after the part is flushed, when a try ends and at most once a second while
// the part grows, and only once the part can be resumed at all (a validator, a length and a
// byte). It goes when the body starts again from nothing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DownloadRecord.h"
#include "StagedFile.h"

class PartRecord {
public:
    // `record` names the offer (and, for a kept part, what was recorded of it); both it and
    // `file` must outlive this.
    PartRecord(StagedFile& file, DownloadRecord& record) : m_file(file), m_record(record) {}

    const DownloadRecord& Record() const { return m_record; }
    // A body begins: what names it, and its whole length (0 when none was announced).
    void Begin(const std::wstring& validator, uint64_t total);
    // `size` more bytes of the part were written.
    void Written(DWORD size);
    // The body starts again from nothing: the record goes.
    void Drop();
    // Flushes the part and saves the record, once the part can be resumed.
    void Save();
    // Whether the part in hand is on disk with its record.
    bool Saved() const { return m_saved; }

private:
    StagedFile& m_file;
    DownloadRecord& m_record;
    DWORD m_lastSaved = 0;
    bool m_saved = false;
};
