#include <QtTest>

#include <cmath>

#include "testmain.h"
#include "testsupport.h"

#include "sf2kit.h"
#include "zkslayout.h"

namespace {

// Generator numbers the tests use.
enum {
    kStart = 0,
    kEnd = 1,
    kStartCoarse = 4,
    kPan = 17,
    kDecay = 36,
    kInstrument = 41,
    kKeys = 43,
    kVels = 44,
    kAttenuation = 48,
    kCoarse = 51,
    kFine = 52,
    kSample = 53,
    kLoopMode = 54,
    kScale = 56,
    kRoot = 58,
};

Sf2TestSample Sample(const QString &name, int frames = 64, int first = 1000)
{
    Sf2TestSample sample;
    sample.name = name;
    sample.pcm = Ramp(frames, first);
    return sample;
}

// Samples "a", "b", ... of 64 frames each.
QVector<Sf2TestSample> Samples(int count)
{
    QVector<Sf2TestSample> samples;
    for (int i = 0; i < count; ++i)
        samples << Sample(QString(QChar('a' + i)), 64, 1000 * (i + 1));
    return samples;
}

// One instrument of `zones` played by one drum preset, "Drums" (128:0),
// whose zone adds `presetGens`.
Sf2TestFont Font(const QVector<Sf2TestSample> &samples, const QVector<QVector<Sf2Gen>> &zones,
                 QVector<Sf2Gen> presetGens = {})
{
    Sf2TestFont font;
    font.samples = samples;
    font.instruments << Sf2TestPart{QStringLiteral("Kit"), zones, 0, 0};
    presetGens << Sf2Gen{kInstrument, 0};
    font.presets << Sf2TestPart{QStringLiteral("Drums"), {presetGens}, 128, 0};
    return font;
}

Sf2Kit Parse(const QByteArray &bytes)
{
    Sf2Kit kit;
    QString error;
    if (!ParseSf2Data(bytes, &kit, &error))
        qWarning("refused: %s", qPrintable(error));
    return kit;
}

QVector<Sf2Region> Regions(const Sf2Kit &kit, int preset = 0, QStringList *notes = nullptr)
{
    QVector<Sf2Region> regions;
    QStringList ignored;
    QString error;
    if (!Sf2PresetRegions(kit, preset, &regions, notes ? notes : &ignored, &error))
        qWarning("preset refused: %s", qPrintable(error));
    return regions;
}

QVector<Sf2Layer> Layers(const Sf2Kit &kit, int key)
{
    QVector<Sf2Layer> layers;
    QString error;
    if (!Sf2KeyLayers(kit, Regions(kit), key, &layers, &error))
        qWarning("key refused: %s", qPrintable(error));
    return layers;
}

// "103:e" for each layer of `key`, the zones' samples joined by "+".
QStringList LayerSummary(const Sf2Kit &kit, int key)
{
    QStringList lines;
    for (const Sf2Layer &layer : Layers(kit, key)) {
        QStringList names;
        for (const Sf2Zone &zone : layer.zones)
            names << zone.sampleName;
        lines << QStringLiteral("%1:%2").arg(layer.threshold).arg(names.join(QLatin1Char('+')));
    }
    return lines;
}

// The only zone `key` plays.
Sf2Zone OnlyZone(const Sf2Kit &kit, int key)
{
    const QVector<Sf2Layer> layers = Layers(kit, key);
    if (layers.size() != 1 || layers.first().zones.size() != 1) {
        qWarning("key %d: not a single zone", key);
        return Sf2Zone();
    }
    return layers.first().zones.first();
}

QVector<double> Render(const Sf2Kit &kit, const Sf2Zone &zone)
{
    QVector<double> samples;
    QString error;
    if (!RenderSf2Zone(kit, zone, &samples, &error))
        qWarning("not rendered: %s", qPrintable(error));
    return samples;
}

QVector<double> Doubles(const QVector<qint16> &pcm, int from = 0, int to = -1)
{
    QVector<double> values;
    for (int i = from; i < (to < 0 ? pcm.size() : to); ++i)
        values << pcm.at(i);
    return values;
}

// The offset of chunk `id`'s data in a file written by Sf2File.
int ChunkData(const QByteArray &file, const char *id)
{
    return file.indexOf(QByteArray(id, 4)) + 8;
}

QByteArray Patched(QByteArray file, const char *chunk, int offset, quint32 value, int width)
{
    WriteLE(file, ChunkData(file, chunk) + offset, value, width);
    return file;
}

} // namespace

