#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <archive.h>
#include <archive_entry.h>

#include <atomic>
#include <clocale>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "drumkit.h"
#include "kitplan.h"
#include "testmain.h"
#include "fileprocessor.h"
#include "kitarchive.h"
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

// An archive entry as a test writes it, through libarchive so that every
// kind a tar can hold (pax names, hard and symbolic links) is at hand.
struct TarEntry {
    enum Kind { File, HardLink, SymLink };
    QByteArray name;
    QByteArray data; // a file's bytes; a link's target
    Kind kind = File;
};

bool WriteTar(const QString &path, const QVector<TarEntry> &entries)
{
    const std::unique_ptr<archive, int (*)(archive *)> writer(archive_write_new(), archive_write_free);
    // pax only where ustar can't hold a name, as tar writes them.
    archive_write_set_format_pax_restricted(writer.get());
    archive_write_add_filter_gzip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    for (const TarEntry &item : entries) {
        const std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(),
                                                                              archive_entry_free);
        archive_entry_set_pathname_utf8(entry.get(), item.name.constData());
        archive_entry_set_perm(entry.get(), 0644);
        if (item.kind == TarEntry::HardLink) {
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_hardlink_utf8(entry.get(), item.data.constData());
        } else if (item.kind == TarEntry::SymLink) {
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink_utf8(entry.get(), item.data.constData());
        } else {
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), item.data.size());
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return false;
        if (item.kind == TarEntry::File
            && archive_write_data(writer.get(), item.data.constData(), size_t(item.data.size())) != item.data.size())
            return false;
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}

// Reads a kit on a thread of its own. A kit file that is a FIFO would keep
// an open() that blocks waiting for ever: after a while the test opens the
// FIFO's other end itself, so the reading ends and the test fails instead.
bool ReadWithoutHanging(const QString &path, const QString &work, const QString &fifo, Drumkit *kit,
                        QString *error, bool *ok)
{
    std::atomic<bool> done{false};
    std::unique_ptr<QThread> thread(QThread::create([&]() {
        *ok = ReadDrumkit(path, work, kit, error);
        done = true;
    }));
    thread->start();
    const bool inTime = thread->wait(20000);
#ifdef Q_OS_UNIX
    if (!inTime) {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
#endif
    thread->wait();
    return inTime && done;
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
    void kitFileNotRegular_data();
    void kitFileNotRegular();
    void drumkitXmlTooLarge();
    void sampleNotRegular();
    void unnamedKitTakesItsPlacesName();
    void archiveSampleOutsideIsLeftOut_data();
    void archiveSampleOutsideIsLeftOut();
    void archiveUnpacksOnlyWhatTheKitNames();
    void archiveHardLinks();
    void archiveUtf8NamesUnderCLocale();
    void archiveInterrupted();
    void archiveBeyondItsBounds_data();
    void archiveBeyondItsBounds();
    void archiveBeyondTheFreeSpace();
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

void TestDrumkit::kitFileNotRegular_data()
{
    QTest::addColumn<QString>("given"); // relative to the test's folder
    QTest::addColumn<QString>("special"); // made a FIFO, or a link to /dev/zero
    QTest::newRow("drumkit.xml a FIFO, the folder given") << "kit" << "kit/drumkit.xml";
    QTest::newRow("drumkit.xml a FIFO, itself given") << "kit/drumkit.xml" << "kit/drumkit.xml";
    QTest::newRow("archive a FIFO") << "Kit.h2drumkit" << "Kit.h2drumkit";
    QTest::newRow("drumkit.xml a link to /dev/zero") << "kit" << "zero:kit/drumkit.xml";
}

void TestDrumkit::kitFileNotRegular()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs and /dev/zero are Unix's");
#else
    QFETCH(QString, given);
    QFETCH(QString, special);
    QTemporaryDir tmp;
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("kit"))));
    QString fifo;
    if (special.startsWith(QLatin1String("zero:"))) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), tmp.filePath(special.mid(5))));
    } else {
        fifo = tmp.filePath(special);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    }
    Drumkit kit;
    QString error;
    bool ok = true;
    QVERIFY2(ReadWithoutHanging(tmp.filePath(given), tmp.filePath(QStringLiteral("work")), fifo, &kit, &error, &ok),
             "the reading waited on the FIFO");
    QVERIFY(!ok);
    QVERIFY2(error.contains(QLatin1String("not a regular file")), qPrintable(error));
    QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("work"))), QStringList());
