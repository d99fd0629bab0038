#include <QtTest>

#include <QTemporaryDir>

#include "kitimport.h"
#include "kitsource.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<LayerSource>)
Q_DECLARE_METATYPE(QVector<double>)

namespace {

// Sounds a decoder gives from memory, as a format that holds its samples
// inside the kit file does: "a" and "b" at the bank's rate, "half" at half
// of it; any other name cannot be decoded.
bool DecodeFromMemory(const QString &sample, qint64, DecodedSample *decoded, QString *reason)
{
    const QHash<QString, qint16> levels{{"a", 1000}, {"b", 3000}, {"half", 2000}, {"quiet", 0}};
    if (!levels.contains(sample)) {
        *reason = QStringLiteral("Format not recognised.");
        return false;
    }
    decoded->sound = PcmSound{1, quint32(kBankRate), Pcm(Square(4000, levels.value(sample)))};
    decoded->sourceRate = sample == QLatin1String("half") ? kBankRate / 2 : kBankRate;
    return true;
}

LayerSource Layer(double min, double max, const QVector<LayerPart> &parts)
{
    LayerSource layer;
    layer.min = min;
    layer.max = max;
    layer.parts = parts;
    return layer;
}

// Writes `font` as `name` in `folder`; its path.
QString WriteFont(const QTemporaryDir &folder, const Sf2TestFont &font, const QString &name = "kit.sf2")
{
    const QString path = folder.filePath(name);
    return WriteBytes(path, Sf2File(font)) ? path : QString();
}

// The largest magnitude of a 16-bit mono WAVE's samples.
int Peak(const QString &path)
{
    PcmSound sound;
    QString error;
    if (!ReadPcmSound(path, &sound, &error))
        return -1;
    int peak = 0;
    for (int i = 0; i + 1 < sound.pcm.size(); i += 2)
        peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(sound.pcm.constData() + i))));
    return peak;
}

} // namespace

// The one preparation path with samples from memory: what a kit format
// that renders its own sounds plugs into.
class TestKitImport : public QObject
{
    Q_OBJECT

private slots:
    void preparesFromMemory_data();
    void preparesFromMemory();
    void layerNotesSayWhatWasDone_data();
    void layerNotesSayWhatWasDone();
    void opensEachFormat_data();
    void opensEachFormat();
    void readsSoundFont_data();
    void readsSoundFont();
    void preparesSoundFontKey_data();
    void preparesSoundFontKey();
    void soundFontAttenuationIsThePartsGain();
    void soundFontStereoPairIsOnePart_data();
    void soundFontStereoPairIsOnePart();
    void damagedSoundFontRefused();
};

void TestKitImport::preparesFromMemory_data()
{
    QTest::addColumn<QVector<LayerSource>>("layers");
    QTest::addColumn<QVector<int>>("thresholds"); // empty: no bank
    QTest::addColumn<QVector<int>>("frames");     // of each layer, loudest first
    QTest::addColumn<QString>("note");            // one of the notes; empty: none

    // offset and end count the sample's own frames: 100..1099 at half the
    // bank's rate are 2000 of the bank's.
    QTest::newRow("a part at its own rate")
        << QVector<LayerSource>{Layer(0, 1, {LayerPart{"half", 1, 100, 1099}})} << QVector<int>{1}
        << QVector<int>{2000} << QString();
    QTest::newRow("parts summed, one that fails left out")
        << QVector<LayerSource>{Layer(0.5, 1, {LayerPart{"broken", 1, 0, -1}, LayerPart{"b", 1, 0, -1}}),
                                Layer(0, 0.5, {LayerPart{"a", 1, 0, -1}, LayerPart{"a", 1, 3000, -1}})}
        << QVector<int>{64, 1} << QVector<int>{4000, 4000} << QStringLiteral("broken: Format not recognised.");
    QTest::newRow("a round robin serves for a broken sample")
        << QVector<LayerSource>{Layer(0, 1, {LayerPart{"broken", 1, 0, -1}}), Layer(0, 1, {LayerPart{"a", 1, 0, -1}})}
        << QVector<int>{1} << QVector<int>{4000} << QStringLiteral("a serves in place of broken");
    QTest::newRow("a gain that is not a number counts as 1")
        << QVector<LayerSource>{Layer(0, 1, {LayerPart{"a", std::nan(""), 0, -1}})} << QVector<int>{1}
        << QVector<int>{4000} << QStringLiteral("a: gain nan is not finite, 1 used");
    QTest::newRow("an offset past the end leaves the part out")
        << QVector<LayerSource>{Layer(0.5, 1, {LayerPart{"a", 1, 9000, -1}}), Layer(0, 0.5, {LayerPart{"b", 1, -5, -1}})}
        << QVector<int>{1} << QVector<int>{4000} << QStringLiteral("a: offset 9000 and end -1 leave none of its sound, left out");
    QTest::newRow("silence only: no bank, nothing wrong")
        << QVector<LayerSource>{Layer(0, 1, {LayerPart{"quiet", 1, 0, -1}})} << QVector<int>() << QVector<int>()
        << QStringLiteral("quiet: silent, left out");
}