Q_DECLARE_METATYPE(Sf2Gen)

class TestSf2Kit : public QObject
{
    Q_OBJECT

private slots:
    void choosesPresets_data();
    void choosesPresets();
    void refusesAnUnknownPreset();
    void layers_data();
    void layers();
    void keysIntersectPresetAndInstrument();
    void pitchAndGain_data();
    void pitchAndGain();
    void rendersFramesBetweenOffsets();
    void rendersAtThePlayedPitch_data();
    void rendersAtThePlayedPitch();
    void cutsZonesToWhatALayerHolds();
    void reads24BitSamples();
    void mixesStereoPairs();
    void refusesBrokenFiles_data();
    void refusesBrokenFiles();
    void refusesAFileCutAnywhere();
    void leavesOutBrokenZones();
    void boundsZones();
    void countsWhatIsIgnored();
    void namesBanks_data();
    void namesBanks();
    void readsFilesLazily();
};

void TestSf2Kit::choosesPresets_data()
{
    QTest::addColumn<bool>("drumBank");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("chosen");
    const QStringList drums = {QStringLiteral("Drums"), QStringLiteral("Power")};
    QTest::newRow("default: the drum bank") << true << QString() << drums;
    QTest::newRow("default without one: all")
        << false << QString() << QStringList{QStringLiteral("Piano"), QStringLiteral("Drums"), QStringLiteral("Power")};
    QTest::newRow("by name, any case") << true << QStringLiteral("power") << QStringList{QStringLiteral("Power")};
    QTest::newRow("by bank and program") << true << QStringLiteral("128:16") << QStringList{QStringLiteral("Power")};
    QTest::newRow("outside the drum bank") << true << QStringLiteral("0:0") << QStringList{QStringLiteral("Piano")};
}

void TestSf2Kit::choosesPresets()
{
    QFETCH(bool, drumBank);
    QFETCH(QString, choice);
    QFETCH(QStringList, chosen);
    Sf2TestFont font = Font(Samples(1), {{{kSample, 0}}});
    const int drum = drumBank ? 128 : 8;
    // In the file out of order: the choice comes by bank and program.
    font.presets = {Sf2TestPart{QStringLiteral("Power"), {{{kInstrument, 0}}}, drum, 16},
                    Sf2TestPart{QStringLiteral("Piano"), {{{kInstrument, 0}}}, 0, 0},
                    Sf2TestPart{QStringLiteral("Drums"), {{{kInstrument, 0}}}, drum, 0}};
    const Sf2Kit kit = Parse(Sf2File(font));
    QVector<int> presets;
    QString error;
    QVERIFY2(Sf2ChoosePresets(kit, choice, &presets, &error), qPrintable(error));
    QStringList names;
    for (int p : presets)
        names << kit.presets.at(p).name;
    QCOMPARE(names, chosen);
}

void TestSf2Kit::refusesAnUnknownPreset()
{
    const Sf2Kit kit = Parse(Sf2File(Font(Samples(1), {{{kSample, 0}}})));
    QVector<int> presets;
    QString error;
    QVERIFY(!Sf2ChoosePresets(kit, QStringLiteral("Jazz"), &presets, &error));
    QCOMPARE(error, QStringLiteral("no preset \"Jazz\"; the file has Drums (128:0)"));
    QVERIFY(!Sf2ChoosePresets(kit, QStringLiteral("128:1"), &presets, &error));
}

