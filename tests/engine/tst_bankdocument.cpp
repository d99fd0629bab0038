#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <numeric>

#include "bankreader.h"
#include "heldfile.h"
#include "explain.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "bankdocument.h"
#include "tailtrim.h"
#include "testmain.h"
#include "testsupport.h"

namespace {

// The layer size of a hit of `loudFrames` frames once its quiet tail is
// trimmed: the fade after the last loud frame stays.
qint32 TrimmedSize(int loudFrames)
{
    return LayerSizeFor(quint32(2 * (loudFrames + kTailFadeFrames)), false);
}

QVector<int> Thresholds(const BankDocument &doc)
{
    return QVector<int>(doc.Thresholds() + 1, doc.Thresholds() + 1 + kMaxLayers);
}

void ToTable(const QVector<int> &thresholds, ThresholdTable table)
{
    table[0] = 0;
    std::copy(thresholds.begin(), thresholds.end(), table + 1);
}

// What the window shows of the document beside what undo compares.
QString Shown(const BankDocument &doc)
{
    return QStringLiteral("used %1 available %2 gate %3").arg(doc.UsedSpace()).arg(doc.AvailablePercent()).arg(doc.GateLevel());
}

// Everything a document holds, as undo compares it: a line per layer,
// then the thresholds, the count, the gate and the options.
QStringList Fields(const BankDocument &doc)
{
    QStringList lines;
    for (int layer = 1; layer <= kMaxLayers; ++layer)
        lines << QStringLiteral("%1|%2|%3|%4|%5")
                     .arg(doc.Path(layer), doc.Name(layer))
                     .arg(doc.Size(layer))
                     .arg(doc.Source(layer))
                     .arg(doc.SourceSize(layer));
    QStringList thresholds;
    for (int layer = 0; layer <= kMaxLayers; ++layer)
        thresholds << QString::number(doc.Threshold(layer));
    lines << thresholds.join(QLatin1Char(' '));
    lines << QStringLiteral("count %1 gate %2 trim %3 chosen %4")
                 .arg(doc.Count())
                 .arg(doc.GatePosition())
                 .arg(doc.TrimTails())
                 .arg(doc.ThresholdsChosen());
    return lines;
}

QString LayerLine(const QString &path, const QString &name, qint32 size)
{
    return QStringLiteral("%1|%2|%3|%1|%3").arg(path, name).arg(size);
}

} // namespace

// The bank document on its own: each operation changes the document, or
// refuses and leaves the document and the layer files as they were.
// Documents are values: copies keep their files, and two apart are
// independent.
class TestBankDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addAppendsLayers();
    void addRefusesSound_data();
    void addRefusesSound();
    void addRefusesSizes_data();
    void addRefusesSizes();
    void addRefusesNinthLayer();
    void refusedTrimmedSoundLeavesNoCopy();
    void replace_data();
    void replace();
    void replaceNoSuchLayer_data();
    void replaceNoSuchLayer();
    void remove_data();
    void remove();
    void reorderMovesEveryField();
    void trimTails();
    void trimOffRefused_data();
    void trimOffRefused();
    void open_data();
    void open();
    void moveThreshold_data();
    void moveThreshold();
    void setGate_data();
    void setGate();
    void copyRoundTrip();
    void comparesEveryField();
    void filesGoWithTheirLastHolder_data();
    void filesGoWithTheirLastHolder();
    void layerNamedAfterItsFile_data();
    void layerNamedAfterItsFile();
    void openHeldLayers();
    void twoDocumentsApart();
    void writeMakesTheBank();
    void writeRefused_data();
    void writeRefused();

private:
    // A sound as the conversion leaves it for the document: 16-bit mono at the
    // bank's rate, of layer size `layerSize`, in a fresh numbered folder of
    // the working folder; its first `loudFrames` frames (all of them when
    // negative) a loud square wave, the rest silence. The silence is made by
    // extending the file, so even the largest layer costs next to no disk
    // space. The chosen file is a FLAC of the same base name.
    OfferedSound Sound(const QString &name, qint32 layerSize, int loudFrames = -1);
    // Adds sounds "hit N.wav" of these layer sizes, each loud for at most
    // `loudFrames` frames (negative: throughout).
    bool Fill(const QVector<int> &sizes, int loudFrames = -1);

    QTemporaryDir chosenFolder;
    BankDocument doc;
};

void TestBankDocument::initTestCase()
{
    QVERIFY(chosenFolder.isValid());
}

void TestBankDocument::init()
{
    doc = BankDocument();
}

void TestBankDocument::cleanup()
{
    doc = BankDocument();
    RemoveWorkFolder();
}

OfferedSound TestBankDocument::Sound(const QString &name, qint32 layerSize, int loudFrames)
{
    const int frames = (layerSize - kBankBlock) / 2;
    const int loud = loudFrames < 0 ? frames : qMin(loudFrames, frames);
    OfferedSound sound;
    sound.chosen = chosenFolder.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".flac"));
    sound.converted = NewResultFolder(WorkFolder()) + QLatin1Char('/') + name;
    const qint64 dataBytes = 2 * qint64(frames);
    QFile file(sound.converted);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(CanonicalWavHeader(1, kBankRate, 16, quint32(dataBytes))) != kWavHeaderSize
        || file.write(Pcm(Square(loud, 12000))) != 2 * qint64(loud) || !file.resize(kWavHeaderSize + dataBytes))
        qFatal("cannot write %s", qPrintable(sound.converted));
    file.close();
    sound.size = OpenAndCheckFile(sound.converted);
    return sound;
}