#endif
}

void TestDrumkit::drumkitXmlTooLarge()
{
    // Valid XML, padded past the bound with spaces inside the root element;
    // in an archive it takes a few kilobytes.
    const QByteArray xml = Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")
                               .replace("<author>", QByteArray(KitArchive::kMaxDrumkitXmlBytes, ' ') + "<author>");
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("kit/drumkit.xml")), xml));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("kit/soft.wav")), Wav16(1, kBankRate, Ramp(100))));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml", xml}, {"Kit/soft.wav", Wav16(1, kBankRate, Ramp(100))}}));
    for (const QString &given : {QStringLiteral("kit"), QStringLiteral("Kit.h2drumkit")}) {
        Drumkit kit;
        QString error;
        QVERIFY(!ReadDrumkit(tmp.filePath(given), tmp.filePath(QStringLiteral("work")), &kit, &error));
        QVERIFY2(error.contains(QStringLiteral("drumkit.xml: larger than %1 bytes").arg(KitArchive::kMaxDrumkitXmlBytes)),
                 qPrintable(error));
        QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("work"))), QStringList());
    }
}

void TestDrumkit::sampleNotRegular()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs are Unix's");
#else
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("drumkit.xml")),
                       Kit("<instrument><name>Kick</name><filename>pipe.wav</filename></instrument>")));
    QCOMPARE(::mkfifo(QFile::encodeName(tmp.filePath(QStringLiteral("pipe.wav"))).constData(), 0600), 0);
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(tmp.path(), tmp.filePath(QStringLiteral("work")), &kit, &error), qPrintable(error));
    QCOMPARE(kit.instruments.first().problems, QStringList{QStringLiteral("pipe.wav: not a regular file")});
#endif
}

void TestDrumkit::unnamedKitTakesItsPlacesName()
{
    QTemporaryDir tmp;
    const QByteArray xml = "<drumkit_info><instrumentList><instrument><name>Kick</name>"
                           "<filename>soft.wav</filename></instrument></instrumentList></drumkit_info>";
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("Dry Kit/drumkit.xml")), xml));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Wet Kit.h2drumkit")), {{"inside/drumkit.xml", xml}}));
    const QVector<QPair<QString, QString>> cases{{QStringLiteral("Dry Kit"), QStringLiteral("Dry Kit")},
                                                 {QStringLiteral("Dry Kit/drumkit.xml"), QStringLiteral("Dry Kit")},
                                                 {QStringLiteral("Wet Kit.h2drumkit"), QStringLiteral("Wet Kit")}};
    for (const auto &given : cases) {
        Drumkit kit;
        QString error;
        QVERIFY2(ReadDrumkit(tmp.filePath(given.first), tmp.filePath(QStringLiteral("work")), &kit, &error),
                 qPrintable(error));
        QCOMPARE(kit.name, given.second);
        QCOMPARE(KitBankFileNames(kit.name, {QStringLiteral("Kick")}),
                 QStringList{given.second + QStringLiteral(" - Kick.zks")});
    }
}

void TestDrumkit::archiveSampleOutsideIsLeftOut_data()
{
    QTest::addColumn<QByteArray>("named"); // %1: the test's folder
    QTest::newRow("absolute") << QByteArray("%1/private-memo.wav");
    QTest::newRow("up and out") << QByteArray("../../../../../../../../../../../..%1/private-memo.wav");
    QTest::newRow("up past the kit's folder only") << QByteArray("../../private-memo.wav");
}

void TestDrumkit::archiveSampleOutsideIsLeftOut()
{
    QFETCH(QByteArray, named);
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("private-memo.wav")), Wav16(1, kBankRate, Ramp(100))));
    const QByteArray file = named.replace("%1", QFile::encodeName(tmp.path()));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml",
                       Kit("<instrument><name>Kick</name><layer><filename>" + file
                           + "</filename><min>0.5</min><max>1</max></layer>"
                             "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrument>")},
                      {"Kit/soft.wav", Wav16(1, kBankRate, Ramp(100))}}));
    // The work folder sits where "../../" leads out of it into the test's folder.
    const QString work = tmp.filePath(QStringLiteral("work"));
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), work, &kit, &error), qPrintable(error));
    const KitInstrument &kick = kit.instruments.first();
    QCOMPARE(kick.problems, QStringList{QStringLiteral("private-memo.wav: outside the kit's archive")});
    QCOMPARE(kick.layers.size(), 1);
    QCOMPARE(kick.layers.first().path, QDir(work).filePath(QStringLiteral("Kit/soft.wav")));
}

