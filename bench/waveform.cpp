// The waveform strip's work for one layer of 35 seconds, the engine's part
// without the window: its summary (SummarizeSamples), the envelope of the
// whole layer for a strip of 600 pixels (EnvelopeForWidth), and, for scale,
// its levels (MeasureSamples) as the window would measure a new layer.
//   bench-waveform [--repeat N]
// Prints the medians over N runs (default 50) in milliseconds: summary,
// envelope, the two together, levels.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "benchsupport.h"
#include "loudness.h"
#include "waveformsummary.h"
#include "zkslayout.h"

namespace {

constexpr int kSeconds = 35;
constexpr int kStripPixels = 600;

// A hit: noise falling away over the 35 seconds, the same on every run.
QByteArray Layer()
{
    const int frames = kSeconds * kBankRate;
    std::mt19937 random(1);
    std::uniform_real_distribution<double> noise(-1, 1);
    QByteArray audio;
    audio.reserve(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const double envelope = 30000 * std::exp(-double(i) / (5 * kBankRate));
        AppendLE(audio, quint16(qint16(std::lround(envelope * noise(random)))), 2);
    }
    return audio;
}

double MedianMs(int times, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    DropDebugMessages();
    const QStringList args = QCoreApplication::arguments();
    int times = 50;
    if (args.size() == 3 && args.at(1) == QLatin1String("--repeat") && args.at(2).toInt() > 0)
        times = args.at(2).toInt();
    else if (args.size() != 1) {
        std::fprintf(stderr, "usage: bench-waveform [--repeat N]\n");
        return 2;
    }

    const QByteArray layer = Layer();
    WaveSummary summary;
    const double summaryMs = MedianMs(times, [&]() { summary = SummarizeSamples(layer); });
    QVector<qint16> minima, maxima;
    const double envelopeMs = MedianMs(times, [&]() {
        EnvelopeForWidth(summary, 0, summary.frames, kStripPixels, &minima, &maxima);
    });
    LayerLevels levels;
    const double levelsMs = MedianMs(times, [&]() { levels = MeasureSamples(layer); });
    std::printf("%.2f %.3f %.2f %.2f\n", summaryMs, envelopeMs, summaryMs + envelopeMs, levelsMs);
    return 0;
}
