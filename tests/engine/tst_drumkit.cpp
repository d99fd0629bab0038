#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "drumkit.h"
#include "kitplan.h"
#include "testmain.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<double>)

namespace {

// Layers from "min-max min-max ...", in file order.
QVector<KitLayer> Ranges(const QString &text)
{
    QVector<KitLayer> layers;
    for (const QString &range : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        KitLayer layer;
        layer.path = QStringLiteral("/kit/%1.wav").arg(layers.size());
        layer.min = range.section(QLatin1Char('-'), 0, 0).toDouble();
        layer.max = range.section(QLatin1Char('-'), 1, 1).toDouble();
        layers << layer;
    }
    return layers;
}

QString Steps(int parts, bool loudestFirst)
{
    QStringList ranges;
    for (int i = 0; i < parts; ++i) {
        const int k = loudestFirst ? parts - 1 - i : i;
        ranges << QStringLiteral("%1-%2").arg(double(k) / parts, 0, 'g', 17).arg(double(k + 1) / parts, 0, 'g', 17);
    }
    return ranges.join(QLatin1Char(' '));
}

QByteArray Kit(const QByteArray &instruments, const QByteArray &ns = QByteArray())
{
    return "<?xml version=\"1.0\"?>\n<drumkit_info" + ns + ">\n<name>Test Kit</name>\n"
           "<author>me</author>\n<instrumentList>\n" + instruments + "</instrumentList>\n</drumkit_info>\n";
}

} // namespace

class TestDrumkit : public QObject
{
    Q_OBJECT

private slots:
    void thresholds_data();
    void thresholds();
    void generations_data();
    void generations();
    void missingSampleIsLeftOut();
    void archiveUnpacks();
    void archiveEntryOutsideIsRefused();
    void bankNames();
    void layerSamples_data();
    void layerSamples();
    void clippingScalesTheWholeInstrument();
    void longLayersAreCut();
};

void TestDrumkit::thresholds_data()
{
    QTest::addColumn<QString>("ranges");
    QTest::addColumn<QVector<int>>("kept"); // file-order indices, loudest first
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<QString>("note");

    QTest::newRow("eighths, loudest first") << Steps(8, true) << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7}
                                            << QVector<int>{112, 96, 80, 64, 48, 32, 16, 1} << QString();
    QTest::newRow("eighths, softest first") << Steps(8, false) << QVector<int>{7, 6, 5, 4, 3, 2, 1, 0}
                                            << QVector<int>{112, 96, 80, 64, 48, 32, 16, 1} << QString();
    // 0.3 < x < 0.5 matches nothing: the nearest min takes it.
    QTest::newRow("gap") << "0.5-1 0-0.3" << QVector<int>{0, 1} << QVector<int>{39, 1} << QString();
    QTest::newRow("overlap") << "0.4-1 0-0.6" << QVector<int>{0, 1} << QVector<int>{51, 1} << QString();
    QTest::newRow("nested from 0, widest first")
        << "0-1 0-0.5" << QVector<int>{0} << QVector<int>{1} << "layer 2 (0..0.5) plays no hit strength";
    QTest::newRow("nested from 0, narrowest first")
        << "0-0.5 0-1" << QVector<int>{1, 0} << QVector<int>{64, 1} << QString();
    QTest::newRow("plays nothing")
        << "0-1 0.2-0.4" << QVector<int>{0} << QVector<int>{1} << "layer 2 (0.2..0.4) plays no hit strength";
    QTest::newRow("round robins") << "0.5-1 0.5-1 0-0.5 0.5-1" << QVector<int>{0, 2} << QVector<int>{64, 1}
                                  << "2 round-robin layer(s) left out";
    // Ranks 1, 4, 7 and 10 go, each to the louder of its two neighbours.
    QTest::newRow("12 layers") << Steps(12, true) << QVector<int>{0, 2, 3, 5, 6, 8, 9, 11}
                               << QVector<int>{106, 96, 75, 64, 43, 32, 11, 1} << "12 layers reduced to 8";
    QTest::newRow("top above the slider") << "1-1 0-1" << QVector<int>{0, 1} << QVector<int>{126, 1} << QString();
    QTest::newRow("single layer, part range") << "0.5-1" << QVector<int>{0} << QVector<int>{1} << QString();
}

void TestDrumkit::thresholds()
{
    QFETCH(QString, ranges);
    QFETCH(QVector<int>, kept);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QString, note);
    KitPlan plan = PlanKitLayers(Ranges(ranges));
    ReduceKitPlan(&plan, kMaxLayers);
    FinishThresholds(&plan);
    QCOMPARE(plan.layers, kept);
    QCOMPARE(plan.thresholds, thresholds);
    if (note.isEmpty())
        QVERIFY2(plan.notes.isEmpty(), qPrintable(plan.notes.join(QLatin1Char('\n'))));
    else
        QVERIFY2(plan.notes.contains(note), qPrintable(plan.notes.join(QLatin1Char('\n'))));
}

