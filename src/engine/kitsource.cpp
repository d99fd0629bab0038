#include "kitsource.h"

#include <QHash>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <cmath>

#include "cardnames.h"
#include "drumkit.h"
#include "kitplan.h"
#include "sf2kit.h"
#include "sfzkit.h"
#include "soundinfo.h"

namespace {

bool IsCancelled(const std::atomic<bool> *cancelled)
{
    return cancelled && *cancelled;
}

// The seconds the longest of `samples` lasts, from their headers.
double LongestSeconds(const QStringList &samples)
{
    double seconds = 0;
    for (const QString &sample : samples) {
        SoundInfo info;
        if (ReadSoundInfo(sample, &info) && info.rate > 0)
            seconds = std::max(seconds, double(info.frames) / info.rate);
    }
    return seconds;
}

// A Hydrogen kit: its instruments, each layer one sample with its range,
// the instrument's gain times the layer's.
class HydrogenSource : public KitSource
{
public:
    bool Read(const QString &path, const QString &unpackFolder, QString *error, const std::atomic<bool> *cancelled)
    {
        if (!ReadDrumkit(path, unpackFolder, &kit, error, cancelled))
            return false;
        QStringList names;
        for (const KitInstrument &instrument : std::as_const(kit.instruments)) {
            // A place the kit left unnamed is named by its number.
            names << (instrument.name.trimmed().isEmpty() ? QStringLiteral("instrument %1").arg(names.size() + 1)
                                                          : instrument.name);
        }
        SetNames(kit.name, names);
        return true;
    }

    bool NamesNoSample(int index) const override
    {
        const KitInstrument &instrument = kit.instruments.at(index);
        return instrument.layers.isEmpty() && instrument.problems.isEmpty();
    }

    InstrumentSource Source(int index) const override
    {
        InstrumentSource source;
        const KitInstrument &instrument = kit.instruments.at(index);
        source.notes = instrument.problems;
        for (const KitLayer &layer : instrument.layers) {
            LayerSource from;
            from.parts << LayerPart{layer.path, layer.gain * instrument.gain, 0, -1};
            from.min = layer.min;
            from.max = layer.max;
            from.pitch = layer.pitch;
            source.layers << from;
        }
        return source;
    }

protected:
    KitInstrumentSummary Summary(int index) const override
    {
        const KitInstrument &instrument = kit.instruments.at(index);
        QStringList samples;
        for (const KitLayer &layer : instrument.layers)
            samples << layer.path;
        KitInstrumentSummary summary;
        summary.layers = int(instrument.layers.size());
        summary.seconds = LongestSeconds(samples);
        return summary;
    }

private:
    Drumkit kit;
};

// An SFZ kit: a bank per key with an attack region, its velocity bands the
// layers, their regions the parts.
class SfzSource : public KitSource
{
public:
    bool Read(const QString &path, QString *error, const std::atomic<bool> *cancelled)
    {
        if (!ReadSfzKit(path, &kit, error, cancelled))
            return false;
        keys = SfzKeys(kit);
        QStringList names;
        for (int key : std::as_const(keys))
            names << SfzKeyName(kit, key);
        SetNames(kit.name, names);
        return true;
    }

    QStringList LeftOut() const override
    {
        QStringList notes;
        const QString ignored = SfzIgnoredLine(kit);
        if (!ignored.isEmpty())
            notes << ignored;
        if (kit.releaseRegions > 0)
            notes << QStringLiteral("release: %1 region(s) left out").arg(kit.releaseRegions);
        if (kit.unplayedRegions > 0)
            notes << QStringLiteral("no key or velocity in range: %1 region(s) left out").arg(kit.unplayedRegions);
        return notes;
    }

    QString NoInstrumentsReason() const override
    {
        return QStringLiteral("the kit has no key with an attack region");
    }

