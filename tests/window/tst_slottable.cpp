#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <numeric>

#include "bankreader.h"
#include "conversionrunner.h"
#include "explain.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "slottable.h"
#include "soundqueue.h"
#include "tailtrim.h"
#include "testmain.h"
#include "testsupport.h"
#include "widgetsupport.h"

namespace {

// The layer size of a hit of `loudFrames` frames once its quiet tail is
// trimmed: the fade after the last loud frame stays.
qint32 TrimmedSize(int loudFrames)
{
    return LayerSizeFor(quint32(2 * (loudFrames + kTailFadeFrames)), false);
}

QVector<int> Thresholds()
{
    return QVector<int>(SlotThreshold + 1, SlotThreshold + 1 + kMaxLayers);
}

void ToTable(const QVector<int> &thresholds, ThresholdTable table)
{
    table[0] = 0;
    std::copy(thresholds.begin(), thresholds.end(), table + 1);
}

// What the window shows of the table beside its state.
QString Shown()
{
    return QStringLiteral("used %1 available %2 gate %3").arg(UsedSpace).arg(AvailablePercent).arg(GateLevel);
}

} // namespace

// The slot table on its own, without a window: each operation changes the
// table and says so once, or refuses and leaves the table and the layer
// files as they were.
class TestSlotTable : public QObject
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
    void restoreRoundTrip();
    void stateComparesEveryField();
    void filesGoWithTheirLastHolder_data();
    void filesGoWithTheirLastHolder();

private:
    // A sound as the conversion leaves it for the table: 16-bit mono at the
    // bank's rate, of layer size `layerSize`, in a fresh numbered folder of
    // the working folder; its first `loudFrames` frames (all of them when
    // negative) a loud square wave, the rest silence. The silence is made by
    // extending the file, so even the largest layer costs next to no disk
    // space. The chosen file is a FLAC of the same base name.
    ConversionVerdict Sound(const QString &name, qint32 layerSize, int loudFrames = -1);
    // Adds sounds "hit N.wav" of these layer sizes, each loud for at most
    // `loudFrames` frames (negative: throughout).
    bool Fill(const QVector<int> &sizes, int loudFrames = -1);

    QTemporaryDir chosenFolder;
    std::unique_ptr<SlotTable> table;
};

void TestSlotTable::initTestCase()
{
    QVERIFY(chosenFolder.isValid());
}

void TestSlotTable::init()
{
    table = std::make_unique<SlotTable>();
}

void TestSlotTable::cleanup()
{
    table.reset();
    RemoveWorkFolder();
}

ConversionVerdict TestSlotTable::Sound(const QString &name, qint32 layerSize, int loudFrames)
{
    const int frames = (layerSize - kBankBlock) / 2;
    const int loud = loudFrames < 0 ? frames : qMin(loudFrames, frames);
    ConversionVerdict verdict;
    verdict.chosen = chosenFolder.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".flac"));
    verdict.layer.path = NewResultFolder(WorkFolder()) + QLatin1Char('/') + name;
    verdict.layer.name = name;
    const qint64 dataBytes = 2 * qint64(frames);
    QFile file(verdict.layer.path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(CanonicalWavHeader(1, kBankRate, 16, quint32(dataBytes))) != kWavHeaderSize
        || file.write(Pcm(Square(loud, 12000))) != 2 * qint64(loud) || !file.resize(kWavHeaderSize + dataBytes))
        qFatal("cannot write %s", qPrintable(verdict.layer.path));
    file.close();
    verdict.layer.size = OpenAndCheckFile(verdict.layer.path);
    return verdict;
}

bool TestSlotTable::Fill(const QVector<int> &sizes, int loudFrames)
{
    for (const int size : sizes) {
        const ConversionVerdict verdict = Sound(QStringLiteral("hit %1.wav").arg(SlotCount + 1), size, loudFrames);
        if (verdict.layer.size != size || !table->Add(verdict).IsEmpty())
            return false;
    }
    return true;
}

