#include "layerrules.h"

#include <algorithm>
#include <numeric>

namespace {

// Lies below anything 16-bit audio measures (one step in 50 ms is
// -123.7 dBFS RMS), so a silent layer still has a finite place in the
// spread, at the bottom.
constexpr double kQuietestSpreadLevel = -130;

double SpreadLevel(double level)
{
    return level > kQuietestSpreadLevel ? level : kQuietestSpreadLevel;
}

} // namespace

void DefaultThresholds(ThresholdTable thresholds, int count)
{
    for (int n = 1; n <= kMaxLayers; ++n)
        thresholds[n] = 1;
    if (count <= 1)
        return;
    int step = kThresholdSliderMax / count;
    if (step == 15) // eight layers get 16, so the top layer lands at 113
        step = 16;
    for (int n = count - 1; n >= 1; --n)
        thresholds[n] = thresholds[n + 1] + step;
}

QVector<int> LoudestFirst(const QVector<double> &levels)
{
    QVector<int> order(levels.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&levels](int a, int b) { return levels.at(a) > levels.at(b); });
    return order;
}

void ThresholdsFromLevels(ThresholdTable thresholds, const QVector<double> &levelsLoudestFirst)
{
    const int count = qMin(int(levelsLoudestFirst.size()), kMaxLayers);
    DefaultThresholds(thresholds, count);
    if (count < 3) // no layer between the loudest and the softest
        return;
    const double loudest = SpreadLevel(levelsLoudestFirst.at(0));
    const double softest = SpreadLevel(levelsLoudestFirst.at(count - 1));
    if (!(loudest > softest))
        return;
    const int range = thresholds[1] - 1;
    for (int n = 2; n < count; ++n) {
        const double share = (SpreadLevel(levelsLoudestFirst.at(n - 1)) - softest) / (loudest - softest);
        const int rounded = 1 + qRound(qBound(0.0, share, 1.0) * range);
        // The lower bound never exceeds the upper one: layer n - 1 kept at
        // least count - n + 2.
        thresholds[n] = qBound(count - n + 1, rounded, thresholds[n - 1] - 1);
    }
}

void MoveThreshold(ThresholdTable thresholds, int count, int selected, int position)
{
    if (selected < 1 || selected > kMaxLayers)
        return;
    const int s = selected;
    qint32 v = qMin(position, 127 - s);
    v = qMax(v, count - s + 1);
    thresholds[s] = v;
    for (int n = s - 1; n >= 1; --n) {
        if (thresholds[n] <= thresholds[n + 1])
            thresholds[n] = thresholds[n + 1] + 1;
    }
    // Runs over the empty layers too; they may end at 0 or below, and the
    // bank stores them as they are.
    for (int n = s + 1; n <= kMaxLayers; ++n) {
        if (thresholds[n] >= thresholds[n - 1])
            thresholds[n] = thresholds[n - 1] - 1;
    }
}

bool ThresholdsAreValid(const ThresholdTable thresholds, int count)
{
    if (count < 1 || count > kMaxLayers || thresholds[count] != 1)
        return false;
    for (int n = 1; n <= count; ++n) {
        if (thresholds[n] < count - n + 1 || thresholds[n] > 127 - n)
            return false;
        if (n > 1 && thresholds[n] >= thresholds[n - 1])
            return false;
    }
    return true;
}

bool GateForPosition(int position, QString *label, quint16 *amplitude)
{
    // The amplitudes are the device's own values, not computed from the
    // decibel labels (103, not 104; 1035, not 1036).
    static const struct {
        const char *label;
        quint16 amplitude;
    } gates[kGateLevels] = {
        {"Don't", 0}, {"-60dB", 33}, {"-50dB", 103}, {"-40dB", 328}, {"-30dB", 1035},
    };
    if (position < 0 || position >= kGateLevels)
        return false;
    *label = QString::fromLatin1(gates[position].label);
    *amplitude = gates[position].amplitude;
    return true;
}

qint32 AvailablePercentFor(qint32 usedSpace)
{
    return 100 - usedSpace * 100 / kPercentDivisor;
}

bool NameHasControlCharacter(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

bool LayerSizesAreStorable(const qint32 sizes[], int count)
{
    if (count <= kFourSlotLayers)
        return true;
    for (int i = 0; i < count; ++i) {
        if (sizes[i] >= kSizeUnitsLimit)
            return false;
    }
    return true;
}

QString LastPathPart(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}