    InstrumentSource Source(int index) const override
    {
        InstrumentSource source;
        int leftOut = 0;
        const QVector<SfzBand> bands = SfzKeyBands(kit, keys.at(index), &leftOut);
        if (leftOut > 0)
            source.notes << QStringLiteral("%1 round-robin region(s) left out").arg(leftOut);
        for (int b = 0; b < bands.size(); ++b) {
            // The band as a layer playing its velocities, so the plan gives it
            // its lowest velocity as threshold.
            LayerSource layer;
            for (const SfzRegion &region : bands.at(b).regions)
                layer.parts << LayerPart{region.sample, region.Gain(), region.offset, region.end};
            layer.min = double(bands.at(b).threshold) / kHitStrengths;
            layer.max = b + 1 < bands.size() ? double(bands.at(b + 1).threshold - 1) / kHitStrengths : 1.0;
            source.layers << layer;
        }
        return source;
    }

protected:
    KitInstrumentSummary Summary(int index) const override
    {
        const QVector<SfzBand> bands = SfzKeyBands(kit, keys.at(index), nullptr);
        QStringList samples;
        for (const SfzBand &band : bands) {
            for (const SfzRegion &region : band.regions)
                samples << region.sample;
        }
        samples.removeDuplicates();
        KitInstrumentSummary summary;
        summary.layers = int(bands.size());
        summary.seconds = LongestSeconds(samples);
        return summary;
    }

private:
    SfzKit kit;
    QVector<int> keys; // one per instrument
};

// A SoundFont key's layer sources, and what each part renders: its zone
// (or stereo pair) at unit gain, the part carrying the zone's gain so the
// whole key is scaled together against clipping. A part is named by its
// sample, numbered when the key renders that sample two ways.
InstrumentSource Sf2KeySource(const Sf2Kit &font, const QVector<Sf2Region> &regions, int key,
                              QHash<QString, Sf2Layer> *renders)
{
    InstrumentSource source;
    QVector<Sf2Layer> layers;
    QString error;
    if (!Sf2KeyLayers(font, regions, key, &layers, &error)) {
        source.notes << error;
        return source;
    }
    // Parts that render the same sound share a name, so it is rendered once.
    QHash<QString, QString> named;
    QSet<QString> taken;
    for (int l = 0; l < layers.size(); ++l) {
        const Sf2Layer &layer = layers.at(l);
        LayerSource from;
        from.min = double(layer.threshold) / kHitStrengths;
        from.max = l > 0 ? double(layers.at(l - 1).threshold - 1) / kHitStrengths : 1.0;
        QVector<bool> used(layer.zones.size(), false);
        for (int z = 0; z < layer.zones.size(); ++z) {
            if (used.at(z))
                continue;
            used[z] = true;
            Sf2Layer render;
            Sf2Zone zone = layer.zones.at(z);
            const double gain = zone.gain;
            zone.gain = 1;
            render.zones << zone;
            if (zone.paired) {
                const int partner = font.samples.at(zone.sample).link;
                for (int other = z + 1; other < layer.zones.size(); ++other) {
                    const Sf2Zone &half = layer.zones.at(other);
                    if (!used.at(other) && half.paired && half.sample == partner) {
                        used[other] = true;
                        render.zones << half;
                        render.zones.last().gain = gain > 0 ? half.gain / gain : 1;
                        break;
                    }
                }
            }
            QString identity;
            for (const Sf2Zone &part : std::as_const(render.zones))
                identity += QStringLiteral("%1:%2:%3:%4:%5:%6;")
                                .arg(part.sample)
                                .arg(part.start)
                                .arg(part.end)
                                .arg(part.pitchRatio, 0, 'g', 17)
                                .arg(part.gain, 0, 'g', 17)
                                .arg(int(part.paired));
            QString name = named.value(identity);
            if (name.isEmpty()) {
                // A sample's name is no path: a slash in it would cut the
                // layer's name, taken from the part's last path part.
                QString base = zone.sampleName;
                base.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
                if (base.trimmed().isEmpty())
                    base = QStringLiteral("sample %1").arg(zone.sample);
                name = base;
                for (int n = 2; taken.contains(name); ++n)
                    name = QStringLiteral("%1 (%2)").arg(base).arg(n);
                taken.insert(name);
                named.insert(identity, name);
                renders->insert(name, render);
            }
            from.parts << LayerPart{name, gain, 0, -1};
        }
        source.layers << from;
    }
    return source;
}

// Renders the parts Sf2KeySource named, at the bank's rate.
SampleDecoder Sf2Decoder(const Sf2Kit &kit, const QHash<QString, Sf2Layer> &renders, bool leftOnly)
{
    return [&kit, renders, leftOnly](const QString &sample, qint64, DecodedSample *decoded, QString *reason) {
        QVector<double> samples;
        QStringList notes;
        if (!RenderSf2Layer(kit, renders.value(sample), leftOnly, &samples, &notes)) {
            *reason = notes.isEmpty() ? QStringLiteral("nothing to render") : notes.join(QStringLiteral("; "));
            return false;
        }
        QByteArray pcm(samples.size() * 2, Qt::Uninitialized);
        for (int i = 0; i < samples.size(); ++i) {
            const qint16 value = qint16(std::clamp(std::lround(samples.at(i)), -32768L, 32767L));
            qToLittleEndian(value, pcm.data() + 2 * i);
        }
        decoded->sound = PcmSound{1, quint32(kBankRate), pcm};
        decoded->sourceRate = kBankRate;
        decoded->mixedToMono = renders.value(sample).zones.size() > 1;
        return true;
    };
}


// A SoundFont: a bank per key each chosen preset plays, its velocity
// layers rendered from the font's own samples.
class Sf2Source : public KitSource
{
public:
    bool Read(const QString &path, const QString &preset, QString *error, const std::atomic<bool> *cancelled)
    {
        if (!ReadSf2Kit(path, &font, error) || !Sf2ChoosePresets(font, preset, &presets, error))
            return false;
        QStringList names;
        for (int p = 0; p < presets.size(); ++p) {
            if (IsCancelled(cancelled))
                return false;
            const Sf2Preset &chosen = font.presets.at(presets.at(p));
            QVector<Sf2Region> regions;
            QString why;
            // A preset that can't be read is left out; the others still make banks.
            if (!Sf2PresetRegions(font, presets.at(p), &regions, &font.notes, &why))
                font.notes << QStringLiteral("preset %1: %2; left out").arg(chosen.name, why);
            presetRegions << regions;
            for (int key : Sf2Keys(regions)) {
                keys << key;
                presetOf << p;
                names << Sf2BankName(chosen.name, key);
            }
        }
        // The preset names the bank; the file's name would only repeat it.
        SetNames(font.name, names, true);
        return true;
    }