bool TestBankDocument::Fill(const QVector<int> &sizes, int loudFrames)
{
    for (const int size : sizes) {
        const OfferedSound sound = Sound(QStringLiteral("hit %1.wav").arg(doc.Count() + 1), size, loudFrames);
        if (sound.size != size || !doc.Add(sound).IsEmpty())
            return false;
    }
    return true;
}

void TestBankDocument::addAppendsLayers()
{
    QStringList files;
    qint32 used = 0;
    for (int n = 1; n <= kMaxLayers; ++n) {
        if (n == 3)
            QVERIFY(doc.MoveThreshold(1, 120)); // a spread of the user's, replaced by the next
        const OfferedSound sound = Sound(QStringLiteral("hit %1.wav").arg(n), 5120 * n);
        QCOMPARE(sound.size, 5120 * n);
        QVERIFY(doc.Add(sound).IsEmpty());
        files << sound.converted;
        used += sound.size;
        QCOMPARE(doc.Count(), n);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(doc.Path(i + 1), files.at(i));
            QCOMPARE(doc.Source(i + 1), files.at(i));
            QCOMPARE(doc.Name(i + 1), QStringLiteral("hit %1.wav").arg(i + 1));
            QCOMPARE(doc.Size(i + 1), 5120 * (i + 1));
            QCOMPARE(doc.SourceSize(i + 1), 5120 * (i + 1));
        }
        for (int i = n; i < kMaxLayers; ++i)
            QVERIFY(doc.Path(i + 1).isEmpty());
        QCOMPARE(Thresholds(doc), DefaultSpread(n));
        QVERIFY(!doc.ThresholdsChosen());
        QCOMPARE(doc.UsedSpace(), used);
        QCOMPARE(doc.AvailablePercent(), AvailablePercentFor(used));
    }
}

void TestBankDocument::addRefusesSound_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");

    QTest::newRow("file error") << int(RESULT_FILE_ERROR) << QStringLiteral("Format not recognised.");
    QTest::newRow("too long") << int(RESULT_TOO_BIG)
                              << QStringLiteral("the sound lasts 40.0 s; a layer holds at most 35.6 s of mono sound");
}

void TestBankDocument::addRefusesSound()
{
    QFETCH(int, code);
    QFETCH(QString, detail);

    QVERIFY(Fill({4096, 8192}));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    OfferedSound sound = Sound(QStringLiteral("snare.wav"), 2048);
    sound.size = 0;
    sound.refused = RefusalFor(code, QStringLiteral("snare.flac"), detail);
    const Refusal refused = doc.Add(sound);

    QCOMPARE(refused.code, code);
    QCOMPARE(refused.subject, QStringLiteral("snare.flac"));
    QCOMPARE(refused.detail, detail);
    QVERIFY(refused.words.isEmpty());
    QVERIFY(!QFileInfo::exists(sound.converted));
    QVERIFY(!QFileInfo::exists(QFileInfo(sound.converted).path()));
    QVERIFY(doc == before);
    QCOMPARE(Shown(doc), shown);
    QVERIFY(QFileInfo::exists(doc.Path(1)));
    QVERIFY(QFileInfo::exists(doc.Path(2)));
}

void TestBankDocument::addRefusesSizes_data()
{
    QTest::addColumn<QVector<int>>("before");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("code");

    QTest::newRow("largest layer and what is left") << QVector<int>{kLargestLayerSize} << 4096 << 0;
    QTest::newRow("a block beyond the budget")
        << QVector<int>{kLargestLayerSize} << 4608 << int(RESULT_NO_SPACE);
    QTest::newRow("budget full") << QVector<int>{1572864, 1572864} << 1024 << int(RESULT_NO_SPACE);
    QTest::newRow("four layers may reach the limit") << QVector<int>{1024, 1024, 1024} << kSizeUnitsLimit << 0;
    QTest::newRow("fifth layer below the limit") << QVector<int>{1024, 1024, 1024, 1024} << kSizeUnitsLimit - 512
                                                 << 0;
    QTest::newRow("fifth layer at the limit")
        << QVector<int>{1024, 1024, 1024, 1024} << kSizeUnitsLimit << int(RESULT_TOO_BIG);
    QTest::newRow("fifth layer beside one at the limit")
        << QVector<int>{kSizeUnitsLimit, 1024, 1024, 1024} << 1024 << int(RESULT_TOO_BIG);
    QTest::newRow("no room counts before the size tables")
        << QVector<int>{kSizeUnitsLimit, 1024, 1024, 1024} << 1048576 << int(RESULT_NO_SPACE);
}

void TestBankDocument::addRefusesSizes()
{
    QFETCH(QVector<int>, before);
    QFETCH(int, added);
    QFETCH(int, code);

    QVERIFY(Fill(before));
    const qint32 used = std::accumulate(before.begin(), before.end(), 0);
    QCOMPARE(doc.UsedSpace(), used);
    const BankDocument state = doc;
    const QString shown = Shown(doc);

    const OfferedSound sound = Sound(QStringLiteral("last.wav"), added);
    QCOMPARE(sound.size, added);
    const Refusal refused = doc.Add(sound);

    QCOMPARE(refused.code, code);
    if (code == 0) {
        QCOMPARE(doc.Count(), before.size() + 1);
        QCOMPARE(doc.UsedSpace(), used + added);
        return;
    }
    QVERIFY(refused.subject.isEmpty());
    QCOMPARE(refused.detail, code == RESULT_NO_SPACE ? NoSpaceDetail(added, used) : SizeTableDetail());
    QVERIFY(!QFileInfo::exists(sound.converted));
    QVERIFY(doc == state);
    QCOMPARE(Shown(doc), shown);
    for (int i = 0; i < before.size(); ++i)
        QVERIFY(QFileInfo::exists(doc.Path(i + 1)));
}

