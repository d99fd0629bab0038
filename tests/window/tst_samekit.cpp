#include <QtTest>

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>

#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "zksbank.h"
#include "zkslayout.h"
#include "zkwindow.h"

namespace {

// A hit: a quiet lead the -40 dB gate cuts, the strike, then a hiss below
// -60 dBFS that trimming cuts.
QVector<qint16> HitWithLeadAndHiss(double strikeDbfs)
{
    QVector<qint16> sound(3000, 100);
    sound += Sine1k(4000, strikeDbfs);
    for (int i = 0; i < kBankRate; ++i)
        sound << qint16(i % 2 ? -5 : 5);
    return sound;
}

QString GateLabel(int position)
{
    QString label;
    quint16 amplitude = 0;
    GateForPosition(position, &label, &amplitude);
    return position == 0 ? QStringLiteral("off") : label;
}

} // namespace

// The window and zkstool build share one kit pipeline: the same files with
// the same options make the same layer sizes and the same bank.
class TestSameKit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowAndToolMakeOneBank_data();
    void windowAndToolMakeOneBank();

private:
    TestHome home;
};

void TestSameKit::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestSameKit::init()
{
    home.startTest();
}

void TestSameKit::cleanup()
{
    home.endTest();
}

void TestSameKit::windowAndToolMakeOneBank_data()
{
    QTest::addColumn<bool>("fromBank"); // the layers come from a bank built with the -40 dB gate
    QTest::addColumn<int>("gate");      // slider position
    QTest::addColumn<bool>("trim");
    QTest::addColumn<bool>("order");

    QTest::newRow("sound files") << false << 0 << false << false;
    QTest::newRow("sound files, gate -40dB, trimmed") << false << 3 << true << false;
    QTest::newRow("sound files, trimmed, by loudness") << false << 0 << true << true;
    QTest::newRow("bank, gate -40dB") << true << 3 << false << false;
    QTest::newRow("bank, gate -40dB, trimmed") << true << 3 << true << false;
    QTest::newRow("bank, trimmed") << true << 0 << true << false;
}

void TestSameKit::windowAndToolMakeOneBank()
{
    QFETCH(bool, fromBank);
    QFETCH(int, gate);
    QFETCH(bool, trim);
    QFETCH(bool, order);

    const QString folder = home.path() + QLatin1Char('/') + QString::fromLatin1(QTest::currentDataTag());
    QStringList files;
    const QVector<double> strikes{-12, -1, -24};
    for (int i = 0; i < strikes.size(); ++i) {
        files << QStringLiteral("%1/sounds/hit %2.wav").arg(folder).arg(i + 1);
        QVERIFY(WriteBytes(files.last(), Wav16(1, kBankRate, HitWithLeadAndHiss(strikes.at(i)))));
    }
    QStringList inputs = files;
    if (fromBank) {
        const QString bank = folder + QStringLiteral("/gated.zks");
        const ToolRun built = RunTool(QStringList{"build", "-o", bank, "--gate", "-40dB"} + files);
        QVERIFY2(built.exitCode == 0, qPrintable(Show(built)));
        inputs = QStringList{bank};
    }

    const QString toolBank = folder + QStringLiteral("/tool/kit.zks");
    const QString windowBank = folder + QStringLiteral("/window/kit.zks");
    QVERIFY(QDir().mkpath(QFileInfo(toolBank).absolutePath()));
    QVERIFY(QDir().mkpath(QFileInfo(windowBank).absolutePath()));
    QStringList arguments{"build", "-o", toolBank, "--gate", GateLabel(gate)};
    if (trim)
        arguments << QStringLiteral("--trim-tails");
    if (order)
        arguments << QStringLiteral("--order-by-loudness");
    const ToolRun run = RunTool(arguments + inputs);
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));

    ZKWindow window;
    window.show();
    auto *trimBox = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    if (trimBox->isChecked() != trim)
        trimBox->click();
    if (fromBank) {
        AnswerFileDialog(inputs.first());
        window.findChild<QPushButton *>(QStringLiteral("OpenBankButton"))->click();
    } else {
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(!AddLayerThroughDialog(&window, i + 1, files.at(i)).seen);
    }
    QCOMPARE(SlotCount, int(files.size()));
    // Opening a bank sets the gate to the one its sounds were cut with.
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(gate);
    if (order)
        window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
    AnswerFileDialog(windowBank);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();

    ZksBank made;
    QString error;
    QVERIFY2(ReadZksBank(toolBank, &made, &error), qPrintable(error));
    QCOMPARE(int(made.regions.size()), SlotCount);
    for (int i = 0; i < SlotCount; ++i)
        QCOMPARE(made.regions.at(i).size, qint64(SlotSize[i]));
    const QByteArray fromTool = ReadAll(toolBank);
    const QByteArray fromWindow = ReadAll(windowBank);
    QVERIFY(!fromTool.isEmpty());
    QCOMPARE(fromWindow.size(), fromTool.size());
    QVERIFY(WithoutTag(fromWindow) == WithoutTag(fromTool));
}

ZK_TEST(TestSameKit)
#include "tst_samekit.moc"