void TestSlotTable::addAppendsLayers()
{
    QSignalSpy changed(table.get(), &SlotTable::changed);
    QStringList files;
    qint32 used = 0;
    for (int n = 1; n <= kMaxLayers; ++n) {
        if (n == 3)
            QVERIFY(table->MoveThreshold(1, 120)); // a spread of the user's, replaced by the next
        changed.clear();
        const ConversionVerdict verdict = Sound(QStringLiteral("hit %1.wav").arg(n), 5120 * n);
        QCOMPARE(verdict.layer.size, 5120 * n);
        QVERIFY(table->Add(verdict).IsEmpty());
        QCOMPARE(changed.count(), 1);
        files << verdict.layer.path;
        used += verdict.layer.size;
        QCOMPARE(SlotCount, n);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(SlotPath[i], files.at(i));
            QCOMPARE(SlotSource[i], files.at(i));
            QCOMPARE(SlotName[i], QStringLiteral("hit %1.wav").arg(i + 1));
            QCOMPARE(SlotSize[i], 5120 * (i + 1));
            QCOMPARE(SlotSourceSize[i], 5120 * (i + 1));
        }
        for (int i = n; i < kMaxLayers; ++i)
            QVERIFY(SlotPath[i].isEmpty());
        QCOMPARE(Thresholds(), DefaultSpread(n));
        QVERIFY(!table->ThresholdsChosen());
        QCOMPARE(UsedSpace, used);
        QCOMPARE(AvailablePercent, AvailablePercentFor(used));
    }
}

void TestSlotTable::addRefusesSound_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("aboutFile");

    QTest::newRow("file error") << int(RESULT_FILE_ERROR) << QStringLiteral("Format not recognised.") << true;
    QTest::newRow("cannot open") << int(RESULT_OPEN_FAILED) << QStringLiteral("not a regular file") << true;
    QTest::newRow("incompatible") << int(RESULT_INCOMPATIBLE) << QString() << true;
    QTest::newRow("too long") << int(RESULT_TOO_BIG)
                              << QStringLiteral("the sound lasts 40.0 s; a layer holds at most 35.6 s of mono sound")
                              << false;
    QTest::newRow("name too long") << int(RESULT_NAME_TOO_LONG)
                                   << QStringLiteral("the name has 61 characters; at most 60 are allowed") << false;
}

void TestSlotTable::addRefusesSound()
{
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(bool, aboutFile);

    QVERIFY(Fill({4096, 8192}));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    ConversionVerdict verdict = Sound(QStringLiteral("snare.wav"), 2048);
    verdict.refusal = RefusalFor(code, verdict.chosen, detail);
    const Refusal refused = table->Add(verdict);

    QCOMPARE(refused.code, code);
    QCOMPARE(refused.subject, aboutFile ? QStringLiteral("snare.flac") : QString());
    QCOMPARE(refused.detail, detail);
    QVERIFY(refused.words.isEmpty());
    QVERIFY(!QFileInfo::exists(verdict.layer.path));
    QVERIFY(!QFileInfo::exists(QFileInfo(verdict.layer.path).path()));
    QVERIFY(table->State() == before);
    QCOMPARE(Shown(), shown);
    QCOMPARE(changed.count(), 0);
    QVERIFY(QFileInfo::exists(SlotPath[0]));
    QVERIFY(QFileInfo::exists(SlotPath[1]));
}

void TestSlotTable::addRefusesSizes_data()
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

void TestSlotTable::addRefusesSizes()
{
    QFETCH(QVector<int>, before);
    QFETCH(int, added);
    QFETCH(int, code);

    QVERIFY(Fill(before));
    const qint32 used = std::accumulate(before.begin(), before.end(), 0);
    QCOMPARE(UsedSpace, used);
    const SlotState state = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const ConversionVerdict verdict = Sound(QStringLiteral("last.wav"), added);
    QCOMPARE(verdict.layer.size, added);
    const Refusal refused = table->Add(verdict);

    QCOMPARE(refused.code, code);
    if (code == 0) {
        QCOMPARE(changed.count(), 1);
        QCOMPARE(SlotCount, before.size() + 1);
        QCOMPARE(UsedSpace, used + added);
        return;
    }
    QVERIFY(refused.subject.isEmpty());
    QCOMPARE(refused.detail, code == RESULT_NO_SPACE ? NoSpaceDetail(added, used) : SizeTableDetail());
    QVERIFY(!QFileInfo::exists(verdict.layer.path));
    QVERIFY(table->State() == state);
    QCOMPARE(Shown(), shown);
    QCOMPARE(changed.count(), 0);
    for (int i = 0; i < before.size(); ++i)
        QVERIFY(QFileInfo::exists(SlotPath[i]));
}