void TestKitImport::preparesFromMemory()
{
    QFETCH(QVector<LayerSource>, layers);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QVector<int>, frames);
    QFETCH(QString, note);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    InstrumentSource source;
    source.layers = layers;
    KitImportOptions options;
    options.trimTails = false;
    const PreparedInstrument prepared = PrepareInstrument(source, work.path(), QStringLiteral("Kit - Drum.zks"),
                                                          options, DecodeFromMemory, nullptr);
    const QString notes = prepared.notes.join(QStringLiteral("; "));
    QVERIFY2(note.isEmpty() ? prepared.notes.isEmpty() : prepared.notes.contains(note), qPrintable(notes));
    QCOMPARE(prepared.thresholds, thresholds);
    QCOMPARE(prepared.empty, thresholds.isEmpty());
    QVector<int> made;
    for (const LayerFile &layer : prepared.layers) {
        PcmSound sound;
        QString error;
        QVERIFY2(ReadPcmSound(layer.path, &sound, &error), qPrintable(error));
        made << int(sound.pcm.size() / 2);
    }
    QCOMPARE(made, frames);
}

void TestKitImport::layerNotesSayWhatWasDone_data()
{
    QTest::addColumn<QVector<LayerSource>>("layers");
    QTest::addColumn<QStringList>("notes"); // of each layer, loudest first

    LayerSource pitched = Layer(0, 1, {LayerPart{"a", 1, 0, -1}});
    pitched.pitch = 2;
    QTest::newRow("nothing done") << QVector<LayerSource>{Layer(0, 1, {LayerPart{"a", 1, 0, -1}})}
                                  << QStringList{"From a"};
    QTest::newRow("a part at its own rate")
        << QVector<LayerSource>{Layer(0, 1, {LayerPart{"half", 1, 100, 1099}})}
        << QStringList{"From half (offset 100, end 1099): resampled from 22050\u00A0Hz"};
    QTest::newRow("parts summed, one with a gain")
        << QVector<LayerSource>{Layer(0.5, 1, {LayerPart{"a", 0.5, 0, -1}, LayerPart{"broken", 1, 0, -1},
                                               LayerPart{"b", 1, 0, -1}}),
                                Layer(0, 0.5, {LayerPart{"a", 1, 0, -1}})}
        << QStringList{"From a (gain -6.0\u00A0dB) + b", "From a"};
    // 3000 x 16 would clip: the whole instrument scaled by 32767 / 48000.
    QTest::newRow("scaled against clipping")
        << QVector<LayerSource>{Layer(0.5, 1, {LayerPart{"b", 16, 0, -1}}), Layer(0, 0.5, {LayerPart{"a", 1, 0, -1}})}
        << QStringList{"From b (gain 24.1\u00A0dB): scaled by -3.3\u00A0dB", "From a: scaled by -3.3\u00A0dB"};
    QTest::newRow("too short, padded") << QVector<LayerSource>{Layer(0, 1, {LayerPart{"a", 1, 3900, -1}})}
                                       << QStringList{"From a (offset 3900): padded"};
    QTest::newRow("pitch not applied") << QVector<LayerSource>{pitched} << QStringList{"From a: pitch 2 not applied"};
}

