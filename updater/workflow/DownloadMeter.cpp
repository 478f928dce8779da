#include "DownloadMeter.h"

DownloadFigures DownloadMeter::AddChunk(DWORD count, DWORD elapsedMs) {
    m_received += count;
    const DownloadFigures figures = Figures(m_chunked ? elapsedMs : kFirstChunkMs);
    m_chunked = true;
    return figures;
}

DownloadFigures DownloadMeter::Figures(DWORD elapsedMs) const {
    DownloadFigures figures;
    if (m_size != 0) figures.percent = static_cast<int>(m_received * 100 / m_size);
    const DWORD overMs = elapsedMs == 0 ? kFirstChunkMs : elapsedMs;
    const double speed = static_cast<double>(m_received - m_resumedFrom) / (overMs * 0.001) / 1024;
    figures.sizeLabel.Format("%lluKB", static_cast<unsigned long long>(m_size >> 10));
    figures.speedLabel.Format("%4.1fKB", speed);
    figures.percentLabel.Format("%d%s", figures.percent, "%");
    return figures;
}