void TestSlotTable::addRefusesNinthLayer()
{
    QVERIFY(Fill(QVector<int>(kMaxLayers, 1024)));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const ConversionVerdict verdict = Sound(QStringLiteral("hit 9.wav"), 1024);
    const Refusal refused = table->Add(verdict);

    QCOMPARE(refused.subject, QStringLiteral("hit 9.flac"));
    QCOMPARE(refused.words, NoFreeLayerReason());
    QVERIFY(!QFileInfo::exists(verdict.layer.path));
    QVERIFY(table->State() == before);
    QCOMPARE(Shown(), shown);
    QCOMPARE(changed.count(), 0);
}

// A sound refused after trimming leaves neither itself nor its trimmed copy.
void TestSlotTable::refusedTrimmedSoundLeavesNoCopy()
{
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({kLargestLayerSize}, 20000));
    QCOMPARE(SlotSize[0], TrimmedSize(20000));
    QVERIFY(Fill({kLargestLayerSize - TrimmedSize(20000)}));
    const QStringList files = FolderTree(WorkFolder());
    const SlotState before = table->State();

    const ConversionVerdict verdict = Sound(QStringLiteral("tail.wav"), 512000, 2000);
    const Refusal refused = table->Add(verdict);

    QCOMPARE(refused.code, int(RESULT_NO_SPACE));
    QCOMPARE(refused.detail, NoSpaceDetail(TrimmedSize(2000), kLargestLayerSize));
    QCOMPARE(FolderTree(WorkFolder()), files);
    QVERIFY(table->State() == before);
}

void TestSlotTable::replace_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("size"); // or the verdict's result code
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

void TestSlotTable::replace()
{
    QFETCH(int, layer);
    QFETCH(int, size);
    QFETCH(int, code);
    QFETCH(QString, detail);

    QVERIFY(Fill({2095104, 1043456, 1024, 1024, 1024}));
    QVERIFY(table->MoveThreshold(2, 90));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    ConversionVerdict verdict = Sound(QStringLiteral("new.wav"), size > 0 ? size : 2048);
    if (size < 0)
        verdict.refusal = RefusalFor(size, verdict.chosen, detail);
    else
        QCOMPARE(verdict.layer.size, size);
    const Refusal refused = table->Replace(layer, verdict);

    for (int i = 0; i < 5; ++i)
        QVERIFY(QFileInfo::exists(before.path[i]));
    const int i = layer - 1;
    QCOMPARE(refused.code, code);
    if (code == 0) {
        QCOMPARE(changed.count(), 1);
        SlotState expected = before;
        expected.path[i] = expected.source[i] = verdict.layer.path;
        expected.name[i] = QStringLiteral("new.wav");
        expected.size[i] = expected.sourceSize[i] = size;
        QVERIFY(table->State() == expected);
        QCOMPARE(UsedSpace, 2095104 + 1043456 + 3072 - before.size[i] + size);
        QCOMPARE(AvailablePercent, AvailablePercentFor(UsedSpace));
        return;
    }
    QCOMPARE(refused.subject, code == RESULT_FILE_ERROR ? QStringLiteral("new.flac") : QString());
    QCOMPARE(refused.detail, detail);
    QVERIFY(!QFileInfo::exists(verdict.layer.path));
    QVERIFY(table->State() == before);
    QCOMPARE(Shown(), shown);
    QCOMPARE(changed.count(), 0);
}

void TestSlotTable::replaceNoSuchLayer_data()
{
    QTest::addColumn<int>("layer");
    QTest::newRow("layer 0") << 0;
    QTest::newRow("past the last") << 3;
    QTest::newRow("past the table") << kMaxLayers + 1;
}

// A replacement aimed at no layer is refused as any other, its sound
// removed, rather than written outside the table.
void TestSlotTable::replaceNoSuchLayer()
{
    QFETCH(int, layer);
    QVERIFY(Fill({1024, 2048}));
    const SlotState before = table->State();
    QSignalSpy changed(table.get(), &SlotTable::changed);
    const ConversionVerdict verdict = Sound(QStringLiteral("new.wav"), 4096);

    const Refusal refused = table->Replace(layer, verdict);

    QVERIFY(!refused.IsEmpty());
    QCOMPARE(refused.subject, QStringLiteral("new.flac"));
    QVERIFY(!QFileInfo::exists(verdict.layer.path));
    QVERIFY(table->State() == before);
    QCOMPARE(changed.count(), 0);
}