// Each layer's note names the samples it sums and says only what was done
// to it, the instrument's shared steps included.
void TestKitImport::layerNotesSayWhatWasDone()
{
    QFETCH(QVector<LayerSource>, layers);
    QFETCH(QStringList, notes);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    InstrumentSource source;
    source.layers = layers;
    const PreparedInstrument prepared = PrepareInstrument(source, work.path(), QStringLiteral("Kit - Drum.zks"),
                                                          KitImportOptions(), DecodeFromMemory, nullptr);
    QVERIFY2(prepared.failure.isEmpty(), qPrintable(prepared.failure));
    QCOMPARE(prepared.layerNotes, notes);
    QCOMPARE(prepared.layers.size(), notes.size());
}

void TestKitImport::opensEachFormat_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // empty: a SoundFont of two presets
    QTest::addColumn<QStringList>("summaries"); // name|layers|seconds|group|reason|bank's layers
    QTest::addColumn<QStringList>("banks");
    QTest::addColumn<QStringList>("notes");

    QTest::newRow("hydrogen")
        << "drumkit.xml"
        << QByteArray("<drumkit_info><name>Kit</name><instrumentList>"
                      "<instrument><name>Kick</name><layer><filename>a.wav</filename><min>0.5</min><max>1</max></layer>"
                      "<layer><filename>b.wav</filename><min>0.5</min><max>1</max></layer>"
                      "<layer><filename>b.wav</filename><min>0</min><max>0.5</max></layer></instrument>"
                      "<instrument><filename>a.wav</filename></instrument>"
                      "<instrument><name>Empty</name></instrument></instrumentList></drumkit_info>\n")
        << QStringList{"Kick|3|0.20|||2", "instrument 2|1|0.10|||1", "Empty|0|0.00||no sample|0"}
        << QStringList{"Kit - Kick.zks", "Kit - instrument 2.zks", "Kit - Empty.zks"} << QStringList();
    QTest::newRow("sfz") << "drums.sfz"
                         << QByteArray("<group> key=36\n<region> sample=a.wav hivel=63\n<region> sample=b.wav lovel=64\n"
                                       "<region> sample=a.wav key=38 trigger=release\n")
                         << QStringList{"c2 (36)|2|0.20|||2"} << QStringList{"drums - c2 (36).zks"}
                         << QStringList{"release: 1 region(s) left out"};
    QTest::newRow("sf2") << "drums.sf2" << QByteArray()
                         << QStringList{"Drums - 36 Bass Drum 1|2|0.50|Drums (128:0)||2",
                                        "Drums - 38 Acoustic Snare|1|0.75|Drums (128:0)||1"}
                         << QStringList{"Drums - 36 Bass Drum 1.zks", "Drums - 38 Acoustic Snare.zks"}
                         << QStringList{"preset Drums (128:0): keys 36, 38"};
}

