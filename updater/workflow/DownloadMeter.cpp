#include "DownloadMeter.h"

DownloadFigures DownloadMeter::AddChunk(DWORD count) {
    m_received += count;
    DownloadFigures figures;
    if (m_size != 0) figures.percent = static_cast<int>(m_received * 100 / m_size);
    const double speed =
        static_cast<double>(m_received - m_resumedFrom) / (m_elapsedMs * 0.001) / 1024;
    figures.sizeLabel.Format("%lluKB", static_cast<unsigned long long>(m_size >> 10));
    figures.speedLabel.Format("%4.1fKB", speed);
    figures.percentLabel.Format("%d%s", figures.percent, "%");
    return figures;
}

void DownloadMeter::ChunkHandled(DWORD startTick, DWORD nowTick) {
    const DWORD elapsed = nowTick - startTick;
    m_elapsedMs = elapsed == 0 ? kFirstChunkMs : elapsed;
}