    QStringList LeftOut() const override
    {
        QStringList notes;
        const QString ignored = Sf2IgnoredLine(font);
        if (!ignored.isEmpty())
            notes << ignored;
        return notes << font.notes;
    }

    QStringList Notes() const override
    {
        QStringList notes = LeftOut();
        for (int p = 0; p < presets.size(); ++p) {
            QStringList played;
            for (int i = 0; i < keys.size(); ++i) {
                if (presetOf.at(i) == p)
                    played << QString::number(keys.at(i));
            }
            notes << QStringLiteral("preset %1: %2")
                         .arg(Sf2PresetLabel(font.presets.at(presets.at(p))),
                              played.isEmpty() ? QStringLiteral("no keys")
                                               : QStringLiteral("keys ") + played.join(QStringLiteral(", ")));
        }
        return notes;
    }

    QString NoInstrumentsReason() const override { return QStringLiteral("the chosen presets play no key"); }

    InstrumentSource Source(int index) const override
    {
        QHash<QString, Sf2Layer> renders;
        return Sf2KeySource(font, presetRegions.at(presetOf.at(index)), keys.at(index), &renders);
    }

protected:
    KitInstrumentSummary Summary(int index) const override
    {
        KitInstrumentSummary summary;
        const int preset = presetOf.at(index);
        QVector<Sf2Layer> layers;
        QString error;
        if (Sf2KeyLayers(font, presetRegions.at(preset), keys.at(index), &layers, &error)) {
            for (const Sf2Layer &layer : std::as_const(layers)) {
                for (const Sf2Zone &zone : layer.zones) {
                    if (zone.rate > 0 && zone.pitchRatio > 0)
                        summary.seconds
                            = std::max(summary.seconds, double(zone.end - zone.start) / (zone.rate * zone.pitchRatio));
                }
            }
        }
        summary.layers = int(layers.size());
        summary.group = Sf2PresetLabel(font.presets.at(presets.at(preset)));
        return summary;
    }