void TestSlotTable::remove_data()
{
    QTest::addColumn<int>("layer");

    for (int layer = 1; layer <= 4; ++layer)
        QTest::addRow("layer %d of 4", layer) << layer;
    QTest::newRow("no layer 0") << 0;
    QTest::newRow("no layer 5") << 5;
}

void TestSlotTable::remove()
{
    QFETCH(int, layer);

    QVERIFY(Fill({1024, 2048, 4096, 8192}));
    QVERIFY(table->MoveThreshold(1, 120));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    table->Remove(layer);

    for (int i = 0; i < 4; ++i)
        QVERIFY(QFileInfo::exists(before.path[i]));
    if (layer < 1 || layer > 4) {
        QCOMPARE(changed.count(), 0);
        QVERIFY(table->State() == before);
        QCOMPARE(Shown(), shown);
        return;
    }
    QCOMPARE(changed.count(), 1);
    QCOMPARE(SlotCount, layer - 1);
    qint32 used = 0;
    for (int i = 0; i < kMaxLayers; ++i) {
        const bool kept = i < layer - 1;
        QCOMPARE(SlotPath[i], kept ? before.path[i] : QString());
        QCOMPARE(SlotName[i], kept ? before.name[i] : QString());
        QCOMPARE(SlotSize[i], kept ? before.size[i] : 0);
        QCOMPARE(SlotSource[i], kept ? before.source[i] : QString());
        QCOMPARE(SlotSourceSize[i], kept ? before.sourceSize[i] : 0);
        used += SlotSize[i];
    }
    QCOMPARE(Thresholds(), DefaultSpread(layer - 1));
    QVERIFY(!table->ThresholdsChosen());
    QCOMPARE(UsedSpace, used);
    QCOMPARE(AvailablePercent, AvailablePercentFor(used));
}

void TestSlotTable::reorderMovesEveryField()
{
    // Trimmed layers, so each layer's file and its untrimmed file differ.
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QVERIFY(table->Add(Sound(QStringLiteral("a.wav"), 102400, 3000)).IsEmpty());
    QVERIFY(table->Add(Sound(QStringLiteral("b.wav"), 8192)).IsEmpty());
    QVERIFY(table->Add(Sound(QStringLiteral("c.wav"), 51200, 1000)).IsEmpty());
    QVERIFY(SlotPath[0] != SlotSource[0]);
    QCOMPARE(SlotPath[1], SlotSource[1]);
    QVERIFY(table->MoveThreshold(2, 70));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const QVector<int> order{2, 0, 1};
    ThresholdTable thresholds = {0, 110, 60, 1, 1, 1, 1, 1, 1};
    table->Reorder(order, thresholds);

    QCOMPARE(changed.count(), 1);
    SlotState expected = before;
    for (int i = 0; i < 3; ++i) {
        const int from = order.at(i);
        expected.path[i] = before.path[from];
        expected.name[i] = before.name[from];
        expected.size[i] = before.size[from];
        expected.source[i] = before.source[from];
        expected.sourceSize[i] = before.sourceSize[from];
    }
    std::copy(thresholds, thresholds + kMaxLayers + 1, expected.threshold);
    expected.thresholdsChosen = false;
    QVERIFY(table->State() == expected);
    QCOMPARE(SlotName[0], QStringLiteral("c.wav"));
    QCOMPARE(Shown(), shown);

    // Each layer's untrimmed file came along with it.
    QVERIFY(table->ApplyTrim(false).IsEmpty());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(SlotPath[i], before.source[order.at(i)]);
        QCOMPARE(SlotSize[i], before.sourceSize[order.at(i)]);
    }
}