void TestBankDocument::addRefusesNinthLayer()
{
    QVERIFY(Fill(QVector<int>(kMaxLayers, 1024)));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    const OfferedSound sound = Sound(QStringLiteral("hit 9.wav"), 1024);
    const Refusal refused = doc.Add(sound);

    QCOMPARE(refused.subject, QStringLiteral("hit 9.flac"));
    QCOMPARE(refused.words, NoFreeLayerReason());
    QVERIFY(!QFileInfo::exists(sound.converted));
    QVERIFY(doc == before);
    QCOMPARE(Shown(doc), shown);
}

// A sound refused after trimming leaves neither itself nor its trimmed copy.
void TestBankDocument::refusedTrimmedSoundLeavesNoCopy()
{
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({kLargestLayerSize}, 20000));
    QCOMPARE(doc.Size(1), TrimmedSize(20000));
    QVERIFY(Fill({kLargestLayerSize - TrimmedSize(20000)}));
    const QStringList files = FolderTree(WorkFolder());
    const BankDocument before = doc;

    const OfferedSound sound = Sound(QStringLiteral("tail.wav"), 512000, 2000);
    const Refusal refused = doc.Add(sound);

    QCOMPARE(refused.code, int(RESULT_NO_SPACE));
    QCOMPARE(refused.detail, NoSpaceDetail(TrimmedSize(2000), kLargestLayerSize));
    QCOMPARE(FolderTree(WorkFolder()), files);
    QVERIFY(doc == before);
}

void TestBankDocument::replace_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("size"); // or the sound's result code
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");

    // Layers 2095104 + 1043456 + 3 x 1024 bytes leave 4096 of the budget.
    QTest::newRow("same size") << 3 << 1024 << 0 << QString();
    QTest::newRow("smaller") << 1 << 1024 << 0 << QString();
    QTest::newRow("the old sound's space given back") << 2 << 1043456 + 4096 << 0 << QString();
    QTest::newRow("a block beyond the budget")
        << 2 << 1043456 + 4608 << int(RESULT_NO_SPACE) << NoSpaceDetail(1043456 + 4608, 2095104 + 3072);
    QTest::newRow("size tables") << 1 << int(kSizeUnitsLimit) << int(RESULT_TOO_BIG) << SizeTableDetail();
    QTest::newRow("refused sound") << 4 << int(RESULT_FILE_ERROR) << int(RESULT_FILE_ERROR)
                                   << QStringLiteral("Format not recognised.");
}

void TestBankDocument::replace()
{
    QFETCH(int, layer);
    QFETCH(int, size);
    QFETCH(int, code);
    QFETCH(QString, detail);

    QVERIFY(Fill({2095104, 1043456, 1024, 1024, 1024}));
    QVERIFY(doc.MoveThreshold(2, 90));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    OfferedSound sound = Sound(QStringLiteral("new.wav"), size > 0 ? size : 2048);
    if (size < 0) {
        sound.size = 0;
        sound.refused = RefusalFor(size, QStringLiteral("new.flac"), detail);
    } else {
        QCOMPARE(sound.size, size);
    }
    const Refusal refused = doc.Replace(layer, sound);

    for (int i = 0; i < 5; ++i)
        QVERIFY(QFileInfo::exists(before.Path(i + 1)));
    const int i = layer - 1;
    QCOMPARE(refused.code, code);
    if (code == 0) {
        QStringList expected = Fields(before);
        expected[i] = LayerLine(sound.converted, QStringLiteral("new.wav"), size);
        QCOMPARE(Fields(doc), expected);
        QVERIFY(doc != before);
        QCOMPARE(doc.UsedSpace(), 2095104 + 1043456 + 3072 - before.Size(i + 1) + size);
        QCOMPARE(doc.AvailablePercent(), AvailablePercentFor(doc.UsedSpace()));
        return;
    }
    QCOMPARE(refused.subject, code == RESULT_FILE_ERROR ? QStringLiteral("new.flac") : QString());
    QCOMPARE(refused.detail, detail);
    QVERIFY(!QFileInfo::exists(sound.converted));
    QVERIFY(doc == before);
    QCOMPARE(Shown(doc), shown);
}

void TestBankDocument::replaceNoSuchLayer_data()
{
    QTest::addColumn<int>("layer");
    QTest::newRow("layer 0") << 0;
    QTest::newRow("past the last") << 3;
    QTest::newRow("past the eighth") << kMaxLayers + 1;
}

// A replacement aimed at no layer is refused as any other, its sound
// removed, rather than written outside the layers.
void TestBankDocument::replaceNoSuchLayer()
{
    QFETCH(int, layer);
    QVERIFY(Fill({1024, 2048}));
    const BankDocument before = doc;
    const OfferedSound sound = Sound(QStringLiteral("new.wav"), 4096);

    const Refusal refused = doc.Replace(layer, sound);

    QVERIFY(!refused.IsEmpty());
    QCOMPARE(refused.subject, QStringLiteral("new.flac"));
    QVERIFY(!QFileInfo::exists(sound.converted));
    QVERIFY(doc == before);
}

