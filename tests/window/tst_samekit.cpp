#include <QtTest>

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
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

// A drumkit.xml of one instrument; `name` empty leaves it unnamed.
QByteArray OneInstrumentKit(const QByteArray &name, const QVector<QByteArray> &layers)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<drumkit_info><name>Kit</name><instrumentList><instrument>";
    if (!name.isEmpty())
        xml += "<name>" + name + "</name>";
    for (const QByteArray &layer : layers)
        xml += "<layer>" + layer + "</layer>";
    return xml + "</instrument></instrumentList></drumkit_info>\n";
}

// `count` layers of equal ranges, softest first, each a sample of its own
// `seconds` long.
QVector<QByteArray> EvenLayers(int count, const QString &folder, double seconds, bool *written)
{
    QVector<QByteArray> layers;
    *written = true;
    for (int i = 0; i < count; ++i) {
        const QByteArray file = "hit " + QByteArray::number(i + 1) + ".wav";
        *written = *written
            && WriteBytes(folder + QLatin1Char('/') + QString::fromLatin1(file),
                          Wav16(1, kBankRate, HitWithLeadAndHiss(-30.0 + 3 * i).mid(0, int(seconds * kBankRate))));
        layers << "<filename>" + file + "</filename><min>" + QByteArray::number(double(i) / count, 'g', 17)
                + "</min><max>" + QByteArray::number(double(i + 1) / count, 'g', 17) + "</max>";
    }
    return layers;
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
    void windowAndToolImportOneBank_data();
    void windowAndToolImportOneBank();

private:
    WindowFixture home;
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

    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    auto *trimBox = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    if (trimBox->isChecked() != trim)
        trimBox->click();
    if (fromBank) {
        prompts.openAnswers << QStringList{inputs.first()};
        window.findChild<QPushButton *>(QStringLiteral("OpenBankButton"))->click();
    } else {
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(AddLayerAnswered(window, prompts, i + 1, files.at(i)).isEmpty());
    }
    QCOMPARE(Bank().Count(), int(files.size()));
    // Opening a bank sets the gate to the one its sounds were cut with.
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(gate);
    if (order)
        window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
    prompts.saveAnswers << windowBank;
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
    QVERIFY(prompts.messages.isEmpty());

    ZksBank made;
    QString error;
    QVERIFY2(ReadZksBank(toolBank, &made, &error), qPrintable(error));
    QCOMPARE(int(made.regions.size()), Bank().Count());
    for (int i = 0; i < Bank().Count(); ++i)
        QCOMPARE(made.regions.at(i).size, qint64(Bank().Size(i + 1)));
    const QByteArray fromTool = ReadAll(toolBank);
    const QByteArray fromWindow = ReadAll(windowBank);
    QVERIFY(!fromTool.isEmpty());
    QCOMPARE(fromWindow.size(), fromTool.size());
    QVERIFY(WithoutTag(fromWindow) == WithoutTag(fromTool));
}

// "Import Kit" and zkstool import-kit name, plan and shape an instrument
// through one engine function: the same bank to the byte, tag aside.
// "Trim tails" off imports as --keep-tails does.
void TestSameKit::windowAndToolImportOneBank_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("instrument"); // as the chooser and the bank's name give it
    QTest::addColumn<bool>("trim");
    QTest::newRow("unnamed") << "unnamed" << "instrument 1" << true;
    QTest::newRow("unnamed, tails kept") << "unnamed" << "instrument 1" << false;
    QTest::newRow("long sample names") << "long" << "Snare" << true;
    QTest::newRow("sfz regions summed") << "sfz" << "c2 (36)" << true;
    QTest::newRow("sf2 key of velocity layers") << "sf2" << "Drums - 36 Bass Drum 1" << true;
    QTest::newRow("ten layers") << "ten" << "Tom" << true;
    QTest::newRow("over the budget") << "budget" << "Crash" << true;
    QTest::newRow("over the budget, tails kept") << "budget" << "Crash" << false;
}