void TestDrumkit::archiveUnpacksOnlyWhatTheKitNames()
{
    QTemporaryDir tmp;
    const QByteArray sound = Wav16(1, kBankRate, Ramp(100));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/padding.bin", QByteArray(1 << 20, '\0')},
                      {"Kit/unused.wav", sound},
                      {"Kit/sub/drumkit.xml", Kit("<instrument><name>Wrong</name></instrument>")},
                      {"Kit/drumkit.xml",
                       Kit("<instrument><name>Kick</name><filename>sounds/soft.wav</filename></instrument>"
                           "<instrument><name>Snare</name><filename>sounds/soft.wav</filename></instrument>"
                           "<instrument><name>Tom</name><filename>gone.wav</filename></instrument>"
                           "<instrument><name>Link</name><filename>link.wav</filename></instrument>")},
                      {"Kit/sounds/soft.wav", sound},
                      {"Kit/link.wav", "sounds/soft.wav", TarEntry::SymLink}}));
    const QString work = tmp.filePath(QStringLiteral("work"));
    Drumkit kit;
    QString error;
    QVERIFY2(ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), work, &kit, &error), qPrintable(error));
    // The drumkit.xml nearest the top is the kit's.
    QCOMPARE(kit.instruments.size(), 4);
    QCOMPARE(kit.instruments.at(0).layers.size(), 1);
    QCOMPARE(kit.instruments.at(1).layers.size(), 1);
    QCOMPARE(kit.instruments.at(2).problems, QStringList{QStringLiteral("gone.wav: no such file")});
    QCOMPARE(kit.instruments.at(3).problems, QStringList{QStringLiteral("link.wav: no such file")});
    QCOMPARE(FolderTree(work), (QStringList{QStringLiteral("Kit"), QStringLiteral("Kit/sounds"),
                                            QStringLiteral("Kit/sounds/soft.wav")}));
    QCOMPARE(ReadAll(QDir(work).filePath(QStringLiteral("Kit/sounds/soft.wav"))), sound);
}

void TestDrumkit::archiveHardLinks()
{
    // tar stores the second name of a file as a link to the first; a link
    // to a file the kit does not name still brings that file's bytes.
    QTemporaryDir tmp;
    const QByteArray sound = Wav16(1, kBankRate, Ramp(100));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml",
                       Kit("<instrument><name>Kick</name><filename>second.wav</filename></instrument>"
                           "<instrument><name>Snare</name><filename>third.wav</filename></instrument>"
                           "<instrument><name>Away</name><filename>away.wav</filename></instrument>")},
                      {"Kit/first.wav", sound},
                      {"Kit/second.wav", "Kit/first.wav", TarEntry::HardLink},
                      {"Kit/third.wav", "Kit/second.wav", TarEntry::HardLink},
                      {"Kit/away.wav", "../outside.wav", TarEntry::HardLink}}));
    const QString work = tmp.filePath(QStringLiteral("work"));
    Drumkit kit;
    QString error;
    // A link leading out of the archive refuses it as an entry would.
    QVERIFY(!ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), work, &kit, &error));
    QVERIFY2(error.contains(QStringLiteral("\"../outside.wav\" would land outside")), qPrintable(error));

    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml",
                       Kit("<instrument><name>Kick</name><filename>second.wav</filename></instrument>"
                           "<instrument><name>Snare</name><filename>third.wav</filename></instrument>")},
                      {"Kit/first.wav", sound},
                      {"Kit/second.wav", "Kit/first.wav", TarEntry::HardLink},
                      {"Kit/third.wav", "Kit/second.wav", TarEntry::HardLink}}));
    QVERIFY2(ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), work, &kit, &error), qPrintable(error));
    for (const KitInstrument &instrument : std::as_const(kit.instruments)) {
        QVERIFY2(instrument.problems.isEmpty(), qPrintable(instrument.problems.join(QLatin1Char('\n'))));
        QCOMPARE(instrument.layers.size(), 1);
        QCOMPARE(ReadAll(instrument.layers.first().path), sound);
    }
}