void TestBankDocument::remove_data()
{
    QTest::addColumn<int>("layer");

    for (int layer = 1; layer <= 4; ++layer)
        QTest::addRow("layer %d of 4", layer) << layer;
    QTest::newRow("no layer 0") << 0;
    QTest::newRow("no layer 5") << 5;
}

void TestBankDocument::remove()
{
    QFETCH(int, layer);

    QVERIFY(Fill({1024, 2048, 4096, 8192}));
    QVERIFY(doc.MoveThreshold(1, 120));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    doc.Remove(layer);

    for (int i = 0; i < 4; ++i)
        QVERIFY(QFileInfo::exists(before.Path(i + 1)));
    if (layer < 1 || layer > 4) {
        QVERIFY(doc == before);
        QCOMPARE(Shown(doc), shown);
        return;
    }
    QCOMPARE(doc.Count(), layer - 1);
    qint32 used = 0;
    for (int i = 0; i < kMaxLayers; ++i) {
        const bool kept = i < layer - 1;
        QCOMPARE(doc.Path(i + 1), kept ? before.Path(i + 1) : QString());
        QCOMPARE(doc.Name(i + 1), kept ? before.Name(i + 1) : QString());
        QCOMPARE(doc.Size(i + 1), kept ? before.Size(i + 1) : 0);
        QCOMPARE(doc.Source(i + 1), kept ? before.Source(i + 1) : QString());
        QCOMPARE(doc.SourceSize(i + 1), kept ? before.SourceSize(i + 1) : 0);
        used += doc.Size(i + 1);
    }
    QCOMPARE(Thresholds(doc), DefaultSpread(layer - 1));
    QVERIFY(!doc.ThresholdsChosen());
    QCOMPARE(doc.UsedSpace(), used);
    QCOMPARE(doc.AvailablePercent(), AvailablePercentFor(used));
}

void TestBankDocument::reorderMovesEveryField()
{
    // Trimmed layers, so each layer's file and its untrimmed file differ.
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(doc.Add(Sound(QStringLiteral("a.wav"), 102400, 3000)).IsEmpty());
    QVERIFY(doc.Add(Sound(QStringLiteral("b.wav"), 8192)).IsEmpty());
    QVERIFY(doc.Add(Sound(QStringLiteral("c.wav"), 51200, 1000)).IsEmpty());
    QVERIFY(doc.Path(1) != doc.Source(1));
    QCOMPARE(doc.Path(2), doc.Source(2));
    QVERIFY(doc.MoveThreshold(2, 70));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    const QVector<int> order{2, 0, 1};
    ThresholdTable thresholds = {0, 110, 60, 1, 1, 1, 1, 1, 1};
    doc.Reorder(order, thresholds);
    const QStringList was = Fields(before);
    QStringList expected = was;
    for (int i = 0; i < 3; ++i)
        expected[i] = was.at(order.at(i));
    expected[kMaxLayers] = QStringLiteral("0 110 60 1 1 1 1 1 1");
    expected[kMaxLayers + 1] = QStringLiteral("count 3 gate 0 trim 1 chosen 0");
    QCOMPARE(Fields(doc), expected);
    QCOMPARE(doc.Name(1), QStringLiteral("c.wav"));
    QCOMPARE(Shown(doc), shown);

    // Each layer's untrimmed file came along with it.
    QVERIFY(doc.ApplyTrim(false).IsEmpty());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(doc.Path(i + 1), before.Source((order.at(i)) + 1));
        QCOMPARE(doc.Size(i + 1), before.SourceSize((order.at(i)) + 1));
    }
}

void TestBankDocument::trimTails()
{
    const OfferedSound tail = Sound(QStringLiteral("tail.wav"), 204800, 5000);
    const OfferedSound whole = Sound(QStringLiteral("whole.wav"), 40960);
    QVERIFY(doc.Add(tail).IsEmpty());
    QVERIFY(doc.Add(whole).IsEmpty());

    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(doc.TrimTails());
    const QString copy = doc.Path(1);
    QVERIFY(copy != tail.converted);
    QVERIFY(copy.startsWith(WorkFolder() + QLatin1Char('/')));
    QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("tail.wav"));
    QCOMPARE(doc.Size(1), TrimmedSize(5000));
    QCOMPARE(OpenAndCheckFile(copy), doc.Size(1));
    QCOMPARE(doc.Name(1), QStringLiteral("tail.wav"));
    QCOMPARE(doc.Path(2), whole.converted); // nothing to trim
    QCOMPARE(doc.Size(2), 40960);
    QCOMPARE(doc.Source(1), tail.converted);
    QCOMPARE(doc.SourceSize(1), 204800);
    QCOMPARE(doc.UsedSpace(), TrimmedSize(5000) + 40960);
    QCOMPARE(doc.AvailablePercent(), AvailablePercentFor(doc.UsedSpace()));
    const QStringList files = FolderTree(WorkFolder());

    {
        // A state kept, as a step of undo keeps it, holds the copy: trimming
        // again takes the same one.
        const BankDocument trimmed = doc;
        QVERIFY(doc.ApplyTrim(false).IsEmpty());
        QVERIFY(!doc.TrimTails());
        QCOMPARE(doc.Path(1), tail.converted);
        QCOMPARE(doc.Size(1), 204800);
        QCOMPARE(doc.Path(2), whole.converted);
        QCOMPARE(doc.UsedSpace(), 204800 + 40960);
        QVERIFY(QFileInfo::exists(copy));

        QVERIFY(doc.ApplyTrim(true).IsEmpty());
        QCOMPARE(doc.Path(1), copy);
        QCOMPARE(doc.Size(1), TrimmedSize(5000));
        QCOMPARE(FolderTree(WorkFolder()), files);
    }

    // Held by nothing else, the copy goes with trimming; trimming again
    // makes a new one.
    QVERIFY(doc.ApplyTrim(false).IsEmpty());
    QVERIFY(!QFileInfo::exists(copy));
    QVERIFY(!QFileInfo::exists(QFileInfo(copy).path()));
    QVERIFY(QFileInfo::exists(tail.converted));
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(doc.Path(1) != copy);
    QCOMPARE(QFileInfo(doc.Path(1)).fileName(), QStringLiteral("tail.wav"));
    QCOMPARE(doc.Size(1), TrimmedSize(5000));
    QCOMPARE(OpenAndCheckFile(doc.Path(1)), doc.Size(1));

    // A sound added while the option is on comes in trimmed, by its own name.
    const OfferedSound added = Sound(QStringLiteral("added.wav"), 102400, 1000);
    QVERIFY(doc.Add(added).IsEmpty());
    QVERIFY(doc.Path(3) != added.converted);
    QCOMPARE(doc.Size(3), TrimmedSize(1000));
    QCOMPARE(doc.Source(3), added.converted);
    QCOMPARE(doc.SourceSize(3), 102400);
    QCOMPARE(doc.Name(3), QStringLiteral("added.wav"));
}

