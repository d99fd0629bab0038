#include "layerrules.h"

#include "resultcodes.h"

#include <QStringView>

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


bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Where the run of digits, or of other characters, that starts at `from`
// ends.
int RunEnd(const QString &text, int from)
{
    const bool digits = IsDigit(text.at(from));
    int end = from;
    while (end < text.size() && IsDigit(text.at(end)) == digits)
        ++end;
    return end;
}

// Two runs of digits by their value: without leading zeros the longer one is
// the larger, and runs of one length compare digit by digit.
int CompareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
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

int LayerForHit(const ThresholdTable thresholds, int count, int strength)
{
    for (int layer = 1; layer < count; ++layer) {
        if (thresholds[layer] <= strength)
            return layer;
    }
    return count;
}

QString HitRangeShort(const ThresholdTable thresholds, int count, int layer)
{
    const qint32 lowest = layer == count ? 1 : thresholds[layer];
    const qint32 highest = layer == 1 ? kHitStrengths : thresholds[layer - 1] - 1;
    if (highest == lowest)
        return QString::number(lowest);
    return QStringLiteral("%1\u2013%2").arg(lowest).arg(highest);
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

int LayerSizesVerdict(const qint32 sizes[], int count)
{
    const qint64 total = std::accumulate(sizes, sizes + count, qint64(0));
    if (total > kBankBudget)
        return RESULT_NO_SPACE;
    if (!LayerSizesAreStorable(sizes, count))
        return RESULT_TOO_BIG;
    return 0;
}

QString LastPathPart(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString TooManyFilesText(int given)
{
    return QStringLiteral("too many files: a bank holds at most %1 layers, %2 given")
        .arg(kMaxLayers)
        .arg(given);
}

QStringList SoundFileSuffixes()
{
    return {QStringLiteral("wav"),  QStringLiteral("wave"), QStringLiteral("aif"),
            QStringLiteral("aiff"), QStringLiteral("aifc"), QStringLiteral("flac"),
            QStringLiteral("ogg"),  QStringLiteral("oga"),  QStringLiteral("opus"),
            QStringLiteral("mp3"),  QStringLiteral("au"),   QStringLiteral("snd"),
            QStringLiteral("caf"),  QStringLiteral("w64"),  QStringLiteral("rf64")};
}

bool HasSoundFileSuffix(const QString &fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && SoundFileSuffixes().contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

int NaturalCompare(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = IsDigit(a.at(i));
        if (digits != IsDigit(b.at(j)))
            return digits ? -1 : 1; // a number before text
        const int iEnd = RunEnd(a, i);
        const int jEnd = RunEnd(b, j);
        const QStringView x = QStringView(a).mid(i, iEnd - i);
        const QStringView y = QStringView(b).mid(j, jEnd - j);
        const int order = digits ? CompareNumbers(x, y) : x.compare(y, Qt::CaseInsensitive);
        if (order != 0)
            return Sign(order);
        i = iEnd;
        j = jEnd;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1; // a name before its longer namesakes
    return Sign(a.compare(b));
}