void TestDrumkit::archiveUtf8NamesUnderCLocale()
{
    QTemporaryDir tmp;
    const QByteArray sound = Wav16(1, kBankRate, Ramp(100));
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml", Kit("<instrument><name>Kick</name><filename>Kick \xc3\xbc.wav</filename>"
                                              "</instrument>")},
                      {"Kit/Kick \xc3\xbc.wav", sound}}));
    const QByteArray before = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    Drumkit kit;
    QString error;
    const bool ok = ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), tmp.filePath(QStringLiteral("work")),
                                &kit, &error);
    std::setlocale(LC_CTYPE, before.constData());
    QVERIFY2(ok, qPrintable(error));
    QVERIFY2(kit.instruments.first().problems.isEmpty(), qPrintable(kit.instruments.first().problems.join(';')));
    QCOMPARE(ReadAll(kit.instruments.first().layers.first().path), sound);
}

void TestDrumkit::archiveInterrupted()
{
    QTemporaryDir tmp;
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml", Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")},
                      {"Kit/soft.wav", Wav16(1, kBankRate, Ramp(100))}}));
    const std::atomic<bool> cancelled{true};
    Drumkit kit;
    QString error;
    QVERIFY(!ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), tmp.filePath(QStringLiteral("work")), &kit,
                         &error, &cancelled));
    QCOMPARE(error, QStringLiteral("interrupted"));
    QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("work"))), QStringList());
}

void TestDrumkit::archiveBeyondItsBounds_data()
{
    QTest::addColumn<int>("files");      // empty files beside the kit
    QTest::addColumn<int>("nameBytes");  // of one more file's name; 0: none
    QTest::addColumn<QString>("refusal");
    QTest::newRow("more entries than any kit")
        << KitArchive::kMaxEntries << 0
        << QStringLiteral("the archive holds more than %1 entries").arg(KitArchive::kMaxEntries);
    QTest::newRow("a name longer than any kit's")
        << 0 << 5000 << QStringLiteral("an entry's name is longer than 4096 bytes");
}

void TestDrumkit::archiveBeyondItsBounds()
{
    QFETCH(int, files);
    QFETCH(int, nameBytes);
    QFETCH(QString, refusal);
    QVector<TarEntry> entries{
        {"Kit/drumkit.xml", Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")},
        {"Kit/soft.wav", Wav16(1, kBankRate, Ramp(100))}};
    for (int i = 0; i < files; ++i)
        entries << TarEntry{"Kit/empty/" + QByteArray::number(i), QByteArray()};
    if (nameBytes > 0)
        entries << TarEntry{"Kit/" + QByteArray(nameBytes - 4, 'n'), QByteArray()};
    QTemporaryDir tmp;
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")), entries));
    Drumkit kit;
    QString error;
    QVERIFY(!ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), tmp.filePath(QStringLiteral("work")), &kit,
                         &error));
    QCOMPARE(error, refusal);
    QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("work"))), QStringList());
}

void TestDrumkit::archiveBeyondTheFreeSpace()
{
#ifndef Q_OS_LINUX
    QSKIP("Needs Linux to mount a small disk");
#else
    QTemporaryDir tmp;
    const QString work = tmp.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    if (mount("tmpfs", QFile::encodeName(work).constData(), "tmpfs", 0, "size=400k") != 0)
        QSKIP("Cannot mount a small tmpfs here (needs root)");
    const auto unmount = qScopeGuard([&] { umount2(QFile::encodeName(work).constData(), MNT_DETACH); });
    // 1 MB of silence packs into a few kilobytes.
    QVERIFY(WriteTar(tmp.filePath(QStringLiteral("Kit.h2drumkit")),
                     {{"Kit/drumkit.xml", Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>"
                                              "<instrument><name>Big</name><filename>big.wav</filename></instrument>")},
                      {"Kit/soft.wav", Wav16(1, kBankRate, Ramp(100))},
                      {"Kit/big.wav", Wav16(1, kBankRate, QVector<qint16>(500000, 0))}}));
    Drumkit kit;
    QString error;
    QVERIFY(!ReadDrumkit(tmp.filePath(QStringLiteral("Kit.h2drumkit")), work, &kit, &error));
    QVERIFY2(error.contains(QLatin1String("can be unpacked")), qPrintable(error));
    QCOMPARE(FolderTree(work), QStringList());
#endif
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