void TestBankDocument::trimOffRefused_data()
{
    QTest::addColumn<QVector<int>>("untrimmed");
    QTest::addColumn<int>("code");

    QTest::newRow("no room") << QVector<int>{1600000, 1600000} << int(RESULT_NO_SPACE);
    QTest::newRow("size tables") << QVector<int>{kSizeUnitsLimit, 1024, 1024, 1024, 1024} << int(RESULT_TOO_BIG);
}

// Turning trimming off can make the layers grow past what a bank takes.
void TestBankDocument::trimOffRefused()
{
    QFETCH(QVector<int>, untrimmed);
    QFETCH(int, code);

    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(Fill(untrimmed, 2000));
    const BankDocument before = doc;
    const QString shown = Shown(doc);
    const QStringList files = FolderTree(WorkFolder());

    const Refusal refused = doc.ApplyTrim(false);

    QCOMPARE(refused.code, code);
    QVERIFY(doc.TrimTails());
    QVERIFY(doc == before);
    QCOMPARE(Shown(doc), shown);
    QCOMPARE(FolderTree(WorkFolder()), files);
}

void TestBankDocument::open_data()
{
    QTest::addColumn<bool>("trim");

    QTest::newRow("trimming off") << false;
    QTest::newRow("trimming on") << true;
}

void TestBankDocument::open()
{
    QFETCH(bool, trim);

    QVERIFY(doc.ApplyTrim(trim).IsEmpty());
    QVERIFY(Fill({1024, 2048, 4096}));
    QVERIFY(doc.SetGate(3));
    QVERIFY(doc.MoveThreshold(1, 120));

    const OfferedSound tail = Sound(QStringLiteral("1.wav"), 204800, 5000);
    const OfferedSound whole = Sound(QStringLiteral("2.wav"), 8192);
    BankLayer first;
    first.file = {tail.converted, QStringLiteral("Kick: hard"), tail.size};
    BankLayer second;
    second.file = {whole.converted, QStringLiteral("kick soft.aif"), whole.size};
    const ThresholdTable thresholds = {0, 64, 1, 7, 6, 5, 4, 3, 2};
    doc.Open({first, second}, thresholds);
    QCOMPARE(doc.Count(), 2);
    QCOMPARE(doc.Name(1), QStringLiteral("Kick: hard"));
    QCOMPARE(doc.Name(2), QStringLiteral("kick soft.aif"));
    QCOMPARE(doc.Source(1), tail.converted);
    QCOMPARE(doc.SourceSize(1), 204800);
    QCOMPARE(doc.Source(2), whole.converted);
    QCOMPARE(doc.SourceSize(2), 8192);
    QCOMPARE(doc.Size(1), trim ? TrimmedSize(5000) : 204800);
    QCOMPARE(doc.Path(1) == tail.converted, !trim);
    QCOMPARE(OpenAndCheckFile(doc.Path(1)), doc.Size(1));
    QCOMPARE(doc.Path(2), whole.converted);
    QCOMPARE(doc.Size(2), 8192);
    for (int i = 2; i < kMaxLayers; ++i) {
        QVERIFY(doc.Path(i + 1).isEmpty());
        QVERIFY(doc.Name(i + 1).isEmpty());
        QCOMPARE(doc.Size(i + 1), 0);
        QVERIFY(doc.Source(i + 1).isEmpty());
        QCOMPARE(doc.SourceSize(i + 1), 0);
    }
    QVERIFY(std::equal(thresholds, thresholds + kMaxLayers + 1, doc.Thresholds()));
    // The bank's thresholds are its author's choice, not a spread.
    QVERIFY(doc.ThresholdsChosen());
    QCOMPARE(doc.GatePosition(), 0);
    QCOMPARE(doc.GateLevel(), quint16(0));
    QCOMPARE(doc.TrimTails(), trim);
    QCOMPARE(doc.UsedSpace(), doc.Size(1) + 8192);
    QCOMPARE(doc.AvailablePercent(), AvailablePercentFor(doc.UsedSpace()));
}

