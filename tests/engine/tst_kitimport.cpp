#include <QtTest>

#include <QTemporaryDir>

#include "kitimport.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<LayerSource>)

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

} // namespace

// The one preparation path with samples from memory: what a kit format
// that renders its own sounds plugs into.
class TestKitImport : public QObject
{
    Q_OBJECT

private slots:
    void preparesFromMemory_data();
    void preparesFromMemory();
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

ZK_TEST(TestKitImport)
#include "tst_kitimport.moc"
