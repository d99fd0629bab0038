// Any bytes as a SoundFont 2 file: a file read whole must give presets whose
// regions lie within the sample data, keys whose layers fall in loudness
// from at most 127 down to 1, and zones that render to a bounded length.

#include <cmath>

#include "fuzzsupport.h"
#include "sf2kit.h"
#include "zkslayout.h"

namespace {

// Rendering resamples at the converter's quality; a few zones per input
// keep each run short.
constexpr int kRendersPerInput = 4;

void CheckRegions(const Sf2Kit &kit, const QVector<Sf2Region> &regions)
{
    for (const Sf2Region &r : regions) {
        FUZZ_CHECK(0 <= r.loKey && r.loKey <= r.hiKey && r.hiKey <= 127);
        FUZZ_CHECK(0 <= r.loVel && r.loVel <= r.hiVel && r.hiVel <= 127);
        FUZZ_CHECK(r.sample >= 0 && r.sample < kit.samples.size());
        FUZZ_CHECK(0 <= r.start && r.start < r.end && r.end <= kit.frames);
        FUZZ_CHECK(r.attenuation >= 0 && r.attenuation <= 1440);
    }
}

void CheckLayers(const Sf2Kit &kit, const QVector<Sf2Layer> &layers, int *renders)
{
    int previous = 128;
    for (const Sf2Layer &layer : layers) {
        FUZZ_CHECK(layer.threshold >= 1 && layer.threshold < previous);
        FUZZ_CHECK(!layer.zones.isEmpty() && layer.zones.size() <= kMaxSf2ZonesPerKey);
        previous = layer.threshold;
        for (const Sf2Zone &zone : layer.zones) {
            FUZZ_CHECK(std::isfinite(zone.pitchRatio) && zone.pitchRatio > 0);
            FUZZ_CHECK(zone.gain > 0 && zone.gain <= 1);
            FUZZ_CHECK(0 <= zone.start && zone.start < zone.end && zone.end <= kit.frames);
        }
        if (*renders >= kRendersPerInput)
            continue;
        ++*renders;
        QVector<double> samples;
        QStringList notes;
        if (RenderSf2Layer(kit, layer, false, &samples, &notes)) {
            FUZZ_CHECK(!samples.isEmpty() || notes.isEmpty());
            FUZZ_CHECK(samples.size() <= kLargestLayerSize / 2);
            for (double value : samples)
                FUZZ_CHECK(std::isfinite(value));
        } else {
            FUZZ_CHECK(!notes.isEmpty());
        }
    }
    FUZZ_CHECK(layers.isEmpty() || previous == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Sf2Kit kit;
    QString error;
    if (!ParseSf2Data(Bytes(data, size), &kit, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    QVector<int> chosen;
    FUZZ_CHECK(Sf2ChoosePresets(kit, QString(), &chosen, &error) == !kit.presets.isEmpty());
    int renders = 0;
    for (int p = 0; p < kit.presets.size(); ++p) {
        QVector<Sf2Region> regions;
        QStringList notes;
        if (!Sf2PresetRegions(kit, p, &regions, &notes, &error)) {
            FUZZ_CHECK(!error.isEmpty());
            continue;
        }
        CheckRegions(kit, regions);
        for (int key : Sf2Keys(regions)) {
            FUZZ_CHECK(!Sf2BankName(kit.presets.at(p).name, key).isEmpty());
            QVector<Sf2Layer> layers;
            if (Sf2KeyLayers(kit, regions, key, &layers, &error))
                CheckLayers(kit, layers, &renders);
            else
                FUZZ_CHECK(!error.isEmpty());
        }
    }
    return 0;
}