void TestBankDocument::moveThreshold_data()
{
    QTest::addColumn<QVector<int>>("start");
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("position");
    QTest::addColumn<QVector<int>>("expected");

    // Four layers; the empty ones already fall away below layer 4.
    const QVector<int> in{94, 63, 32, 1, 0, -1, -2, -3};
    QTest::newRow("down") << in << 2 << 40 << QVector<int>{94, 40, 32, 1, 0, -1, -2, -3};
    QTest::newRow("pushes the layer above up") << in << 2 << 100 << QVector<int>{101, 100, 32, 1, 0, -1, -2, -3};
    QTest::newRow("pushes the layer below down") << in << 2 << 20 << QVector<int>{94, 20, 19, 1, 0, -1, -2, -3};
    QTest::newRow("held below the top") << in << 1 << 127 << QVector<int>{126, 63, 32, 1, 0, -1, -2, -3};
    QTest::newRow("held above the layers below") << in << 2 << 1 << QVector<int>{94, 3, 2, 1, 0, -1, -2, -3};
    QTest::newRow("same position") << in << 2 << 63 << in;
    QTest::newRow("held at its own value") << QVector<int>{126, 63, 32, 1, 0, -1, -2, -3} << 1 << 127
                                           << QVector<int>{126, 63, 32, 1, 0, -1, -2, -3};
    QTest::newRow("no layer 0") << in << 0 << 50 << in;
    QTest::newRow("no layer 9") << in << 9 << 50 << in;
    // A layer that stays where it is pushes nothing, not even the empty
    // layers after it: a step of undo would show no change.
    QTest::newRow("empty layers not pushed") << DefaultSpread(4) << 2 << 63 << DefaultSpread(4);
    // A move pushes them as the slider always has.
    QTest::newRow("empty layers pushed by a move")
        << DefaultSpread(4) << 2 << 62 << QVector<int>{94, 62, 32, 1, 0, -1, -2, -3};
}

void TestBankDocument::moveThreshold()
{
    QFETCH(QVector<int>, start);
    QFETCH(int, layer);
    QFETCH(int, position);
    QFETCH(QVector<int>, expected);

    QVERIFY(Fill({1024, 1024, 1024, 1024}));
    ThresholdTable thresholds;
    ToTable(start, thresholds);
    doc.SetThresholds(thresholds);
    const BankDocument before = doc;

    const bool moved = doc.MoveThreshold(layer, position);

    QCOMPARE(Thresholds(doc), expected);
    QCOMPARE(moved, expected != start);
    QCOMPARE(doc.ThresholdsChosen(), moved);
    if (!moved)
        QVERIFY(doc == before);
}

void TestBankDocument::setGate_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("valid");

    QTest::newRow("don't") << 0 << true;
    QTest::newRow("-60dB") << 1 << true;
    QTest::newRow("-50dB") << 2 << true;
    QTest::newRow("-40dB") << 3 << true;
    QTest::newRow("-30dB") << 4 << true;
    QTest::newRow("below") << -1 << false;
    QTest::newRow("above") << 5 << false;
}

void TestBankDocument::setGate()
{
    QFETCH(int, position);
    QFETCH(bool, valid);

    QVERIFY(Fill({1024}));
    QVERIFY(doc.SetGate(valid ? (position + 2) % kGateLevels : 2));
    const BankDocument before = doc;
    const QString shown = Shown(doc);

    QCOMPARE(doc.SetGate(position), valid);

    if (!valid) {
        QVERIFY(doc == before);
        QCOMPARE(Shown(doc), shown);
        return;
    }
    QString label;
    quint16 amplitude = 0;
    QVERIFY(GateForPosition(position, &label, &amplitude));
    QCOMPARE(doc.GatePosition(), position);
    QCOMPARE(doc.GateLevel(), amplitude);
    QStringList expected = Fields(before);
    expected.last().replace(QStringLiteral("gate %1").arg(before.GatePosition()),
                            QStringLiteral("gate %1").arg(position));
    QCOMPARE(Fields(doc), expected);
    QVERIFY(doc != before);
}

void TestBankDocument::copyRoundTrip()
{
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({102400, 8192, 51200}, 2000));
    QVERIFY(doc.SetGate(3));
    QVERIFY(doc.MoveThreshold(2, 50));
    const BankDocument saved = doc;
    const QString shown = Shown(doc);

    doc.Remove(2);
    QVERIFY(doc.ApplyTrim(false).IsEmpty());
    QVERIFY(doc.SetGate(0));
    QVERIFY(doc.Add(Sound(QStringLiteral("other.wav"), 4096)).IsEmpty());
    QVERIFY(doc != saved);

    doc = saved;
    QVERIFY(doc == saved);
    QCOMPARE(Shown(doc), shown);
    QCOMPARE(doc.GateLevel(), quint16(328));
    QVERIFY(doc.TrimTails());
    QVERIFY(doc.ThresholdsChosen());
    for (int i = 0; i < 3; ++i)
        QVERIFY(QFileInfo::exists(doc.Path(i + 1)));

    // Trimming off and on again after going back uses the same copies.
    QVERIFY(doc.ApplyTrim(false).IsEmpty());
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(doc.Path(i + 1), saved.Path(i + 1));
}