void TestSf2Kit::layers_data()
{
    QTest::addColumn<QVector<QVector<Sf2Gen>>>("zones");
    QTest::addColumn<QVector<Sf2Gen>>("presetGens");
    QTest::addColumn<QStringList>("expected");
    const auto zone = [](int sample, int lo, int hi) {
        return QVector<Sf2Gen>{{kVels, Sf2Range(lo, hi)}, {kSample, sample}};
    };
    QTest::newRow("five ranges, loudest first")
        << QVector<QVector<Sf2Gen>>{zone(0, 0, 26), zone(1, 27, 52), zone(2, 53, 77), zone(3, 78, 102), zone(4, 103, 127)}
        << QVector<Sf2Gen>{}
        << QStringList{"103:e", "78:d", "53:c", "27:b", "1:a"};
    QTest::newRow("one range, zones summed")
        << QVector<QVector<Sf2Gen>>{zone(0, 0, 127), zone(1, 0, 127)} << QVector<Sf2Gen>{}
        << QStringList{"1:a+b"};
    QTest::newRow("preset range intersected")
        << QVector<QVector<Sf2Gen>>{zone(0, 0, 63), zone(1, 64, 127), zone(2, 101, 127)}
        << QVector<Sf2Gen>{{kVels, Sf2Range(50, 100)}} << QStringList{"64:b", "1:a"};
    QTest::newRow("softest range starts high: its threshold is 1")
        << QVector<QVector<Sf2Gen>>{zone(0, 40, 90), zone(1, 91, 127)} << QVector<Sf2Gen>{}
        << QStringList{"91:b", "1:a"};
    QTest::newRow("overlapping ranges sound together")
        << QVector<QVector<Sf2Gen>>{zone(0, 0, 127), zone(1, 100, 127)} << QVector<Sf2Gen>{}
        << QStringList{"100:a+b", "1:a"};
    QTest::newRow("global zone's range as the default")
        << QVector<QVector<Sf2Gen>>{{{kVels, Sf2Range(64, 127)}}, {{kSample, 0}}, zone(1, 0, 63)}
        << QVector<Sf2Gen>{} << QStringList{"64:a", "1:b"};
}

void TestSf2Kit::layers()
{
    QFETCH(QVector<QVector<Sf2Gen>>, zones);
    QFETCH(QVector<Sf2Gen>, presetGens);
    QFETCH(QStringList, expected);
    const Sf2Kit kit = Parse(Sf2File(Font(Samples(5), zones, presetGens)));
    QCOMPARE(LayerSummary(kit, 36), expected);
}

void TestSf2Kit::keysIntersectPresetAndInstrument()
{
    // The instrument's global zone gives zone a keys 36..40; zone b has its
    // own, 38..50; the preset plays 35..45 of them.
    const Sf2Kit kit = Parse(Sf2File(Font(Samples(2),
                                          {{{kKeys, Sf2Range(36, 40)}},
                                           {{kSample, 0}},
                                           {{kKeys, Sf2Range(38, 50)}, {kSample, 1}}},
                                          {{kKeys, Sf2Range(35, 45)}})));
    const QVector<int> expected = {36, 37, 38, 39, 40, 41, 42, 43, 44, 45};
    QCOMPARE(Sf2Keys(Regions(kit)), expected);
    QCOMPARE(LayerSummary(kit, 36), QStringList{"1:a"});
    QCOMPARE(LayerSummary(kit, 39), QStringList{"1:a+b"});
    QCOMPARE(LayerSummary(kit, 42), QStringList{"1:b"});
    QVERIFY(Layers(kit, 46).isEmpty());
}

