#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>

#include <functional>
#include <memory>

#include "bankreader.h"
#include "conversionrunner.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "slottable.h"
#include "testmain.h"
#include "testsupport.h"

// The slot table: the window's bank document with its undo stack. Every
// change that goes through it is one step named as the window shows it; a
// refusal or an operation that changes nothing is none.
class TestSlotTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusedVerdict_data();
    void refusedVerdict();
    void eachOperationOneStep_data();
    void eachOperationOneStep();
    void noChangeNoStep_data();
    void noChangeNoStep();
    void groupedOperationsOneStep();
    void undoRedoPutsDocumentBack();
    void twoTablesApart();
    void stepsHoldFilesUpToTheLimit();
    void newChangeDropsRedoFiles();

private:
    // A sound as the conversion leaves it: 16-bit mono at the bank's rate,
    // of layer size `layerSize`, in a fresh numbered folder of the working
    // folder; the chosen file is a FLAC of the same base name.
    ConversionVerdict Sound(const QString &name, qint32 layerSize);
    bool Fill(SlotTable &table, int count);

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

ConversionVerdict TestSlotTable::Sound(const QString &name, qint32 layerSize)
{
    const int frames = (layerSize - kBankBlock) / 2;
    ConversionVerdict verdict;
    verdict.chosen = chosenFolder.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".flac"));
    verdict.layer.path = NewResultFolder(WorkFolder()) + QLatin1Char('/') + name;
    verdict.layer.name = name;
    if (!WriteBytes(verdict.layer.path, Wav16(1, kBankRate, Square(frames, 12000))))
        qFatal("cannot write %s", qPrintable(verdict.layer.path));
    verdict.layer.size = OpenAndCheckFile(verdict.layer.path);
    return verdict;
}

bool TestSlotTable::Fill(SlotTable &into, int count)
{
    for (int n = 1; n <= count; ++n) {
        if (!into.Add(Sound(QStringLiteral("hit %1.wav").arg(into.Document().Count() + 1), 1024 * n)).IsEmpty())
            return false;
    }
    return true;
}

void TestSlotTable::refusedVerdict_data()
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
    QTest::newRow("no conversion made") << 0 << QStringLiteral("cancelled") << true;
}

// A verdict that refuses the sound is told as the box tells it: about the
// chosen file where the file itself is at fault.
void TestSlotTable::refusedVerdict()
{
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(bool, aboutFile);

    QVERIFY(Fill(*table, 2));
    const BankDocument before = table->Document();
    const int steps = table->UndoStack()->count();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    for (const bool replace : {false, true}) {
        ConversionVerdict verdict = Sound(QStringLiteral("snare.wav"), 2048);
        if (code == 0)
            verdict.cancelled = true;
        else
            verdict.refusal = RefusalFor(code, verdict.chosen, detail);
        const Refusal refused = replace ? table->Replace(1, verdict) : table->Add(verdict);

        QCOMPARE(refused.code, code == 0 ? int(RESULT_FILE_ERROR) : code);
        QCOMPARE(refused.subject, aboutFile ? QStringLiteral("snare.flac") : QString());
        QCOMPARE(refused.detail, detail);
        QVERIFY(!QFileInfo::exists(verdict.layer.path));
    }
    QVERIFY(table->Document() == before);
    QCOMPARE(table->UndoStack()->count(), steps);
    QCOMPARE(changed.count(), 0);
}

void TestSlotTable::eachOperationOneStep_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("text");

    QTest::newRow("add") << "add" << "Add snare.wav";
    QTest::newRow("replace") << "replace" << "Replace layer 2";
    QTest::newRow("remove") << "remove" << "Remove hit 2.wav";
    QTest::newRow("reorder") << "reorder" << "Order by loudness";
    QTest::newRow("trim") << "trim" << "Trim tails";
    QTest::newRow("open") << "open" << "Open kit.zks";
    QTest::newRow("spread") << "spread" << "Spread thresholds";
    QTest::newRow("move threshold") << "move" << "Move threshold";
    QTest::newRow("gate") << "gate" << "Gate";
}