// Undo keeps a step only when the document differs, so no part may be left
// out of the comparison.
void TestBankDocument::comparesEveryField()
{
    QVERIFY(Fill({4096, 4096}));
    const QVector<std::function<void(BankDocument &)>> changes{
        [this](BankDocument &d) { d.Replace(2, Sound(QStringLiteral("hit 2.wav"), 4096)); }, // its file
        [](BankDocument &d) { d.Remove(2); },
        [](BankDocument &d) {
            ThresholdTable t = {5, 64, 1, 0, -1, -2, -3, -4, -5};
            d.SetThresholds(t);
        },
        [](BankDocument &d) {
            ThresholdTable t = {0, 64, 1, 0, -1, -2, -3, -4, 5};
            d.SetThresholds(t);
        },
        [](BankDocument &d) { d.SetGate(1); },
        [](BankDocument &d) { d.ApplyTrim(true); },
        [](BankDocument &d) { d.Reorder({1, 0}, d.Thresholds()); },
        [](BankDocument &d) {
            // The same thresholds, chosen by the user's moves.
            d.MoveThreshold(1, 62);
            d.MoveThreshold(1, 63);
        },
    };
    // Thresholds as a move leaves them, put back as a spread.
    QVERIFY(doc.MoveThreshold(1, 63));
    ThresholdTable moved;
    std::copy(doc.Thresholds(), doc.Thresholds() + kMaxLayers + 1, moved);
    doc.SetThresholds(moved);
    QVERIFY(!doc.ThresholdsChosen());
    const BankDocument base = doc;
    for (int k = 0; k < changes.size(); ++k) {
        BankDocument changed = base;
        QVERIFY(changed == base);
        changes.at(k)(changed);
        QVERIFY2(changed != base, QByteArray::number(k));
    }

    // The same file under another name, or of another size.
    const OfferedSound sound = Sound(QStringLiteral("same.wav"), 4096);
    const FileHold file = HeldFile::Take(sound.converted);
    const ThresholdTable thresholds = {0, 1, 0, -1, -2, -3, -4, -5, -6};
    const auto opened = [&](const QString &name, qint32 size) {
        BankLayer layer;
        layer.file = {sound.converted, name, size};
        BankDocument d;
        d.Open({layer}, thresholds, {file});
        return d;
    };
    QVERIFY(opened(QStringLiteral("a"), 4096) == opened(QStringLiteral("a"), 4096));
    QVERIFY(opened(QStringLiteral("a"), 4096) != opened(QStringLiteral("b"), 4096));
    QVERIFY(opened(QStringLiteral("a"), 4096) != opened(QStringLiteral("a"), 3584));
}

void TestBankDocument::filesGoWithTheirLastHolder_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"remove", "replace", "trim off", "open"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// The files a change takes out of the document stay while a copy made
// before it holds them, and go, folders and all, with that copy; the files
// the document holds stay.
void TestBankDocument::filesGoWithTheirLastHolder()
{
    QFETCH(QString, change);
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({102400, 51200, 8192}, 2000));
    QVERIFY(doc.Path(1) != doc.Source(1));
    auto kept = std::make_unique<BankDocument>(doc);
    const QStringList before = FolderTree(WorkFolder());
    QCOMPARE(before, LayerFilesInUse(doc));

    if (change == QLatin1String("remove")) {
        doc.Remove(2);
    } else if (change == QLatin1String("replace")) {
        QVERIFY(doc.Replace(1, Sound(QStringLiteral("new.wav"), 20480, 1000)).IsEmpty());
    } else if (change == QLatin1String("trim off")) {
        QVERIFY(doc.ApplyTrim(false).IsEmpty());
    } else {
        const OfferedSound opened = Sound(QStringLiteral("1.wav"), 40960, 1000);
        BankLayer layer;
        layer.file = {opened.converted, QStringLiteral("opened"), opened.size};
        const ThresholdTable thresholds = {0, 1, 0, -1, -2, -3, -4, -5, -6};
        doc.Open({layer}, thresholds);
    }
    QStringList both = before + LayerFilesInUse(doc);
    both.removeDuplicates();
    both.sort();
    QCOMPARE(FolderTree(WorkFolder()), both);
    QVERIFY(LayerFilesInUse(doc) != both);

    kept.reset();
    QCOMPARE(FolderTree(WorkFolder()), LayerFilesInUse(doc));
    for (int i = 0; i < doc.Count(); ++i)
        QCOMPARE(OpenAndCheckFile(doc.Path(i + 1)), doc.Size(i + 1));
}

void TestBankDocument::layerNamedAfterItsFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "kick.wav";
    QTest::newRow("backslashes are part of the name") << "C:\\wav\\kick.wav";
    QTest::newRow("spaces and accents") << QString::fromUtf8("caj\u00f3n hit 2.wav");
}

// An added sound's layer takes the name of its converted file, which keeps
// the chosen file's name in a folder of its own.
void TestBankDocument::layerNamedAfterItsFile()
{
    QFETCH(QString, file);
    const OfferedSound sound = Sound(file, 4096);
    QVERIFY(doc.Add(sound).IsEmpty());
    QCOMPARE(doc.Name(1), file);
    QCOMPARE(doc.Name(1), LastPathPart(sound.converted));
}