void TestSf2Kit::pitchAndGain_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QVector<Sf2Gen>>("globalGens");
    QTest::addColumn<QVector<Sf2Gen>>("zoneGens");
    QTest::addColumn<QVector<Sf2Gen>>("presetGens");
    QTest::addColumn<int>("samplePitch");
    QTest::addColumn<int>("correction");
    QTest::addColumn<double>("semitones");
    QTest::addColumn<double>("centibels");
    using Gens = QVector<Sf2Gen>;
    QTest::newRow("at the sample's pitch") << 60 << Gens{} << Gens{} << Gens{} << 60 << 0 << 0.0 << 0.0;
    QTest::newRow("a fifth below") << 53 << Gens{} << Gens{} << Gens{} << 60 << 0 << -7.0 << 0.0;
    QTest::newRow("root key overridden") << 60 << Gens{} << Gens{{kRoot, 72}} << Gens{} << 60 << 0 << -12.0 << 0.0;
    QTest::newRow("unpitched sample: key 60") << 62 << Gens{} << Gens{} << Gens{} << 255 << 0 << 2.0 << 0.0;
    QTest::newRow("scale tuning") << 72 << Gens{} << Gens{{kScale, 50}} << Gens{} << 60 << 0 << 6.0 << 0.0;
    QTest::newRow("preset's scale tuning added") << 72 << Gens{} << Gens{} << Gens{{kScale, -100}} << 60 << 0 << 0.0 << 0.0;
    QTest::newRow("tunes added, correction too")
        << 60 << Gens{} << Gens{{kCoarse, 2}, {kFine, 50}} << Gens{{kCoarse, -1}, {kFine, -25}} << 60 << 25 << 1.5 << 0.0;
    QTest::newRow("global zone as default") << 60 << Gens{{kCoarse, 12}} << Gens{} << Gens{} << 60 << 0 << 12.0 << 0.0;
    QTest::newRow("zone over global zone") << 60 << Gens{{kCoarse, 12}} << Gens{{kCoarse, 1}} << Gens{} << 60 << 0 << 1.0 << 0.0;
    QTest::newRow("root key in a preset: ignored") << 60 << Gens{} << Gens{} << Gens{{kRoot, 72}} << 60 << 0 << 0.0 << 0.0;
    QTest::newRow("attenuations added")
        << 60 << Gens{{kAttenuation, 100}} << Gens{{kAttenuation, 60}} << Gens{{kAttenuation, 60}} << 60 << 0 << 0.0 << 120.0;
    QTest::newRow("scale tuning within 0..1200") << 61 << Gens{} << Gens{{kScale, 30000}} << Gens{{kScale, 30000}} << 60 << 0 << 12.0 << 0.0;
    QTest::newRow("coarse tune within 120") << 60 << Gens{} << Gens{{kCoarse, -30000}} << Gens{} << 60 << 0 << -120.0 << 0.0;
    QTest::newRow("fine tune within 99") << 60 << Gens{} << Gens{{kFine, 150}} << Gens{} << 60 << 0 << 0.99 << 0.0;
    QTest::newRow("negative attenuation: none") << 60 << Gens{} << Gens{{kAttenuation, -50}} << Gens{} << 60 << 0 << 0.0 << 0.0;
}

void TestSf2Kit::pitchAndGain()
{
    QFETCH(int, key);
    QFETCH(QVector<Sf2Gen>, globalGens);
    QFETCH(QVector<Sf2Gen>, zoneGens);
    QFETCH(QVector<Sf2Gen>, presetGens);
    QFETCH(int, samplePitch);
    QFETCH(int, correction);
    QFETCH(double, semitones);
    QFETCH(double, centibels);
    QVector<Sf2TestSample> samples = Samples(1);
    samples[0].pitch = samplePitch;
    samples[0].correction = correction;
    QVector<QVector<Sf2Gen>> zones;
    if (!globalGens.isEmpty())
        zones << globalGens;
    zones << (zoneGens << Sf2Gen{kSample, 0});
    const Sf2Kit kit = Parse(Sf2File(Font(samples, zones, presetGens)));
    const Sf2Zone zone = OnlyZone(kit, key);
    QVERIFY(qAbs(zone.pitchRatio - std::pow(2.0, semitones / 12)) < 1e-9);
    QVERIFY(qAbs(zone.gain - std::pow(10.0, -centibels / 200)) < 1e-9);
}

void TestSf2Kit::rendersFramesBetweenOffsets()
{
    // At the bank's rate and the sample's pitch the frames come as they are,
    // from the start offset to the end offset, times the gain.
    const QVector<Sf2TestSample> samples = Samples(1);
    const Sf2Kit kit = Parse(Sf2File(Font(samples, {{{kStart, 10}, {kEnd, -20}, {kSample, 0}}})));
    QCOMPARE(Render(kit, OnlyZone(kit, 60)), Doubles(samples[0].pcm, 10, 44));

    // Coarse offsets count 32768 frames.
    Sf2TestSample longer = Sample(QStringLiteral("long"), 32800, -16000);
    const Sf2Kit coarse = Parse(Sf2File(Font({longer}, {{{kStartCoarse, 1}, {kSample, 0}}})));
    QCOMPARE(Render(coarse, OnlyZone(coarse, 60)), Doubles(longer.pcm, 32768));

    Sf2Zone quiet = OnlyZone(kit, 60);
    quiet.gain = 0.5;
    QCOMPARE(Render(kit, quiet).first(), samples[0].pcm.at(10) * 0.5);
}