    // The zones rendered at their pitch (RenderSf2Layer), a stereo pair
    // mixed or its left half kept as `options.leftOnly` says.
    SampleDecoder Decoder(int index, const QString &, const KitImportOptions &options,
                          const std::atomic<bool> *) const override
    {
        QHash<QString, Sf2Layer> renders;
        Sf2KeySource(font, presetRegions.at(presetOf.at(index)), keys.at(index), &renders);
        return Sf2Decoder(font, renders, options.leftOnly);
    }

private:
    Sf2Kit font;
    QVector<int> presets; // the chosen ones, as indexes of font.presets
    QVector<QVector<Sf2Region>> presetRegions; // the regions of each
    QVector<int> keys;     // one per instrument
    QVector<int> presetOf; // for each instrument, its place in `presets`
};

} // namespace

QVector<KitInstrumentSummary> KitSource::Summaries() const
{
    QVector<KitInstrumentSummary> summaries;
    for (int i = 0; i < instruments.size(); ++i) {
        KitInstrumentSummary summary = Summary(i);
        summary.name = instruments.at(i);
        // A place that names no sample is listed, greyed, so that the list
        // is the kit's own.
        if (NamesNoSample(i))
            summary.reason = QStringLiteral("no sample");
        summary.bankLayers = PlannedBankLayers(i);
        summaries << summary;
    }
    return summaries;
}

int KitSource::PlannedBankLayers(int index) const
{
    return PlannedLayerCount(Source(index));
}

PreparedInstrument KitSource::Prepare(int index, const QString &workFolder, const KitImportOptions &options,
                                      const std::atomic<bool> *cancelled) const
{
    if (NamesNoSample(index)) {
        PreparedInstrument prepared;
        prepared.empty = true;
        prepared.failure = QStringLiteral("names no sample");
        return prepared;
    }
    return PrepareInstrument(Source(index), workFolder, bankNames.at(index), options,
                             Decoder(index, workFolder, options, cancelled), cancelled);
}

void KitSource::SetNames(const QString &name, const QStringList &instrumentNames, bool alone)
{
    kitName = name;
    instruments = instrumentNames;
    bankNames = alone ? DistinctCardSafeFileNames(instrumentNames, QStringLiteral(".zks"))
                      : KitBankFileNames(name, instrumentNames);
}

SampleDecoder KitSource::Decoder(int, const QString &workFolder, const KitImportOptions &,
                                 const std::atomic<bool> *cancelled) const
{
    return FileDecoder(workFolder, cancelled);
}

bool KitHasPresets(const QString &path)
{
    return path.endsWith(QLatin1String(".sf2"), Qt::CaseInsensitive);
}

std::unique_ptr<KitSource> OpenKitSource(const QString &path, const QString &unpackFolder, QString *error,
                                         const std::atomic<bool> *cancelled, const QString &preset)
{
    if (KitHasPresets(path)) {
        auto font = std::make_unique<Sf2Source>();
        if (!font->Read(path, preset, error, cancelled))
            return nullptr;
        return font;
    }
    if (path.endsWith(QLatin1String(".sfz"), Qt::CaseInsensitive)) {
        auto sfz = std::make_unique<SfzSource>();
        if (!sfz->Read(path, error, cancelled))
            return nullptr;
        return sfz;
    }
    auto hydrogen = std::make_unique<HydrogenSource>();
    if (!hydrogen->Read(path, unpackFolder, error, cancelled))
        return nullptr;
    return hydrogen;
}
