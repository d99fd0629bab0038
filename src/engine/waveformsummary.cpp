#include "waveformsummary.h"

#include <QtEndian>

#include <algorithm>

#include "fileprocessor.h"

WaveSummary SummarizeSamples(const QByteArray &mono16, int blockFrames)
{
    WaveSummary summary;
    summary.blockFrames = qMax(blockFrames, 1);
    summary.frames = mono16.size() / 2;
    const qint64 blocks = (summary.frames + summary.blockFrames - 1) / summary.blockFrames;
    summary.minima.resize(int(blocks));
    summary.maxima.resize(int(blocks));
    const char *bytes = mono16.constData();
    for (qint64 b = 0; b < blocks; ++b) {
        const qint64 first = b * summary.blockFrames;
        const qint64 end = qMin(first + summary.blockFrames, summary.frames);
        qint16 low = qFromLittleEndian<qint16>(bytes + 2 * first);
        qint16 high = low;
        for (qint64 i = first + 1; i < end; ++i) {
            const qint16 s = qFromLittleEndian<qint16>(bytes + 2 * i);
            low = qMin(low, s);
            high = qMax(high, s);
        }
        summary.minima[int(b)] = low;
        summary.maxima[int(b)] = high;
    }
    return summary;
}

void EnvelopeForWidth(const WaveSummary &summary, qint64 firstFrame, qint64 endFrame, int pixels,
                      QVector<qint16> *minima, QVector<qint16> *maxima)
{
    pixels = qMax(pixels, 0);
    minima->fill(0, pixels);
    maxima->fill(0, pixels);
    const qint64 span = endFrame - firstFrame;
    if (span <= 0)
        return;
    for (int p = 0; p < pixels; ++p) {
        const qint64 from = firstFrame + span * p / pixels;
        const qint64 to = qMax(firstFrame + span * (p + 1) / pixels, from + 1);
        const qint64 first = qMax(from, qint64(0));
        const qint64 last = qMin(to, summary.frames) - 1;
        if (first > last)
            continue;
        const int b0 = int(first / summary.blockFrames);
        const int b1 = int(last / summary.blockFrames) + 1;
        (*minima)[p] = *std::min_element(summary.minima.cbegin() + b0, summary.minima.cbegin() + b1);
        (*maxima)[p] = *std::max_element(summary.maxima.cbegin() + b0, summary.maxima.cbegin() + b1);
    }
}

qint64 GateCutFrames(const QByteArray &mono16, quint16 gate)
{
    return LeadingSilenceBytes(mono16, gate) / 2;
}