void TestSlotTable::trimTails()
{
    const ConversionVerdict tail = Sound(QStringLiteral("tail.wav"), 204800, 5000);
    const ConversionVerdict whole = Sound(QStringLiteral("whole.wav"), 40960);
    QVERIFY(table->Add(tail).IsEmpty());
    QVERIFY(table->Add(whole).IsEmpty());
    QSignalSpy changed(table.get(), &SlotTable::changed);

    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QCOMPARE(changed.count(), 1);
    QVERIFY(table->TrimTails());
    const QString copy = SlotPath[0];
    QVERIFY(copy != tail.layer.path);
    QVERIFY(copy.startsWith(WorkFolder() + QLatin1Char('/')));
    QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("tail.wav"));
    QCOMPARE(SlotSize[0], TrimmedSize(5000));
    QCOMPARE(OpenAndCheckFile(copy), SlotSize[0]);
    QCOMPARE(SlotName[0], QStringLiteral("tail.wav"));
    QCOMPARE(SlotPath[1], whole.layer.path); // nothing to trim
    QCOMPARE(SlotSize[1], 40960);
    QCOMPARE(SlotSource[0], tail.layer.path);
    QCOMPARE(SlotSourceSize[0], 204800);
    QCOMPARE(UsedSpace, TrimmedSize(5000) + 40960);
    QCOMPARE(AvailablePercent, AvailablePercentFor(UsedSpace));
    const QStringList files = FolderTree(WorkFolder());

    {
        // A state kept, as a step of undo keeps it, holds the copy: trimming
        // again takes the same one.
        const SlotState trimmed = table->State();
        QVERIFY(table->ApplyTrim(false).IsEmpty());
        QCOMPARE(changed.count(), 2);
        QVERIFY(!table->TrimTails());
        QCOMPARE(SlotPath[0], tail.layer.path);
        QCOMPARE(SlotSize[0], 204800);
        QCOMPARE(SlotPath[1], whole.layer.path);
        QCOMPARE(UsedSpace, 204800 + 40960);
        QVERIFY(QFileInfo::exists(copy));

        QVERIFY(table->ApplyTrim(true).IsEmpty());
        QCOMPARE(changed.count(), 3);
        QCOMPARE(SlotPath[0], copy);
        QCOMPARE(SlotSize[0], TrimmedSize(5000));
        QCOMPARE(FolderTree(WorkFolder()), files);
    }

    // Held by nothing else, the copy goes with trimming; trimming again
    // makes a new one.
    QVERIFY(table->ApplyTrim(false).IsEmpty());
    QVERIFY(!QFileInfo::exists(copy));
    QVERIFY(!QFileInfo::exists(QFileInfo(copy).path()));
    QVERIFY(QFileInfo::exists(tail.layer.path));
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QCOMPARE(changed.count(), 5);
    QVERIFY(SlotPath[0] != copy);
    QCOMPARE(QFileInfo(SlotPath[0]).fileName(), QStringLiteral("tail.wav"));
    QCOMPARE(SlotSize[0], TrimmedSize(5000));
    QCOMPARE(OpenAndCheckFile(SlotPath[0]), SlotSize[0]);

    // A sound added while the option is on comes in trimmed, by its own name.
    const ConversionVerdict added = Sound(QStringLiteral("added.wav"), 102400, 1000);
    QVERIFY(table->Add(added).IsEmpty());
    QCOMPARE(changed.count(), 6);
    QVERIFY(SlotPath[2] != added.layer.path);
    QCOMPARE(SlotSize[2], TrimmedSize(1000));
    QCOMPARE(SlotSource[2], added.layer.path);
    QCOMPARE(SlotSourceSize[2], 102400);
    QCOMPARE(SlotName[2], QStringLiteral("added.wav"));
}

void TestSlotTable::trimOffRefused_data()
{
    QTest::addColumn<QVector<int>>("untrimmed");
    QTest::addColumn<int>("code");

    QTest::newRow("no room") << QVector<int>{1600000, 1600000} << int(RESULT_NO_SPACE);
    QTest::newRow("size tables") << QVector<int>{kSizeUnitsLimit, 1024, 1024, 1024, 1024} << int(RESULT_TOO_BIG);
}

// Turning trimming off can make the layers grow past what a bank takes.
void TestSlotTable::trimOffRefused()
{
    QFETCH(QVector<int>, untrimmed);
    QFETCH(int, code);

    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QVERIFY(Fill(untrimmed, 2000));
    const SlotState before = table->State();
    const QString shown = Shown();
    const QStringList files = FolderTree(WorkFolder());
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const Refusal refused = table->ApplyTrim(false);

    QCOMPARE(refused.code, code);
    QVERIFY(table->TrimTails());
    QVERIFY(table->State() == before);
    QCOMPARE(Shown(), shown);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(FolderTree(WorkFolder()), files);
}

void TestSlotTable::open_data()
{
    QTest::addColumn<bool>("trim");

    QTest::newRow("trimming off") << false;
    QTest::newRow("trimming on") << true;
}