void TestSameKit::windowAndToolImportOneBank()
{
    QFETCH(QString, shape);
    QFETCH(QString, instrument);
    QFETCH(bool, trim);
    const QString folder = home.path() + QLatin1Char('/') + QString::fromLatin1(QTest::currentDataTag());
    const QString kitFolder = folder + QStringLiteral("/kit");
    QString kit = kitFolder + QStringLiteral("/drumkit.xml");
    bool written = false;
    if (shape == QLatin1String("unnamed")) {
        QVERIFY(WriteBytes(kit, OneInstrumentKit(QByteArray(), EvenLayers(2, kitFolder, 0.5, &written))));
    } else if (shape == QLatin1String("long")) {
        const QString name = QString(70, QLatin1Char('s'));
        written = WriteBytes(kitFolder + QLatin1Char('/') + name + QStringLiteral("1.wav"),
                             Wav16(1, kBankRate, HitWithLeadAndHiss(-20)))
            && WriteBytes(kitFolder + QLatin1Char('/') + name + QStringLiteral("2.wav"),
                          Wav16(2, kBankRate, Interleaved(HitWithLeadAndHiss(-6), HitWithLeadAndHiss(-12))));
        QVERIFY(WriteBytes(kit, OneInstrumentKit("Snare", {"<filename>" + name.toLatin1() + "1.wav</filename>"
                                                           "<min>0</min><max>0.5</max>",
                                                           "<filename>" + name.toLatin1() + "2.wav</filename>"
                                                           "<min>0.5</min><max>1</max>"})));
    } else if (shape == QLatin1String("sfz")) {
        written = WriteBytes(kitFolder + QStringLiteral("/close.wav"), Wav16(1, kBankRate, HitWithLeadAndHiss(-3)))
            && WriteBytes(kitFolder + QStringLiteral("/room.wav"),
                          Wav16(2, kBankRate / 2, Interleaved(HitWithLeadAndHiss(-2), HitWithLeadAndHiss(-4))));
        kit = kitFolder + QStringLiteral("/drums.sfz");
        QVERIFY(WriteBytes(kit, "<group> key=36\n<region> lovel=64 sample=close.wav\n"
                                "<region> lovel=64 sample=room.wav offset=100 end=3000\n"
                                "<region> hivel=63 sample=close.wav volume=-6\n"));
    } else if (shape == QLatin1String("sf2")) {
        kit = kitFolder + QStringLiteral("/drums.sf2");
        written = WriteBytes(kit, Sf2File(TwoPresetFont(60)));
    } else if (shape == QLatin1String("ten")) {
        QVERIFY(WriteBytes(kit, OneInstrumentKit("Tom", EvenLayers(10, kitFolder, 0.5, &written))));
    } else {
        QVERIFY(WriteBytes(kit, OneInstrumentKit("Crash", EvenLayers(4, kitFolder, 1.5, &written))));
        for (int i = 0; i < 4; ++i)
            written = written
                && WriteBytes(kitFolder + QStringLiteral("/hit %1.wav").arg(i + 1),
                              Wav16(1, kBankRate, Sine1k(9 * kBankRate, -6.0 - i)));
    }
    QVERIFY(written);
    const QString bankName = QFileInfo(kit).suffix() == QLatin1String("sfz") ? QStringLiteral("drums - %1.zks").arg(instrument)
        : QFileInfo(kit).suffix() == QLatin1String("sf2")                    ? instrument + QStringLiteral(".zks")
                                                                              : QStringLiteral("Kit - %1.zks").arg(instrument);

    QStringList arguments{"import-kit", kit, folder + QStringLiteral("/tool")};
    if (!trim)
        arguments << QStringLiteral("--keep-tails");
    const ToolRun run = RunTool(arguments);
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    const QString toolBank = folder + QStringLiteral("/tool/") + bankName;
    QVERIFY2(QFileInfo::exists(toolBank), qPrintable(Show(run)));

    ZKWindow window;
    window.show();
    auto *trimBox = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    if (trimBox->isChecked() != trim)
        trimBox->click();
    SeenKitDialog seen;
    AnswerFileDialog(kit);
    QPointer<QTimer> watch = ChooseInstrument(0, &seen);
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    delete watch;
    QVERIFY(seen.seen);
    // A SoundFont's keys are listed below their preset's line.
    QCOMPARE(seen.rows.value(shape == QLatin1String("sf2") ? 1 : 0).section(QLatin1Char('|'), 0, 0).trimmed(),
             instrument);
    QVERIFY(Bank().Count() > 0);
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(0);
    const QString windowBank = folder + QStringLiteral("/window/") + bankName;
    QVERIFY(QDir().mkpath(QFileInfo(windowBank).absolutePath()));
    AnswerFileDialog(windowBank);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();

    const QByteArray fromTool = ReadAll(toolBank);
    const QByteArray fromWindow = ReadAll(windowBank);
    QVERIFY(!fromTool.isEmpty());
    QCOMPARE(fromWindow.size(), fromTool.size());
    QVERIFY(WithoutTag(fromWindow) == WithoutTag(fromTool));
}

ZK_TEST(TestSameKit)
#include "tst_samekit.moc"