// Every format opens by its name into one kind of kit: instruments named,
// their banks named, summed up for the chooser, and the kit's own notes.
void TestKitImport::opensEachFormat()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, summaries);
    QFETCH(QStringList, banks);
    QFETCH(QStringList, notes);
    QTemporaryDir folder;
    QVERIFY(WriteBytes(folder.filePath("a.wav"), Wav16(1, kBankRate, Square(4410, 1000))));
    QVERIFY(WriteBytes(folder.filePath("b.wav"), Wav16(1, kBankRate, Square(8820, 3000))));
    QVERIFY(content.isEmpty() ? !WriteFont(folder, TwoPresetFont(), file).isEmpty()
                              : WriteBytes(folder.filePath(file), content));
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(folder.filePath(file), folder.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    QStringList listed;
    for (const KitInstrumentSummary &summary : kit->Summaries())
        listed << QStringLiteral("%1|%2|%3|%4|%5|%6")
                      .arg(summary.name)
                      .arg(summary.layers)
                      .arg(summary.seconds, 0, 'f', 2)
                      .arg(summary.group, summary.reason)
                      .arg(summary.bankLayers);
    QCOMPARE(listed, summaries);
    QCOMPARE(kit->BankNames(), banks);
    QCOMPARE(kit->Notes(), notes);
}

void TestKitImport::readsSoundFont_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QStringList>("banks"); // empty: refused
    QTest::addColumn<QString>("error");

    const QStringList drums{"Drums - 36 Bass Drum 1.zks", "Drums - 38 Acoustic Snare.zks"};
    QTest::newRow("the drum bank by default") << QString() << drums << QString();
    QTest::newRow("a preset by name, in any case") << "melody" << QStringList{"Melody - c6 (84).zks"} << QString();
    QTest::newRow("a preset by bank and program") << "128:0" << drums << QString();
    QTest::newRow("no such preset") << "Strings" << QStringList()
                                    << "no preset \"Strings\"; the file has Drums (128:0), Melody (0:0)";
}

void TestKitImport::readsSoundFont()
{
    QFETCH(QString, preset);
    QFETCH(QStringList, banks);
    QFETCH(QString, error);
    QTemporaryDir folder;
    const QString path = WriteFont(folder, TwoPresetFont());
    QString why;
    const std::unique_ptr<KitSource> kit = OpenKitSource(path, folder.path(), &why, nullptr, preset);
    QCOMPARE(bool(kit), !banks.isEmpty());
    QCOMPARE(why, error);
    QCOMPARE(kit ? kit->BankNames() : QStringList(), banks);
}

void TestKitImport::preparesSoundFontKey_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<QStringList>("samples");
    QTest::addColumn<QVector<double>>("lengths"); // of each layer, as times the sample's

    QTest::newRow("velocity ranges as layers, loudest first")
        << 0 << QVector<int>{64, 1} << QStringList{"hard", "soft"} << QVector<double>{1, 1};
    // Played a fifth below its root, a sample runs 1.5 times as long.
    QTest::newRow("a key below its root") << 1 << QVector<int>{1} << QStringList{"tom"} << QVector<double>{1.498};
}

void TestKitImport::preparesSoundFontKey()
{
    QFETCH(int, index);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QStringList, samples);
    QFETCH(QVector<double>, lengths);
    QTemporaryDir folder;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(WriteFont(folder, TwoPresetFont()), folder.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    KitImportOptions options;
    options.trimTails = false;
    const PreparedInstrument prepared = kit->Prepare(index, folder.path(), options, nullptr);
    QVERIFY2(prepared.failure.isEmpty(), qPrintable(prepared.failure));
    QCOMPARE(prepared.thresholds, thresholds);
    QCOMPARE(prepared.samples, samples);
    QCOMPARE(prepared.layers.size(), lengths.size());
    for (int i = 0; i < lengths.size(); ++i) {
        PcmSound sound;
        QVERIFY2(ReadPcmSound(prepared.layers.at(i).path, &sound, &error), qPrintable(error));
        const double frames = double(sound.pcm.size() / 2);
        QVERIFY2(std::abs(frames - lengths.at(i) * 22050) <= 10, qPrintable(QString::number(frames)));
    }
}