void TestSlotTable::open()
{
    QFETCH(bool, trim);

    QVERIFY(table->ApplyTrim(trim).IsEmpty());
    QVERIFY(Fill({1024, 2048, 4096}));
    QVERIFY(table->SetGate(3));
    QVERIFY(table->MoveThreshold(1, 120));
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const ConversionVerdict tail = Sound(QStringLiteral("1.wav"), 204800, 5000);
    const ConversionVerdict whole = Sound(QStringLiteral("2.wav"), 8192);
    BankLayer first;
    first.file = {tail.layer.path, QStringLiteral("Kick: hard"), tail.layer.size};
    BankLayer second;
    second.file = {whole.layer.path, QStringLiteral("kick soft.aif"), whole.layer.size};
    const ThresholdTable thresholds = {0, 64, 1, 7, 6, 5, 4, 3, 2};
    table->Open({first, second}, thresholds);

    QCOMPARE(changed.count(), 1);
    QCOMPARE(SlotCount, 2);
    QCOMPARE(SlotName[0], QStringLiteral("Kick: hard"));
    QCOMPARE(SlotName[1], QStringLiteral("kick soft.aif"));
    QCOMPARE(SlotSource[0], tail.layer.path);
    QCOMPARE(SlotSourceSize[0], 204800);
    QCOMPARE(SlotSource[1], whole.layer.path);
    QCOMPARE(SlotSourceSize[1], 8192);
    QCOMPARE(SlotSize[0], trim ? TrimmedSize(5000) : 204800);
    QCOMPARE(SlotPath[0] == tail.layer.path, !trim);
    QCOMPARE(OpenAndCheckFile(SlotPath[0]), SlotSize[0]);
    QCOMPARE(SlotPath[1], whole.layer.path);
    QCOMPARE(SlotSize[1], 8192);
    for (int i = 2; i < kMaxLayers; ++i) {
        QVERIFY(SlotPath[i].isEmpty());
        QVERIFY(SlotName[i].isEmpty());
        QCOMPARE(SlotSize[i], 0);
        QVERIFY(SlotSource[i].isEmpty());
        QCOMPARE(SlotSourceSize[i], 0);
    }
    QVERIFY(std::equal(thresholds, thresholds + kMaxLayers + 1, SlotThreshold));
    // The bank's thresholds are its author's choice, not a spread.
    QVERIFY(table->ThresholdsChosen());
    QCOMPARE(table->GatePosition(), 0);
    QCOMPARE(GateLevel, quint16(0));
    QCOMPARE(table->TrimTails(), trim);
    QCOMPARE(UsedSpace, SlotSize[0] + 8192);
    QCOMPARE(AvailablePercent, AvailablePercentFor(UsedSpace));
}

void TestSlotTable::moveThreshold_data()
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

void TestSlotTable::moveThreshold()
{
    QFETCH(QVector<int>, start);
    QFETCH(int, layer);
    QFETCH(int, position);
    QFETCH(QVector<int>, expected);

    QVERIFY(Fill({1024, 1024, 1024, 1024}));
    ThresholdTable thresholds;
    ToTable(start, thresholds);
    table->SetThresholds(thresholds);
    const SlotState before = table->State();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    const bool moved = table->MoveThreshold(layer, position);

    QCOMPARE(Thresholds(), expected);
    QCOMPARE(moved, expected != start);
    QCOMPARE(changed.count(), moved ? 1 : 0);
    QCOMPARE(table->ThresholdsChosen(), moved);
    if (!moved)
        QVERIFY(table->State() == before);
}

void TestSlotTable::setGate_data()
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

void TestSlotTable::setGate()
{
    QFETCH(int, position);
    QFETCH(bool, valid);

    QVERIFY(Fill({1024}));
    QVERIFY(table->SetGate(valid ? (position + 2) % kGateLevels : 2));
    const SlotState before = table->State();
    const QString shown = Shown();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    QCOMPARE(table->SetGate(position), valid);

    if (!valid) {
        QCOMPARE(changed.count(), 0);
        QVERIFY(table->State() == before);
        QCOMPARE(Shown(), shown);
        return;
    }
    QString label;
    quint16 amplitude = 0;
    QVERIFY(GateForPosition(position, &label, &amplitude));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table->GatePosition(), position);
    QCOMPARE(GateLevel, amplitude);
    SlotState expected = before;
    expected.gatePosition = position;
    QVERIFY(table->State() == expected);
}