void TestDrumkit::generations_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("layers");
    QTest::addColumn<double>("gain"); // the first layer's, its component's included
    QTest::addColumn<double>("pitch");

    QTest::newRow("filename in the instrument")
        << Kit("<instrument><id>0</id><name>Kick</name><filename>soft.wav</filename></instrument>\n")
        << 1 << 1.0 << 0.0;
    QTest::newRow("layers in the instrument")
        << Kit("<instrument><name>Kick</name><gain>0.5</gain>"
               "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max><gain>0.8</gain><pitch>2</pitch></layer>"
               "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrument>\n")
        << 2 << 0.8 << 2.0;
    QTest::newRow("layers in a component, the first with layers")
        << Kit("<instrument><name>Kick</name><instrumentComponent><gain>0.1</gain></instrumentComponent>"
               "<instrumentComponent><gain>0.5</gain><unknown><layer/></unknown>"
               "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max><gain>0.8</gain></layer>"
               "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrumentComponent>"
               "<instrumentComponent><layer><filename>soft.wav</filename></layer></instrumentComponent>"
               "</instrument>\n")
        << 2 << 0.4 << 0.0;
    QTest::newRow("with a namespace")
        << Kit("<instrument><name>Kick</name><instrumentComponent>"
               "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
               "</instrumentComponent></instrument>\n",
               " xmlns=\"http://www.example.org/drumkit\"")
        << 1 << 1.0 << 0.0;
}

void TestDrumkit::generations()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, layers);
    QFETCH(double, gain);
    QFETCH(double, pitch);
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("kit/soft.wav")), Wav16(1, kBankRate, Ramp(100))));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("kit/loud.wav")), Wav16(1, kBankRate, Ramp(100))));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("kit/drumkit.xml")), xml));
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(tmp.filePath(QStringLiteral("kit")), tmp.filePath(QStringLiteral("work")), &kit, &error),
             qPrintable(error));
    QCOMPARE(kit.name, QStringLiteral("Test Kit"));
    QCOMPARE(kit.instruments.size(), 1);
    const KitInstrument &kick = kit.instruments.first();
    QCOMPARE(kick.name, QStringLiteral("Kick"));
    QCOMPARE(kick.layers.size(), layers);
    QVERIFY(kick.problems.isEmpty());
    QCOMPARE(kick.layers.first().gain, gain);
    QCOMPARE(kick.layers.first().pitch, pitch);
    QVERIFY(QFileInfo::exists(kick.layers.first().path));
    if (layers == 2) {
        QCOMPARE(kick.layers.at(1).path, tmp.filePath(QStringLiteral("kit/soft.wav")));
        QCOMPARE(kick.layers.at(1).max, 0.5);
    }
}

void TestDrumkit::missingSampleIsLeftOut()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("soft.wav")), Wav16(1, kBankRate, Ramp(100))));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("drumkit.xml")),
                       Kit("<instrument><name>Snare</name>"
                           "<layer><filename>gone.wav</filename><min>0.5</min><max>1</max></layer>"
                           "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrument>"
                           "<instrument><name>Tom</name><filename>gone.wav</filename></instrument>\n")));
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(tmp.filePath(QStringLiteral("drumkit.xml")), tmp.path(), &kit, &error), qPrintable(error));
    QCOMPARE(kit.instruments.size(), 2);
    QCOMPARE(kit.instruments.at(0).layers.size(), 1);
    QCOMPARE(kit.instruments.at(0).problems, QStringList{QStringLiteral("gone.wav: no such file")});
    QVERIFY(kit.instruments.at(1).layers.isEmpty());
    QCOMPARE(kit.instruments.at(1).problems.size(), 1);
}

void TestDrumkit::archiveUnpacks()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/soft.wav")), Wav16(1, kBankRate, Ramp(100))));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/drumkit.xml")),
                       Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")));
    const QString archive = tmp.filePath(QStringLiteral("Kit.h2drumkit"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("-C"),
                                                        tmp.filePath(QStringLiteral("src")), QStringLiteral("Kit")}),
             0);
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(archive, tmp.filePath(QStringLiteral("work")), &kit, &error), qPrintable(error));
    QCOMPARE(kit.instruments.size(), 1);
    QCOMPARE(kit.instruments.first().layers.size(), 1);
    QCOMPARE(kit.instruments.first().layers.first().path, tmp.filePath(QStringLiteral("work/Kit/soft.wav")));
}

