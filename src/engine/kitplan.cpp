#include "kitplan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cardnames.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "soundinfo.h"
#include "zkslayout.h"

namespace {

int LayerForStrength(const QVector<KitLayer> &layers, const QVector<bool> &unusable, int v)
{
    const auto usable = [&unusable](int i) { return i >= unusable.size() || !unusable.at(i); };
    const double x = double(v) / kHitStrengths;
    for (int i = 0; i < layers.size(); ++i) {
        if (usable(i) && layers.at(i).min <= x && x <= layers.at(i).max)
            return i;
    }
    int nearest = -1;
    double distance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < layers.size(); ++i) {
        if (!usable(i))
            continue;
        const double d = std::abs(layers.at(i).min - x);
        if (d < distance) {
            distance = d;
            nearest = i;
        }
    }
    return nearest;
}

} // namespace

KitPlan PlanKitLayers(const QVector<KitLayer> &layers, const QVector<bool> &unusable)
{
    KitPlan plan;
    QVector<QVector<int>> played(layers.size());
    for (int v = 1; v <= kHitStrengths; ++v) {
        const int layer = LayerForStrength(layers, unusable, v);
        if (layer >= 0)
            played[layer] << v;
    }
    int roundRobins = 0;
    for (int i = 0; i < layers.size(); ++i) {
        if (!played.at(i).isEmpty()) {
            plan.layers << i;
            continue;
        }
        if (i < unusable.size() && unusable.at(i))
            continue;
        bool repeat = false;
        for (int j = 0; j < i && !repeat; ++j)
            repeat = layers.at(j).min == layers.at(i).min && layers.at(j).max == layers.at(i).max;
        if (repeat)
            ++roundRobins;
        else
            plan.notes << QStringLiteral("layer %1 (%2..%3) plays no hit strength")
                              .arg(i + 1)
                              .arg(layers.at(i).min)
                              .arg(layers.at(i).max);
    }
    if (roundRobins > 0)
        plan.notes << QStringLiteral("%1 round-robin layer(s) left out").arg(roundRobins);
    std::stable_sort(plan.layers.begin(), plan.layers.end(),
                     [&](int a, int b) { return played.at(a).first() > played.at(b).first(); });
    for (int layer : std::as_const(plan.layers)) {
        plan.hits << played.at(layer);
        plan.thresholds << played.at(layer).first();
    }
    return plan;
}

void ReduceKitPlan(KitPlan *plan, int keep)
{
    const int count = int(plan->layers.size());
    if (keep < 1 || count <= keep)
        return;
    QVector<int> kept;
    for (int j = 0; j < keep; ++j)
        kept << (keep == 1 ? 0 : int(std::lround(double(j) * (count - 1) / (keep - 1))));
    KitPlan reduced;
    reduced.notes = plan->notes;
    for (int rank : std::as_const(kept)) {
        reduced.layers << plan->layers.at(rank);
        reduced.hits << plan->hits.at(rank);
    }
    for (int rank = 0; rank < count; ++rank) {
        if (kept.contains(rank))
            continue;
        // Kept ranks are in rising order, so the first of two at the same
        // distance is the louder one.
        int nearest = 0;
        for (int k = 1; k < kept.size(); ++k) {
            if (std::abs(kept.at(k) - rank) < std::abs(kept.at(nearest) - rank))
                nearest = k;
        }
        reduced.hits[nearest] << plan->hits.at(rank);
    }
    for (QVector<int> &hits : reduced.hits) {
        std::sort(hits.begin(), hits.end());
        reduced.thresholds << hits.first();
    }
    reduced.notes << QStringLiteral("%1 layers reduced to %2").arg(count).arg(keep);
    *plan = reduced;
}

void FinishThresholds(KitPlan *plan)
{
    for (int i = 0; i < plan->thresholds.size(); ++i)
        plan->thresholds[i] = std::min(plan->thresholds.at(i), kThresholdSliderMax - i);
    if (!plan->thresholds.isEmpty())
        plan->thresholds.last() = 1;
}