void TestSf2Kit::rendersAtThePlayedPitch_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("key");
    QTest::addColumn<double>("stretch");
    QTest::newRow("half the bank's rate") << 22050 << 60 << 2.0;
    QTest::newRow("a fifth below the root") << 44100 << 53 << 1.0 / std::pow(2.0, -7.0 / 12);
    QTest::newRow("an octave above") << 44100 << 72 << 0.5;
    QTest::newRow("an octave above at 88.2 kHz") << 88200 << 72 << 0.25;
}

void TestSf2Kit::rendersAtThePlayedPitch()
{
    QFETCH(int, rate);
    QFETCH(int, key);
    QFETCH(double, stretch);
    Sf2TestSample sample;
    sample.name = QStringLiteral("tone");
    sample.pcm = Sine1k(8000, -6);
    sample.rate = rate;
    const Sf2Kit kit = Parse(Sf2File(Font({sample}, {{{kSample, 0}}})));
    const QVector<double> rendered = Render(kit, OnlyZone(kit, key));
    QVERIFY2(qAbs(rendered.size() - 8000 * stretch) <= 1, qPrintable(QString::number(rendered.size())));
    // The tone keeps its level: only its pitch moved.
    double peak = 0;
    for (double value : rendered)
        peak = std::max(peak, std::abs(value));
    QVERIFY2(qAbs(peak - 16384) < 300, qPrintable(QString::number(peak)));
}

void TestSf2Kit::cutsZonesToWhatALayerHolds()
{
    // At twice the bank's rate, twice as long as the largest layer and some:
    // only what a layer holds comes out, resampled (at its pitch) or not (an
    // octave down).
    const int longest = kLargestLayerSize / 2;
    Sf2TestSample sample = Sample(QStringLiteral("long"), 2 * longest + 1000);
    sample.rate = 2 * kBankRate;
    const Sf2Kit kit = Parse(Sf2File(Font({sample}, {{{kSample, 0}}})));
    QCOMPARE(Render(kit, OnlyZone(kit, 60)).size(), longest);
    QCOMPARE(Render(kit, OnlyZone(kit, 48)).size(), longest);
}

void TestSf2Kit::reads24BitSamples()
{
    QVector<Sf2TestSample> samples = Samples(1);
    samples[0].low = QByteArray(64, char(0x80)); // half a 16-bit step up
    Sf2TestFont font = Font(samples, {{{kSample, 0}}});
    const Sf2Kit kit = Parse(Sf2File(font));
    QCOMPARE(Render(kit, OnlyZone(kit, 60)).first(), samples[0].pcm.first() + 0.5);

    // Before version 2.04 the low bytes are not part of the format.
    font.minor = 1;
    const Sf2Kit older = Parse(Sf2File(font));
    QCOMPARE(older.notes.size(), 1);
    QCOMPARE(Render(older, OnlyZone(older, 60)).first(), double(samples[0].pcm.first()));
}

void TestSf2Kit::mixesStereoPairs()
{
    QVector<Sf2TestSample> samples = Samples(3);
    samples[0].type = kSf2Left;
    samples[0].link = 1;
    samples[1].type = kSf2Right;
    samples[1].link = 0;
    // Key 36 plays the pair, key 37 the right half alone, every key at the
    // samples' own pitch.
    const Sf2Kit kit = Parse(Sf2File(Font(samples,
                                          {{{kScale, 0}},
                                           {{kKeys, Sf2Range(36, 36)}, {kSample, 0}},
                                           {{kKeys, Sf2Range(36, 37)}, {kSample, 1}},
                                           {{kKeys, Sf2Range(36, 36)}, {kSample, 2}}})));
    const QVector<double> left = Doubles(samples[0].pcm), right = Doubles(samples[1].pcm),
                          mono = Doubles(samples[2].pcm);
    const auto layer = [&](int key, bool leftOnly) {
        QVector<double> sum;
        QStringList notes;
        if (!RenderSf2Layer(kit, Layers(kit, key).first(), leftOnly, &sum, &notes))
            qWarning("nothing rendered: %s", qPrintable(notes.join(QLatin1Char(' '))));
        return sum;
    };
    QVector<double> mixed, leftAlone;
    for (int i = 0; i < 64; ++i) {
        mixed << (left.at(i) + right.at(i)) / 2 + mono.at(i);
        leftAlone << left.at(i) + mono.at(i);
    }
    QCOMPARE(layer(36, false), mixed);
    QCOMPARE(layer(36, true), leftAlone);
    QCOMPARE(layer(37, false), right);
    QCOMPARE(layer(37, true), right);
}