void TestDrumkit::archiveEntryOutsideIsRefused()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/x")), "outside"));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/drumkit.xml")),
                       Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")));
    const QString archive = tmp.filePath(QStringLiteral("Bad.h2drumkit"));
    // -P keeps "../x" as it is written.
    // A folder and a file are unpacked before the entry that refuses all.
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/sub/deeper/a.wav")), "a"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"),
                               {QStringLiteral("-czPf"), archive, QStringLiteral("-C"),
                                tmp.filePath(QStringLiteral("src/Kit")), QStringLiteral("drumkit.xml"),
                                QStringLiteral("sub/deeper/a.wav"), QStringLiteral("../x")}),
             0);
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("work/unpack"))));
    Drumkit kit;
    QString error;
    QVERIFY(!ReadDrumkit(archive, tmp.filePath(QStringLiteral("work/unpack")), &kit, &error));
    QVERIFY2(error.contains(QStringLiteral("\"../x\" would land outside")), qPrintable(error));
    QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("work/x"))));
    QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("work/unpack"))), QStringList());
}

void TestDrumkit::bankNames()
{
    const QStringList names = KitBankFileNames(QStringLiteral("Kit"),
                                               {QStringLiteral("Kick"), QStringLiteral("Hat/Open"),
                                                QStringLiteral("kick"), QString(300, QLatin1Char('a'))});
    QCOMPARE(names.at(0), QStringLiteral("Kit - Kick.zks"));
    QCOMPARE(names.at(1), QStringLiteral("Kit - Hat_Open.zks"));
    QCOMPARE(names.at(2), QStringLiteral("Kit - kick (2).zks"));
    QCOMPARE(QFile::encodeName(names.at(3)).size(), 255);
    QVERIFY(names.at(3).endsWith(QLatin1String(".zks")));
}

void TestDrumkit::layerSamples_data()
{
    QTest::addColumn<bool>("leftOnly");
    QTest::addColumn<double>("gain");
    QTest::addColumn<QVector<double>>("expected");
    QTest::newRow("mixed") << false << 1.0 << QVector<double>{150, -50};
    QTest::newRow("left") << true << 1.0 << QVector<double>{100, -100};
    QTest::newRow("mixed, gain") << false << 0.5 << QVector<double>{75, -25};
}

void TestDrumkit::layerSamples()
{
    QFETCH(bool, leftOnly);
    QFETCH(double, gain);
    QFETCH(QVector<double>, expected);
    const PcmSound stereo{2, quint32(kBankRate), Pcm({100, 200, -100, 0})};
    QCOMPARE(KitLayerSamples(stereo, gain, leftOnly), expected);
}

void TestDrumkit::clippingScalesTheWholeInstrument()
{
    double scale = 0;
    const QVector<QByteArray> layers = FinishKitLayers({{40000, -20000, 100}, {16000, 50, 50}}, true, &scale);
    QCOMPARE(scale, 32767.0 / 40000);
    QCOMPARE(layers.at(0).left(4), Pcm({32767, -16384}));
    QCOMPARE(layers.at(1).left(2), Pcm({13107}));
}

void TestDrumkit::longLayersAreCut()
{
    // 40 s does not fit; 2 s layers beside it are left as they are.
    const int frames = 40 * kBankRate;
    QVector<QByteArray> layers{Pcm(QVector<int>(frames, 1000)), Pcm(QVector<int>(2 * kBankRate, 1000))};
    int cut = 0;
    QVERIFY(FitKitLayers(&layers, 512, &cut));
    QVERIFY(cut > kBankRate && cut < frames);
    QCOMPARE(layers.at(0).size(), 2 * cut);
    QCOMPARE(layers.at(1).size(), 4 * kBankRate);
    QCOMPARE(qint16(quint8(layers.at(0).at(2 * cut - 2)) | quint8(layers.at(0).at(2 * cut - 1)) << 8), qint16(0));
    qint32 sizes[] = {LayerSizeFor(quint32(2 * cut), false), LayerSizeFor(quint32(4 * kBankRate), false)};
    QCOMPARE(LayerSizesVerdict(sizes, 2), 0);
    QVERIFY(sizes[0] + sizes[1] + 512 <= kBankBudget);
    // One sample more would not fit.
    sizes[0] = LayerSizeFor(quint32(2 * cut + 2 * 512), false);
    QVERIFY(sizes[0] + sizes[1] + 512 > kBankBudget);

    // Eight layers of 40 s are cut to fit; where even 1 s would not fit
    // nothing is cut.
    QVector<QByteArray> many(kMaxLayers, Pcm(QVector<int>(frames, 1000)));
    QVERIFY(FitKitLayers(&many, 512, &cut));
    QVector<QByteArray> tooMany{Pcm(QVector<int>(frames, 1000))};
    QVERIFY(!FitKitLayers(&tooMany, kBankBudget, &cut));
    QCOMPARE(tooMany.at(0).size(), 2 * frames);
}

ZK_TEST(TestDrumkit)
#include "tst_drumkit.moc"