// An import's layers come held, each with its note and the trimmed copy
// made beside it: trimming takes that copy, and the note follows its layer.
void TestBankDocument::openHeldLayers()
{
    const OfferedSound kick = Sound(QStringLiteral("kick.wav"), 20480);
    const OfferedSound kickTrimmed = Sound(QStringLiteral("kick trimmed.wav"), 4096);
    const OfferedSound snare = Sound(QStringLiteral("snare.wav"), 8192);
    const FileHold kickFile = HeldFile::Take(kick.converted, QStringLiteral("From kick.flac: padded"),
                                             HeldFile::Take(kickTrimmed.converted, QStringLiteral("From kick.flac: trimmed")),
                                             kickTrimmed.size);
    const FileHold snareFile = HeldFile::Take(snare.converted);
    QVector<BankLayer> opened(2);
    opened[0].file = {kick.converted, QStringLiteral("kick.wav"), kick.size};
    opened[1].file = {snare.converted, QStringLiteral("snare.wav"), snare.size};
    const ThresholdTable thresholds = {0, 64, 1, 1, 1, 1, 1, 1, 1};

    doc.Open(opened, thresholds, {kickFile, snareFile});
    QCOMPARE(doc.Path(1), kick.converted);
    QCOMPARE(doc.LayerNote(1), QStringLiteral("From kick.flac: padded"));
    QVERIFY(doc.LayerNote(2).isEmpty());
    QVERIFY(doc.HeldFiles().contains(kickTrimmed.converted));

    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QCOMPARE(doc.Path(1), kickTrimmed.converted);
    QCOMPARE(doc.Size(1), kickTrimmed.size);
    QCOMPARE(doc.Source(1), kick.converted);
    QCOMPARE(doc.LayerNote(1), QStringLiteral("From kick.flac: trimmed"));

    doc.Reorder({1, 0}, thresholds);
    QVERIFY(doc.LayerNote(1).isEmpty());
    QCOMPARE(doc.LayerNote(2), QStringLiteral("From kick.flac: trimmed"));
    QVERIFY(doc.ApplyTrim(false).IsEmpty());
    QCOMPARE(doc.LayerNote(2), QStringLiteral("From kick.flac: padded"));
    QVERIFY(doc.LayerNote(3).isEmpty()); // no such layer
}

// Two documents at once share nothing: what one does, the other does not
// see, and a file one lets go stays while the other holds it.
void TestBankDocument::twoDocumentsApart()
{
    QVERIFY(doc.ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({102400, 8192}, 2000));
    QVERIFY(doc.SetGate(2));
    BankDocument other;
    const QStringList empty = Fields(other);
    QCOMPARE(other.Count(), 0);
    QCOMPARE(other.GateLevel(), quint16(0));
    QVERIFY(!other.TrimTails());

    QVERIFY(other.Add(Sound(QStringLiteral("other.wav"), 51200, 1000)).IsEmpty());
    QCOMPARE(doc.Count(), 2);
    QCOMPARE(other.Count(), 1);
    QCOMPARE(other.Size(1), 51200); // untrimmed: its own option is off
    const QVector<int> thresholds = Thresholds(doc);
    QVERIFY(other.MoveThreshold(1, 100));
    QCOMPARE(Thresholds(doc), thresholds);
    doc.Remove(1);
    QCOMPARE(doc.Count(), 0);
    QCOMPARE(other.Name(1), QStringLiteral("other.wav"));
    QVERIFY(QFileInfo::exists(other.Path(1)));
    QVERIFY(other != BankDocument());
    QCOMPARE(Fields(BankDocument()), empty);

    // A copy of one holds its files; the other's go with the other alone.
    const BankDocument copy = other;
    const QString file = other.Path(1);
    other = BankDocument();
    QVERIFY(QFileInfo::exists(file));
    QCOMPARE(LayerFilesInUse(copy), QStringList({QFileInfo(QDir(WorkFolder()).relativeFilePath(file)).path(),
                                                QDir(WorkFolder()).relativeFilePath(file)}));
}

// Write makes the bank MakeGeneratorArgs and GenerateZKS make of the same
// layers, thresholds and gate.
void TestBankDocument::writeMakesTheBank()
{
    QVERIFY(Fill({8192, 4096, 2048}));
    QVERIFY(doc.MoveThreshold(1, 100));
    QVERIFY(doc.SetGate(3));
    // The same name: the bank holds it.
    QVERIFY(QDir(chosenFolder.path()).mkpath(QStringLiteral("direct")));
    const QString written = chosenFolder.filePath(QStringLiteral("kit.zks"));
    const QString direct = chosenFolder.filePath(QStringLiteral("direct/kit.zks"));
    QVERIFY(doc.Write(written).IsEmpty());

    QVector<LayerFile> layers;
    for (int layer = 1; layer <= doc.Count(); ++layer)
        layers << LayerFile{doc.Path(layer), doc.Name(layer), doc.Size(layer)};
    QCOMPARE(GenerateZKS(MakeGeneratorArgs(layers, doc.Thresholds(), doc.GateLevel(), direct)), qint32(GENERATE_OK));
    const QByteArray bank = ReadAll(written);
    QVERIFY(!bank.isEmpty());
    QVERIFY(WithoutTag(bank) == WithoutTag(ReadAll(direct)));
}

void TestBankDocument::writeRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");

    QTest::newRow("control character in the name")
        << "line\nfeed.zks" << int(RESULT_FILE_ERROR) << ControlCharacterDetail();
    QTest::newRow("no such folder") << "missing/kit.zks" << int(RESULT_OPEN_FAILED)
                                    << QStringLiteral("The bank was not saved. ");
}

void TestBankDocument::writeRefused()
{
    QFETCH(QString, target);
    QFETCH(int, code);
    QFETCH(QString, detail);

    QVERIFY(Fill({4096}));
    const QString path = chosenFolder.filePath(target);
    const Refusal refused = doc.Write(path);

    QCOMPARE(refused.code, code);
    QVERIFY(refused.detail.startsWith(detail));
    if (code == RESULT_OPEN_FAILED)
        QVERIFY(refused.detail.contains(QDir::toNativeSeparators(path)));
    QVERIFY(!QFileInfo::exists(path));
}

ZK_TEST(TestBankDocument)
#include "tst_bankdocument.moc"