QVector<double> KitLayerSamples(const PcmSound &converted, double gain, bool leftOnly, qint64 first,
                                qint64 count)
{
    const int channels = std::max(1, int(converted.channels));
    const qint64 frames = converted.pcm.size() / (2 * channels);
    const qint64 from = std::clamp<qint64>(first, 0, frames);
    const qint64 to = count < 0 ? frames : std::min(frames, from + count);
    const auto sample = [&](qint64 index) {
        return double(qint16(quint16(quint8(converted.pcm.at(int(2 * index))))
                             | quint16(quint8(converted.pcm.at(int(2 * index + 1)))) << 8));
    };
    QVector<double> mono;
    mono.reserve(int(to - from));
    for (qint64 i = from; i < to; ++i) {
        const double left = sample(i * channels);
        mono << gain * (channels == 2 && !leftOnly ? (left + sample(i * channels + 1)) / 2 : left);
    }
    return mono;
}

QVector<QByteArray> FinishKitLayers(const QVector<QVector<double>> &layers, bool trimTails, double *scale)
{
    double peak = 0;
    for (const QVector<double> &layer : layers) {
        for (double value : layer)
            peak = std::isfinite(value) ? std::max(peak, std::abs(value)) : std::numeric_limits<double>::infinity();
    }
    *scale = peak > 32767 ? 32767 / peak : 1;
    if (!(*scale > 0))
        return {};
    QVector<QByteArray> finished;
    for (const QVector<double> &layer : layers) {
        QByteArray pcm(int(layer.size()) * 2, Qt::Uninitialized);
        for (int i = 0; i < layer.size(); ++i) {
            const auto value = quint16(qint16(std::lround(std::clamp(layer.at(i) * *scale, -32768.0, 32767.0))));
            pcm[2 * i] = char(value & 0xff);
            pcm[2 * i + 1] = char(value >> 8);
        }
        finished << (trimTails ? TrimQuietTail(pcm, 1) : pcm);
    }
    return finished;
}

namespace {

bool SizesFit(const QVector<QByteArray> &layers, qint64 headerBytes, int cut)
{
    qint32 sizes[kMaxLayers] = {};
    qint64 total = headerBytes;
    const int count = std::min(int(layers.size()), kMaxLayers);
    for (int i = 0; i < count; ++i) {
        const int frames = int(layers.at(i).size() / 2);
        const qint64 data = 2 * qint64(cut > 0 ? std::min(frames, cut) : frames);
        if (data > kLargestCheckedDataSize) // the sound check's own limit for one layer
            return false;
        sizes[i] = LayerSizeFor(quint32(data), false);
        total += sizes[i];
    }
    return LayerSizesVerdict(sizes, count) == 0 && total <= kBankBudget;
}

} // namespace

bool FitKitLayers(QVector<QByteArray> *layers, qint64 headerBytes, int *cutFrames)
{
    *cutFrames = 0;
    if (SizesFit(*layers, headerBytes, 0))
        return true;
    int longest = 0;
    for (const QByteArray &layer : std::as_const(*layers))
        longest = std::max(longest, int(layer.size() / 2));
    int low = kBankRate;
    if (longest <= low || !SizesFit(*layers, headerBytes, low))
        return false;
    int high = longest; // does not fit; `low` does
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        (SizesFit(*layers, headerBytes, middle) ? low : high) = middle;
    }
    for (QByteArray &layer : *layers) {
        if (layer.size() / 2 <= low)
            continue;
        layer.truncate(2 * low);
        const int fade = std::min(kTailFadeFrames, low);
        for (int i = 0; i < fade; ++i) {
            const int index = low - fade + i;
            const int value = qint16(quint16(quint8(layer.at(2 * index)) | quint8(layer.at(2 * index + 1)) << 8));
            const auto faded = quint16(qint16(value * (fade - 1 - i) / fade));
            layer[2 * index] = char(faded & 0xff);
            layer[2 * index + 1] = char(faded >> 8);
        }
    }
    *cutFrames = low;
    return true;
}

QStringList KitBankFileNames(const QString &kitName, const QStringList &instrumentNames)
{
    QStringList stems;
    for (const QString &instrument : instrumentNames)
        stems << kitName + QStringLiteral(" - ") + instrument;
    return DistinctCardSafeFileNames(stems, QStringLiteral(".zks"));
}