void TestKitImport::soundFontAttenuationIsThePartsGain()
{
    // 60 cB is 6 dB down: the hard layer's peak halves, the soft one's stays.
    QTemporaryDir folder;
    QVector<int> peaks[2];
    for (int attenuation : {0, 60}) {
        QString error;
        const QString name = QStringLiteral("kit%1.sf2").arg(attenuation);
        const std::unique_ptr<KitSource> kit
            = OpenKitSource(WriteFont(folder, TwoPresetFont(attenuation), name), folder.path(), &error);
        QVERIFY2(kit, qPrintable(error));
        QCOMPARE(kit->Source(0).layers.at(0).parts.at(0).gain, std::pow(10.0, -attenuation / 200.0));
        KitImportOptions options;
        options.trimTails = false;
        const PreparedInstrument prepared = kit->Prepare(0, folder.path(), options, nullptr);
        QCOMPARE(prepared.layers.size(), 2);
        for (const LayerFile &layer : prepared.layers)
            peaks[attenuation ? 1 : 0] << Peak(layer.path);
    }
    QVERIFY2(std::abs(peaks[1].at(0) - peaks[0].at(0) * std::pow(10.0, -0.3)) < 40, qPrintable(QString::number(peaks[1].at(0))));
    QCOMPARE(peaks[1].at(1), peaks[0].at(1));
}

void TestKitImport::soundFontStereoPairIsOnePart_data()
{
    QTest::addColumn<bool>("leftOnly");
    QTest::addColumn<double>("dbfs"); // the layer's peak
    // Sines in phase: -6 and -12 dBFS mixed as (L+R)/2.
    QTest::newRow("mixed") << false << 20 * std::log10((std::pow(10.0, -6 / 20.0) + std::pow(10.0, -12 / 20.0)) / 2);
    QTest::newRow("left kept") << true << -6.0;
}

void TestKitImport::soundFontStereoPairIsOnePart()
{
    QFETCH(bool, leftOnly);
    QFETCH(double, dbfs);
    Sf2TestFont font = TwoPresetFont();
    Sf2TestSample left = font.samples.at(1);
    left.name = QStringLiteral("kick L");
    left.type = 4;
    left.link = 4;
    Sf2TestSample right = font.samples.at(0);
    right.name = QStringLiteral("kick R");
    right.pcm = Sine1k(22050, -12);
    right.type = 2;
    right.link = 3;
    font.samples << left << right;
    enum { kKeys = 43, kSample = 53 };
    font.instruments[0].zones = {{{kKeys, Sf2Range(36, 36)}, {kSample, 3}}, {{kKeys, Sf2Range(36, 36)}, {kSample, 4}}};
    QTemporaryDir folder;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(WriteFont(folder, font), folder.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    const InstrumentSource source = kit->Source(0);
    QCOMPARE(source.layers.size(), 1);
    QCOMPARE(source.layers.at(0).parts.size(), 1);
    KitImportOptions options;
    options.leftOnly = leftOnly;
    options.trimTails = false;
    const PreparedInstrument prepared = kit->Prepare(0, folder.path(), options, nullptr);
    QCOMPARE(prepared.layers.size(), 1);
    QCOMPARE(prepared.samples, QStringList{"kick L"});
    QCOMPARE(prepared.layerNotes,
             QStringList{leftOnly ? QStringLiteral("From kick L: left channel kept") : QStringLiteral("From kick L: mixed to mono")});
    const double peak = 20 * std::log10(Peak(prepared.layers.at(0).path) / 32768.0);
    QVERIFY2(std::abs(peak - dbfs) < 0.1, qPrintable(QString::number(peak)));
}

void TestKitImport::damagedSoundFontRefused()
{
    Sf2TestFont font = TwoPresetFont();
    font.samples[1].end = 1000000;
    QTemporaryDir folder;
    QString error;
    QVERIFY(!OpenKitSource(WriteFont(folder, font), folder.path(), &error));
    QCOMPARE(error, QStringLiteral("sample 1 (hard) ends past the sample data"));
}

ZK_TEST(TestKitImport)
#include "tst_kitimport.moc"