void TestSf2Kit::refusesBrokenFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    const Sf2TestFont good = Font(Samples(2), {{{kSample, 0}}, {{kSample, 1}}});
    const QByteArray file = Sf2File(good);
    const auto withSample = [&](const std::function<void(Sf2TestSample &)> &change) {
        Sf2TestFont font = good;
        change(font.samples[1]);
        return Sf2File(font);
    };
    QTest::newRow("not a RIFF file") << QByteArray("<region> sample=kick.wav") << "not a SoundFont: no RIFF sfbk header";
    QTest::newRow("cut short") << file.left(file.size() - 30)
                               << QStringLiteral("the file is cut short: it should hold %1 bytes, it holds %2")
                                      .arg(file.size()).arg(file.size() - 30);
    QTest::newRow("sample past the data") << withSample([](Sf2TestSample &s) { s.end = 100000; })
                                          << "sample 1 (b) ends past the sample data";
    QTest::newRow("sample ends before it starts") << withSample([](Sf2TestSample &s) { s.end = 2; })
                                                  << "sample 1 (b) ends before it starts";
    QTest::newRow("loop past the data") << withSample([](Sf2TestSample &s) { s.loopEnd = 100000; })
                                        << "sample 1 (b)'s loop lies past the sample data";
    QTest::newRow("link to nothing") << withSample([](Sf2TestSample &s) { s.type = kSf2Left; s.link = 9; })
                                     << "sample 1 (b) links to sample 9, which the file does not hold";
    QTest::newRow("compressed sample") << withSample([](Sf2TestSample &s) { s.type = kSf2Mono | kSf2Compressed; })
                                       << "sample 1 (b) is compressed (a SoundFont 3 file), which is not read";
    Sf2TestFont three = good;
    three.major = 3;
    QTest::newRow("version 3") << Sf2File(three) << "a SoundFont 3 file: its compressed samples are not read";
    // Two instrument zones of two generators each, then the closing record.
    QTest::newRow("generators past the list") << Patched(file, "ibag", 8, 99, 2)
                                              << "instrument 0 (Kit): a zone's generators go past the generator list";
    QTest::newRow("generators backwards") << Patched(file, "ibag", 4, 3, 2)
                                          << "instrument 0 (Kit): a zone's generators or modulators run backwards";
    QTest::newRow("modulators past the list") << Patched(file, "pbag", 6, 5, 2)
                                              << "preset 0 (Drums): a zone's modulators go past the modulator list";
    QTest::newRow("zones past the list") << Patched(file, "phdr", 38 + 24, 7, 2)
                                         << "preset 0 (Drums): its zones go past the zone list";
    QTest::newRow("zones backwards") << Patched(file, "inst", 20, 3, 2)
                                     << "instrument 0 (Kit): its zones run backwards";
    QTest::newRow("chunk past its list") << Patched(file, "igen", -4, 4000, 4)
                                         << "the igen chunk runs past the end of the pdta list: the file is cut short or broken";
    // An odd size keeps the next chunk where it was, after the pad byte.
    QTest::newRow("records of the wrong size") << Patched(file, "phdr", -4, 38 * 2 - 1, 4)
                                               << "the phdr chunk's size (75) is not a whole number of 38-byte records";
    QByteArray noPresets = file;
    noPresets.replace("pdta", "pdtx");
    QTest::newRow("no preset data") << noPresets << "not a SoundFont: it has no pdta list";
    QByteArray noSampleHeaders = file;
    noSampleHeaders.replace("shdr", "shdx");
    QTest::newRow("no sample headers") << noSampleHeaders << "not a SoundFont: its preset data has no shdr chunk";
}

