#include "BackgroundSha256.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "Sha256.h"

namespace {
constexpr size_t kBatchBytes = 1 << 20;
constexpr size_t kMaxQueuedBatches = 2;
}  // namespace

struct BackgroundSha256::Hasher {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> queued;
    std::vector<std::vector<uint8_t>> spare;  // hashed batches, kept for their memory
    bool ended = false;
    bool failed = false;
    Sha256 digest;
    std::thread thread;

    void Run() {
        // The download's own threads come first; the digest takes what time is left over.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
        for (;;) {
            std::vector<uint8_t> batch;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [this] { return ended || !queued.empty(); });
                if (queued.empty()) return;
                batch = std::move(queued.front());
                queued.pop_front();
            }
            changed.notify_all();
            if (!digest.Add(batch.data(), static_cast<ULONG>(batch.size()))) failed = true;
            batch.clear();
            std::lock_guard<std::mutex> hold(lock);
            spare.push_back(std::move(batch));
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> hold(lock);
            ended = true;
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }
};

BackgroundSha256::BackgroundSha256() : m_hasher(std::make_unique<Hasher>()) {
    m_hasher->thread = std::thread([hasher = m_hasher.get()] { hasher->Run(); });
    m_filling.reserve(kBatchBytes);
}

BackgroundSha256::~BackgroundSha256() {
    {
        std::lock_guard<std::mutex> hold(m_hasher->lock);
        m_hasher->queued.clear();  // an abandoned digest: what is still queued does not matter
    }
    m_hasher->Stop();
}

bool BackgroundSha256::Add(const void* data, ULONG size) {
    if (m_finished) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t taken = std::min<size_t>(size, kBatchBytes - m_filling.size());
        m_filling.insert(m_filling.end(), bytes, bytes + taken);
        bytes += taken;
        size -= static_cast<ULONG>(taken);
        if (m_filling.size() == kBatchBytes && !HandOver()) return false;
    }
    return true;
}

bool BackgroundSha256::HandOver() {
    std::unique_lock<std::mutex> hold(m_hasher->lock);
    m_hasher->changed.wait(
        hold, [this] { return m_hasher->queued.size() < kMaxQueuedBatches || m_hasher->ended; });
    if (m_hasher->ended) return false;
    m_hasher->queued.push_back(std::move(m_filling));
    if (m_hasher->spare.empty()) {
        m_filling = {};
        m_filling.reserve(kBatchBytes);
    } else {
        m_filling = std::move(m_hasher->spare.back());
        m_hasher->spare.pop_back();
    }
    hold.unlock();
    m_hasher->changed.notify_all();
    return true;
}

bool BackgroundSha256::Finish(std::array<uint8_t, 32>& digest) {
    if (m_finished) return false;
    m_finished = true;
    if (!m_filling.empty() && !HandOver()) return false;
    m_hasher->Stop();
    return !m_hasher->failed && m_hasher->digest.Finish(digest);
}