void TestSlotTable::eachOperationOneStep()
{
    QFETCH(QString, operation);
    QFETCH(QString, text);

    QVERIFY(Fill(*table, 3));
    QUndoStack *stack = table->UndoStack();
    const int steps = stack->count();
    const BankDocument before = table->Document();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    if (operation == QLatin1String("add")) {
        QVERIFY(table->Add(Sound(QStringLiteral("snare.wav"), 4096)).IsEmpty());
    } else if (operation == QLatin1String("replace")) {
        QVERIFY(table->Replace(2, Sound(QStringLiteral("snare.wav"), 4096)).IsEmpty());
    } else if (operation == QLatin1String("remove")) {
        table->Remove(2);
    } else if (operation == QLatin1String("reorder")) {
        const ThresholdTable thresholds = {0, 100, 50, 1, 1, 1, 1, 1, 1};
        table->Reorder({2, 1, 0}, thresholds);
    } else if (operation == QLatin1String("trim")) {
        QVERIFY(table->ApplyTrim(true).IsEmpty());
    } else if (operation == QLatin1String("open")) {
        const ConversionVerdict sound = Sound(QStringLiteral("1.wav"), 4096);
        BankLayer layer;
        layer.file = {sound.layer.path, QStringLiteral("opened"), sound.layer.size};
        const ThresholdTable thresholds = {0, 1, 0, -1, -2, -3, -4, -5, -6};
        table->Open({layer}, thresholds, QStringLiteral("Open kit.zks"));
    } else if (operation == QLatin1String("spread")) {
        const ThresholdTable thresholds = {0, 90, 30, 1, 0, -1, -2, -3, -4};
        table->SetThresholds(thresholds);
    } else if (operation == QLatin1String("move")) {
        QVERIFY(table->MoveThreshold(1, 100));
    } else {
        QVERIFY(table->SetGate(3));
    }

    QCOMPARE(changed.count(), 1);
    QCOMPARE(stack->count(), steps + 1);
    QCOMPARE(stack->undoText(), text);
    const BankDocument after = table->Document();
    QVERIFY(after != before);
    stack->undo();
    QVERIFY(table->Document() == before);
    stack->redo();
    QVERIFY(table->Document() == after);
    QCOMPARE(changed.count(), 3);
}

void TestSlotTable::noChangeNoStep_data()
{
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"add a ninth", "no such layer to replace", "no such layer to remove",
                                  "move past the end", "no such gate", "same thresholds", "trim refused"})
        QTest::newRow(operation) << QString::fromLatin1(operation);
}

void TestSlotTable::noChangeNoStep()
{
    QFETCH(QString, operation);

    if (operation == QLatin1String("trim refused")) {
        // Two layers that fit trimmed, but whose untrimmed sounds leave no room.
        QVERIFY(table->ApplyTrim(true).IsEmpty());
        for (const QString &name : {QStringLiteral("tail.wav"), QStringLiteral("other.wav")}) {
            const ConversionVerdict tail = Sound(name, 1600000);
            // Loud for 2000 frames, silent after.
            QFile file(tail.layer.path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(kWavHeaderSize + 2 * 2000));
            QVERIFY(file.resize(kWavHeaderSize + 1600000 - kBankBlock));
            file.close();
            QVERIFY(table->Add(tail).IsEmpty());
        }
    } else {
        QVERIFY(Fill(*table, operation == QLatin1String("add a ninth") ? kMaxLayers : 2));
    }
    const int steps = table->UndoStack()->count();
    const BankDocument before = table->Document();
    QSignalSpy changed(table.get(), &SlotTable::changed);

    if (operation == QLatin1String("add a ninth")) {
        QVERIFY(!table->Add(Sound(QStringLiteral("nine.wav"), 1024)).IsEmpty());
    } else if (operation == QLatin1String("no such layer to replace")) {
        QVERIFY(!table->Replace(3, Sound(QStringLiteral("new.wav"), 1024)).IsEmpty());
    } else if (operation == QLatin1String("no such layer to remove")) {
        table->Remove(3);
    } else if (operation == QLatin1String("move past the end")) {
        QVERIFY(!table->MoveThreshold(9, 50));
    } else if (operation == QLatin1String("no such gate")) {
        QVERIFY(!table->SetGate(5));
    } else if (operation == QLatin1String("same thresholds")) {
        ThresholdTable same;
        std::copy(before.Thresholds(), before.Thresholds() + kMaxLayers + 1, same);
        table->SetThresholds(same);
    } else {
        QCOMPARE(table->ApplyTrim(false).code, int(RESULT_NO_SPACE));
    }

    QVERIFY(table->Document() == before);
    QCOMPARE(table->UndoStack()->count(), steps);
    QCOMPARE(changed.count(), operation == QLatin1String("same thresholds") ? 1 : 0);
}

// A drag or a queue of sounds: everything between the first BeginStep and
// its EndStep is one step, named by the first; nothing changed, none.
void TestSlotTable::groupedOperationsOneStep()
{
    QVERIFY(Fill(*table, 3));
    QUndoStack *stack = table->UndoStack();
    const int steps = stack->count();
    const BankDocument before = table->Document();

    table->BeginStep(QStringLiteral("Move threshold"));
    QVERIFY(table->InStep());
    QVERIFY(table->MoveThreshold(1, 120));
    table->BeginStep(QStringLiteral("Gate"));
    QVERIFY(table->SetGate(2));
    table->EndStep();
    QVERIFY(table->MoveThreshold(1, 110));
    QCOMPARE(stack->count(), steps);
    table->EndStep();
    QVERIFY(!table->InStep());
    QCOMPARE(stack->count(), steps + 1);
    QCOMPARE(stack->undoText(), QStringLiteral("Move threshold"));
    const BankDocument after = table->Document();
    QCOMPARE(after.Threshold(1), 110);
    QCOMPARE(after.GatePosition(), 2);
    stack->undo();
    QVERIFY(table->Document() == before);
    stack->redo();
    QVERIFY(table->Document() == after);

    // Moved and moved back: no step.
    table->BeginStep(QStringLiteral("Move threshold"));
    QVERIFY(table->MoveThreshold(1, 90));
    QVERIFY(table->MoveThreshold(1, 110));
    table->EndStep();
    QCOMPARE(stack->count(), steps + 1);
    // An EndStep without a BeginStep changes nothing.
    table->EndStep();
    QVERIFY(!table->InStep());
    QVERIFY(table->SetGate(0));
    QCOMPARE(stack->count(), steps + 2);
}