void TestSf2Kit::refusesBrokenFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    Sf2Kit kit;
    QString reason;
    QVERIFY(!ParseSf2Data(file, &kit, &reason));
    QCOMPARE(reason, error);
}

void TestSf2Kit::refusesAFileCutAnywhere()
{
    const QByteArray file = Sf2File(Font(Samples(2), {{{kPan, 10}, {kSample, 0}}, {{kSample, 1}}}));
    QVERIFY(!Parse(file).presets.isEmpty());
    for (int size = 0; size < file.size(); ++size) {
        Sf2Kit kit;
        QString error;
        QVERIFY2(!ParseSf2Data(file.left(size), &kit, &error), qPrintable(QString::number(size)));
        QVERIFY(!error.isEmpty());
    }
}

void TestSf2Kit::leavesOutBrokenZones()
{
    QVector<Sf2TestSample> samples = Samples(3);
    samples[1].type = kSf2Mono | kSf2Rom;
    Sf2TestFont font = Font(samples,
                            {{{kSample, 0}},
                             {{kSample, 7}},
                             {{kSample, 1}},
                             {{kEnd, 100}, {kSample, 2}},
                             {{kPan, 0}}});
    font.presets.first().zones << QVector<Sf2Gen>{{kInstrument, 5}};
    font.presets << Sf2TestPart{QStringLiteral("Empty"), {}, 128, 1};
    const Sf2Kit kit = Parse(Sf2File(font));
    const QStringList expected = {
        "instrument 0 (Kit): a zone names sample 7, which the file does not hold; left out",
        "instrument 0 (Kit): a zone names no sample, left out",
        "preset 0 (Drums): a zone names instrument 5, which the file does not hold; left out",
        "preset 1 (Empty) has no zones"};
    QCOMPARE(kit.notes, expected);
    QStringList notes;
    const QVector<Sf2Region> regions = Regions(kit, 0, &notes);
    const QStringList zoneNotes = {"Kit, sample b: a ROM sample, which the file does not hold; left out",
                                   "Kit, sample c: its offsets leave no frames within the sample data; left out"};
    QCOMPARE(notes, zoneNotes);
    QCOMPARE(regions.size(), 1);
    QCOMPARE(LayerSummary(kit, 36), QStringList{"1:a"});
    QVERIFY(Sf2Keys(Regions(kit, 1)).isEmpty());
}

void TestSf2Kit::boundsZones()
{
    // More zones on one key than a layer could sum leave the key out...
    QVector<QVector<Sf2Gen>> zones;
    for (int i = 0; i < kMaxSf2ZonesPerKey + 1; ++i)
        zones << QVector<Sf2Gen>{{kKeys, Sf2Range(36, 36)}, {kSample, 0}};
    zones << QVector<Sf2Gen>{{kKeys, Sf2Range(38, 38)}, {kSample, 0}};
    const Sf2Kit crowded = Parse(Sf2File(Font(Samples(1), zones)));
    QVector<Sf2Layer> layers;
    QString error;
    QVERIFY(!Sf2KeyLayers(crowded, Regions(crowded), 36, &layers, &error));
    QCOMPARE(error, QStringLiteral("key 36 is played by 257 zones, more than 256"));
    QVERIFY(Sf2KeyLayers(crowded, Regions(crowded), 38, &layers, &error));

    // ... and a preset whose zones multiply past what is read is refused.
    Sf2TestFont font = Font(Samples(1), QVector<QVector<Sf2Gen>>(200, {{kSample, 0}}));
    font.presets.first().zones = QVector<QVector<Sf2Gen>>(100, {{kInstrument, 0}});
    const Sf2Kit many = Parse(Sf2File(font));
    QVector<Sf2Region> regions;
    QStringList notes;
    QVERIFY(!Sf2PresetRegions(many, 0, &regions, &notes, &error));
    QCOMPARE(error, QStringLiteral("preset Drums has more than 16384 zones"));
    // Even when their key ranges never meet: finding that out takes as long.
    font.instruments.first().zones = QVector<QVector<Sf2Gen>>(200, {{kKeys, Sf2Range(100, 127)}, {kSample, 0}});
    font.presets.first().zones = QVector<QVector<Sf2Gen>>(100, {{kKeys, Sf2Range(0, 10)}, {kInstrument, 0}});
    QVERIFY(!Sf2PresetRegions(Parse(Sf2File(font)), 0, &regions, &notes, &error));
    QCOMPARE(error, QStringLiteral("preset Drums has more than 16384 zones"));

    // A file of many tiny chunks is not walked to its end.
    QByteArray chunks = Sf2File(font);
    for (int i = 0; i < 300; ++i)
        chunks.append("JUNK\0\0\0\0", 8);
    WriteLE(chunks, 4, quint32(chunks.size() - 8), 4);
    Sf2Kit kit;
    QVERIFY(!ParseSf2Data(chunks, &kit, &error));
    QCOMPARE(error, QStringLiteral("the file holds more than 256 chunks"));
}