void TestSlotTable::restoreRoundTrip()
{
    QSignalSpy changed(table.get(), &SlotTable::changed);
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({102400, 8192, 51200}, 2000));
    QVERIFY(table->SetGate(3));
    QVERIFY(table->MoveThreshold(2, 50));
    QCOMPARE(changed.count(), 6);
    const SlotState saved = table->State();
    const QString shown = Shown();

    table->Remove(2);
    QVERIFY(table->ApplyTrim(false).IsEmpty());
    QVERIFY(table->SetGate(0));
    QVERIFY(table->Add(Sound(QStringLiteral("other.wav"), 4096)).IsEmpty());
    QCOMPARE(changed.count(), 10);
    QVERIFY(table->State() != saved);

    table->Restore(saved);
    QCOMPARE(changed.count(), 11);
    QVERIFY(table->State() == saved);
    QCOMPARE(Shown(), shown);
    QCOMPARE(GateLevel, quint16(328));
    QVERIFY(table->TrimTails());
    QVERIFY(table->ThresholdsChosen());
    for (int i = 0; i < 3; ++i)
        QVERIFY(QFileInfo::exists(SlotPath[i]));

    // Trimming off and on again after the restore uses the same copies.
    QVERIFY(table->ApplyTrim(false).IsEmpty());
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(SlotPath[i], saved.path[i]);
}

// Undo keeps a step only when the state differs, so no part may be left out.
void TestSlotTable::stateComparesEveryField()
{
    const QVector<std::function<void(SlotState &)>> changes{
        [](SlotState &s) { s.path[7] = QStringLiteral("x"); },
        [](SlotState &s) { s.name[3] = QStringLiteral("x"); },
        [](SlotState &s) { s.size[5] = 512; },
        [](SlotState &s) { s.source[0] = QStringLiteral("x"); },
        [](SlotState &s) { s.sourceSize[7] = 512; },
        [](SlotState &s) { s.threshold[0] = 5; },
        [](SlotState &s) { s.threshold[kMaxLayers] = 5; },
        [](SlotState &s) { s.count = 1; },
        [](SlotState &s) { s.gatePosition = 1; },
        [](SlotState &s) { s.trimTails = true; },
        [](SlotState &s) { s.thresholdsChosen = true; },
    };
    const SlotState base = table->State();
    for (int k = 0; k < changes.size(); ++k) {
        SlotState changed = base;
        QVERIFY(changed == base);
        changes.at(k)(changed);
        QVERIFY2(changed != base, QByteArray::number(k));
    }
}

void TestSlotTable::filesGoWithTheirLastHolder_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"remove", "replace", "trim off", "open"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// The files a change takes out of the table stay while a state taken before
// it holds them, and go, folders and all, with that state; the files the
// table holds stay.
void TestSlotTable::filesGoWithTheirLastHolder()
{
    QFETCH(QString, change);
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    QVERIFY(Fill({102400, 51200, 8192}, 2000));
    QVERIFY(SlotPath[0] != SlotSource[0]);
    auto kept = std::make_unique<SlotState>(table->State());
    const QStringList before = FolderTree(WorkFolder());
    QCOMPARE(before, LayerFilesInUse());

    if (change == QLatin1String("remove")) {
        table->Remove(2);
    } else if (change == QLatin1String("replace")) {
        QVERIFY(table->Replace(1, Sound(QStringLiteral("new.wav"), 20480, 1000)).IsEmpty());
    } else if (change == QLatin1String("trim off")) {
        QVERIFY(table->ApplyTrim(false).IsEmpty());
    } else {
        const ConversionVerdict opened = Sound(QStringLiteral("1.wav"), 40960, 1000);
        BankLayer layer;
        layer.file = {opened.layer.path, QStringLiteral("opened"), opened.layer.size};
        const ThresholdTable thresholds = {0, 1, 0, -1, -2, -3, -4, -5, -6};
        table->Open({layer}, thresholds);
    }
    QStringList both = before + LayerFilesInUse();
    both.removeDuplicates();
    both.sort();
    QCOMPARE(FolderTree(WorkFolder()), both);
    QVERIFY(LayerFilesInUse() != both);

    kept.reset();
    QCOMPARE(FolderTree(WorkFolder()), LayerFilesInUse());
    for (int i = 0; i < SlotCount; ++i)
        QCOMPARE(OpenAndCheckFile(SlotPath[i]), SlotSize[i]);
}

ZK_TEST(TestSlotTable)
#include "tst_slottable.moc"