void TestSlotTable::undoRedoPutsDocumentBack()
{
    QVector<BankDocument> states{table->Document()};
    QVERIFY(table->Add(Sound(QStringLiteral("a.wav"), 8192)).IsEmpty());
    states << table->Document();
    QVERIFY(table->Add(Sound(QStringLiteral("b.wav"), 4096)).IsEmpty());
    states << table->Document();
    QVERIFY(table->ApplyTrim(true).IsEmpty());
    states << table->Document();
    QVERIFY(table->MoveThreshold(1, 100));
    states << table->Document();
    QUndoStack *stack = table->UndoStack();
    QCOMPARE(stack->count(), 4);
    QSignalSpy changed(table.get(), &SlotTable::changed);
    for (int step = 3; step >= 0; --step) {
        stack->undo();
        QVERIFY2(table->Document() == states.at(step), QByteArray::number(step));
        QCOMPARE(table->Document().AvailablePercent(), AvailablePercentFor(table->Document().UsedSpace()));
    }
    for (int step = 1; step <= 4; ++step) {
        stack->redo();
        QVERIFY2(table->Document() == states.at(step), QByteArray::number(step));
    }
    QCOMPARE(changed.count(), 8);
}

// Two tables at once keep banks of their own: a second one leaves the
// first's as it was.
void TestSlotTable::twoTablesApart()
{
    QVERIFY(Fill(*table, 2));
    QVERIFY(table->SetGate(3));
    const BankDocument first = table->Document();

    SlotTable second;
    QCOMPARE(second.Document().Count(), 0);
    QCOMPARE(second.GatePosition(), 0);
    QCOMPARE(second.UndoStack()->count(), 0);
    QVERIFY(table->Document() == first);
    QCOMPARE(table->Document().GateLevel(), first.GateLevel());

    QVERIFY(Fill(second, 1));
    second.UndoStack()->undo();
    QCOMPARE(second.Document().Count(), 0);
    QVERIFY(table->Document() == first);
    QVERIFY(QFileInfo::exists(first.Path(1)));
}

// A layer taken out of the bank keeps its file while a step of undo can
// bring it back; once the stack lets that step go (it keeps the last
// kUndoSteps), the file and its folder go too.
void TestSlotTable::stepsHoldFilesUpToTheLimit()
{
    QVERIFY(Fill(*table, 2));
    const QString old = table->Document().Path(2);
    QVERIFY(table->Replace(2, Sound(QStringLiteral("new.wav"), 2048)).IsEmpty());
    QVERIFY(QFileInfo::exists(old));

    QUndoStack *stack = table->UndoStack();
    for (int k = 1; k < SlotTable::kUndoSteps; ++k)
        QVERIFY(table->SetGate(k % 2 == 1 ? 1 : 0));
    QCOMPARE(stack->count(), SlotTable::kUndoSteps);
    QCOMPARE(stack->command(0)->text(), QStringLiteral("Replace layer 2"));
    QVERIFY(QFileInfo::exists(old));

    QVERIFY(table->SetGate(3));
    QCOMPARE(stack->count(), SlotTable::kUndoSteps);
    QVERIFY(!QFileInfo::exists(old));
    QVERIFY(!QFileInfo::exists(QFileInfo(old).path()));
    QCOMPARE(FolderTree(WorkFolder()), LayerFilesInUse(table->Document()));
}

// Undone steps that a new change replaces let their files go.
void TestSlotTable::newChangeDropsRedoFiles()
{
    QVERIFY(Fill(*table, 1));
    QVERIFY(table->Add(Sound(QStringLiteral("undone.wav"), 2048)).IsEmpty());
    const QString undone = table->Document().Path(2);
    table->UndoStack()->undo();
    QCOMPARE(table->Document().Count(), 1);
    QVERIFY(QFileInfo::exists(undone)); // redo may bring it back

    QVERIFY(table->SetGate(2));
    QVERIFY(!table->UndoStack()->canRedo());
    QVERIFY(!QFileInfo::exists(undone));
    QCOMPARE(FolderTree(WorkFolder()), LayerFilesInUse(table->Document()));
}

ZK_TEST(TestSlotTable)
#include "tst_slottable.moc"