void TestSf2Kit::countsWhatIsIgnored()
{
    Sf2TestFont font = Font(Samples(1), {{{kPan, 10}, {kDecay, 100}, {kLoopMode, 1}, {kSample, 0}}},
                            {{kStart, 4}, {kPan, 5}});
    font.modulatorsPerZone = 2;
    const Sf2Kit kit = Parse(Sf2File(font));
    QCOMPARE(Sf2IgnoredLine(kit),
             QString::fromUtf8("ignored: loops \u00d71, modulators \u00d74, pan \u00d72, "
                               "sample settings in presets \u00d71, volume envelopes \u00d71"));
    QCOMPARE(Render(kit, OnlyZone(kit, 60)).size(), 64);
    QCOMPARE(Sf2IgnoredLine(Parse(Sf2File(Font(Samples(1), {{{kSample, 0}}})))), QString());
}

void TestSf2Kit::namesBanks_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("first drum") << 35 << "Kit - 35 Acoustic Bass Drum";
    QTest::newRow("bass drum") << 36 << "Kit - 36 Bass Drum 1";
    QTest::newRow("hi-hat") << 42 << "Kit - 42 Closed Hi-Hat";
    QTest::newRow("last drum") << 81 << "Kit - 81 Open Triangle";
    QTest::newRow("below the drums") << 34 << "Kit - a#1 (34)";
    QTest::newRow("above the drums") << 82 << "Kit - a#5 (82)";
}

void TestSf2Kit::namesBanks()
{
    QFETCH(int, key);
    QFETCH(QString, name);
    QCOMPARE(Sf2BankName(QStringLiteral("Kit"), key), name);
}

void TestSf2Kit::readsFilesLazily()
{
    QTemporaryDir folder;
    const QVector<Sf2TestSample> samples = Samples(2);
    const QByteArray bytes = Sf2File(Font(samples, {{{kSample, 1}}}));
    const QString path = folder.filePath(QStringLiteral("kit.sf2"));
    QVERIFY(WriteBytes(path, bytes));
    Sf2Kit kit;
    QString error;
    QVERIFY2(ReadSf2Kit(path, &kit, &error), qPrintable(error));
    QCOMPARE(kit.name, QStringLiteral("Test Font"));
    QVERIFY(kit.bytes.isEmpty());
    QCOMPARE(Render(kit, OnlyZone(kit, 60)), Doubles(samples[1].pcm));

    // The samples are read when rendered: a file cut since then is reported.
    QVERIFY(QFile::resize(path, kit.smplOffset + 10));
    QVector<double> rendered;
    QVERIFY(!RenderSf2Zone(kit, OnlyZone(kit, 60), &rendered, &error));
    QCOMPARE(error, QStringLiteral("sample b: the file changed since it was read"));

    QVERIFY(!ReadSf2Kit(folder.filePath(QStringLiteral("none.sf2")), &kit, &error));
    QCOMPARE(error, QStringLiteral("no such file"));
    QVERIFY(!ReadSf2Kit(folder.path(), &kit, &error));
    QCOMPARE(error, QStringLiteral("not a regular file"));
    // Sparse: takes no room on disk.
    QVERIFY(QFile::resize(path, kMaxSf2FileBytes + 1));
    QVERIFY(!ReadSf2Kit(path, &kit, &error));
    QCOMPARE(error, QStringLiteral("larger than %1 bytes").arg(kMaxSf2FileBytes));
}

ZK_TEST(TestSf2Kit)
#include "tst_sf2kit.moc"
