#include "ApplyPatch.h"

#include <algorithm>
#include <memory>
#include <new>

#include "BlockInflater.h"
#include "PatchFormat.h"

namespace {

// Collects the new file's bytes into pieces for the caller's writes.
class PieceWriter {
public:
    PieceWriter(const std::function<bool(const uint8_t*, size_t)>& write, uint64_t total)
        : m_write(write),
          m_size(static_cast<size_t>(std::min<uint64_t>(total, kPatchWritePiece))),
          m_buffer(new (std::nothrow) uint8_t[std::max<size_t>(m_size, 1)]) {}

    bool Ready() const { return m_buffer != nullptr; }
    // Free room for at most `wanted` bytes; `room` says how much.
    uint8_t* Room(uint64_t wanted, size_t& room) const {
        room = static_cast<size_t>(std::min<uint64_t>(wanted, m_size - m_fill));
        return m_buffer.get() + m_fill;
    }
    bool Commit(size_t size) {
        m_fill += size;
        return m_fill < m_size || Flush();
    }
    bool Flush() {
        const bool written = m_fill == 0 || m_write(m_buffer.get(), m_fill);
        m_fill = 0;
        return written;
    }

private:
    const std::function<bool(const uint8_t*, size_t)>& m_write;
    size_t m_size;
    size_t m_fill = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
};

struct Step {
    int64_t copy;  // diff bytes added to old bytes
    int64_t extra;
    int64_t seek;  // old position moves by this, after the copy
};

class Patcher {
public:
    Patcher(std::span<const uint8_t> oldFile, const PatchHeader& header, const PatchBlocks& blocks,
            PieceWriter& out)
        : m_old(oldFile),
          m_newSize(header.newSize),
          m_control(blocks.control),
          m_diff(blocks.diff),
          m_extra(blocks.extra),
          m_out(out) {}

    PatchResult Run() {
        uint64_t steps = 0;
        while (m_written < m_newSize) {
            Step step{};
            if (++steps > m_newSize || !ReadStep(step) || !Fits(step)) return PatchResult::Corrupt;
            if (const PatchResult copied = Copy(step); copied != PatchResult::Applied)
                return copied;
        }
        if (!m_control.EndsHere() || !m_diff.EndsHere() || !m_extra.EndsHere())
            return PatchResult::Corrupt;
        return m_out.Flush() ? PatchResult::Applied : PatchResult::WriteFailed;
    }

private:
    bool ReadStep(Step& step) {
        uint8_t bytes[kPatchStepSize];
        if (!m_control.Read(bytes, sizeof bytes)) return false;
        step = {ReadPatchNumber(bytes), ReadPatchNumber(bytes + 8), ReadPatchNumber(bytes + 16)};
        return true;
    }

    // Every bound is compared before anything is added, so that no sum can wrap around.
    bool Fits(const Step& step) const {
        if (step.copy < 0 || step.extra < 0) return false;
        const auto copy = static_cast<uint64_t>(step.copy);
        const auto extra = static_cast<uint64_t>(step.extra);
        const uint64_t newLeft = m_newSize - m_written;
        if (copy > newLeft || extra > newLeft - copy) return false;
        if (copy > m_old.size() - m_oldPosition) return false;
        const uint64_t after = m_oldPosition + copy;
        return step.seek >= 0 ? static_cast<uint64_t>(step.seek) <= m_old.size() - after
                              : static_cast<uint64_t>(-step.seek) <= after;
    }

    PatchResult Copy(const Step& step) {
        for (auto left = static_cast<uint64_t>(step.copy); left > 0;) {
            size_t room = 0;
            uint8_t* to = m_out.Room(left, room);
            if (!m_diff.Read(to, room)) return PatchResult::Corrupt;
            const uint8_t* from = m_old.data() + m_oldPosition;
            for (size_t i = 0; i < room; ++i) to[i] = static_cast<uint8_t>(to[i] + from[i]);
            m_oldPosition += room;
            if (!Advance(room, left)) return PatchResult::WriteFailed;
        }
        for (auto left = static_cast<uint64_t>(step.extra); left > 0;) {
            size_t room = 0;
            uint8_t* to = m_out.Room(left, room);
            if (!m_extra.Read(to, room)) return PatchResult::Corrupt;
            if (!Advance(room, left)) return PatchResult::WriteFailed;
        }
        m_oldPosition = step.seek >= 0 ? m_oldPosition + static_cast<uint64_t>(step.seek)
                                       : m_oldPosition - static_cast<uint64_t>(-step.seek);
        return PatchResult::Applied;
    }

    bool Advance(size_t size, uint64_t& left) {
        left -= size;
        m_written += size;
        return m_out.Commit(size);
    }

    std::span<const uint8_t> m_old;
    uint64_t m_newSize;
    BlockInflater m_control;
    BlockInflater m_diff;
    BlockInflater m_extra;
    PieceWriter& m_out;
    uint64_t m_oldPosition = 0;
    uint64_t m_written = 0;
};

}  // namespace

PatchResult ApplyPatch(std::span<const uint8_t> oldFile, std::span<const uint8_t> patch,
                       const std::function<bool(const uint8_t* data, size_t size)>& write) {
    PatchHeader header;
    PatchBlocks blocks;
    if (!ReadPatchLayout(patch, header, blocks)) return PatchResult::Malformed;
    if (header.newSize > kLargestPatchedFile) return PatchResult::TooLarge;
    try {
        PieceWriter out(write, header.newSize);
        if (!out.Ready()) return PatchResult::WriteFailed;
        return Patcher(oldFile, header, blocks, out).Run();
    } catch (...) {
        // A write that throws is a write that failed.
        return PatchResult::WriteFailed;
    }
}
