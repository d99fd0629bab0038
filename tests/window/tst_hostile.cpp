#include <QtTest>

#include <QDirIterator>
#include <QFileDevice>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <memory>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#endif

#include "fileprocessor.h"
#include "resultcodes.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkslayout.h"
#include "zkwindow.h"

namespace {

const QString kFirstConverter = QStringLiteral("sndfile-convert-to-microsoft-pcm16");
const QString kSecondConverter = QStringLiteral("sr-convert");

#ifdef Q_OS_UNIX
constexpr uid_t kNobody = 65534;

bool RunningAsRoot()
{
    return ::geteuid() == 0;
}
#else
bool RunningAsRoot()
{
    return false;
}
#endif

// A hostile input, made by the test, and what it claims to be.
struct Hostile {
    QString path;
    int rate = 44100; // the rate in its header, or 44100 when it has none
    int channels = 1;
    int frames = 0;   // sample frames actually present
};

QByteArray Tone(int frames, int channels)
{
    QByteArray bytes;
    for (int i = 0; i < frames * channels; ++i) {
        AppendLE(bytes, quint16(qint16((i * 37) % 20000 - 10000)), 2);
    }
    return bytes;
}

QByteArray RandomBytes(int count)
{
    QRandomGenerator random(9);
    QByteArray bytes(count, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// Makes the input named `kind` in `folder`.
Hostile MakeHostile(const QString &kind, const QString &folder)
{
    Hostile h;
    h.path = folder + QLatin1Char('/') + kind + QStringLiteral(".wav");
    if (kind == QLatin1String("empty")) {
        WriteBytes(h.path, QByteArray());
    } else if (kind == QLatin1String("header")) {
        // Half a second of stereo promised, nothing delivered.
        h = {h.path, 48000, 2, 0};
        WriteBytes(h.path, CanonicalWavHeader(2, 48000, 16, 96000));
    } else if (kind == QLatin1String("truncated")) {
        // Two seconds promised, a tenth of a second there.
        h = {h.path, 48000, 2, 4800};
        WriteBytes(h.path, CanonicalWavHeader(2, 48000, 16, 384000) + Tone(4800, 2));
    } else if (kind == QLatin1String("random")) {
        WriteBytes(h.path, RandomBytes(4096));
    } else if (kind == QLatin1String("oversized")) {
        h = {h.path, 44100, 1, 2000};
        QByteArray bytes = CanonicalWavHeader(1, 44100, 16, 0xFFFFFFF0) + Tone(2000, 1);
        qToLittleEndian<quint32>(0xFFFFFFF8, bytes.data() + 4); // the RIFF size too
        WriteBytes(h.path, bytes);
    } else if (kind == QLatin1String("folder")) {
        QDir(folder).mkdir(kind + QStringLiteral(".wav"));
    } else if (kind == QLatin1String("pipe")) {
#ifdef Q_OS_UNIX
        ::mkfifo(QFile::encodeName(h.path).constData(), 0600);
#endif
    } else if (kind == QLatin1String("unreadable")) {
        WriteBytes(h.path, CanonicalWavHeader(1, 44100, 16, 4000) + Tone(2000, 1));
        QFile::setPermissions(h.path, QFileDevice::Permissions());
    }
    return h;
}

QByteArray Contents(const QString &path)
{
    if (!QFileInfo(path).isFile()) // reading a pipe would wait for a writer
        return QByteArray();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Permission bits do not stop root from reading. From this call on, the
// calling thread opens files as an ordinary user (Linux keeps this identity
// per thread, and programs started meanwhile do not inherit it). False where
// nothing needed changing.
bool ReadAsOrdinaryUserFromNowOn()
{
#ifdef Q_OS_LINUX
    if (RunningAsRoot()) {
        ::setfsgid(kNobody);
        ::setfsuid(kNobody);
        return true;
    }
#endif
    return false;
}

// The same while this lives.
class ReadAsOrdinaryUser
{
public:
    ReadAsOrdinaryUser() : active(ReadAsOrdinaryUserFromNowOn()) {}
    ~ReadAsOrdinaryUser()
    {
#ifdef Q_OS_LINUX
        if (active) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
#endif
    }
    ReadAsOrdinaryUser(const ReadAsOrdinaryUser &) = delete;
    ReadAsOrdinaryUser &operator=(const ReadAsOrdinaryUser &) = delete;

private:
    bool active = false;
};

// Runs in a started process before its program: it becomes an ordinary user
// when the test runs as root, for the same reason.
void BecomeOrdinaryUser()
{
#ifdef Q_OS_UNIX
    if (RunningAsRoot()
        && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(126);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5 runs a subclass's setup step in the started process; Qt 6 takes a
// function instead.
class OrdinaryUserProcess : public QProcess
{
protected:
    void setupChildProcess() override { BecomeOrdinaryUser(); }
};
#endif

std::unique_ptr<QProcess> NewProcess(bool asOrdinaryUser)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    if (asOrdinaryUser)
        return std::make_unique<OrdinaryUserProcess>();
    return std::make_unique<QProcess>();
#else
    auto process = std::make_unique<QProcess>();
#ifdef Q_OS_UNIX
    if (asOrdinaryUser)
        process->setChildProcessModifier(BecomeOrdinaryUser);
#else
    Q_UNUSED(asOrdinaryUser)
#endif
    return process;
#endif
}

struct Run {
    int exitCode = -1; // -1: did not start, crashed or hung
    QByteArray out;
    QByteArray err;
};

// Far longer than a converter needs for these small inputs, yet shorter
// than Qt Test's own limit for one test, so that a converter that hangs
// fails its row instead of aborting the whole program.
constexpr int kConverterWaitMs = 120000;

Run RunConverter(const QString &name, const QStringList &arguments, bool asOrdinaryUser)
{
    const std::unique_ptr<QProcess> owned = NewProcess(asOrdinaryUser);
    QProcess &process = *owned;
    process.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name, arguments);
    Run run;
    if (!process.waitForFinished(kConverterWaitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

// Inputs meant to hurt: through the window's "+" and through each converter
// on its own. A refused input gets the window's message and changes
// nothing; a converter refuses with one line on stderr and no output. Where
// the converters can read a valid sound out of it, the user gets that sound
// as a layer instead.
class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addLayer_data();
    void addLayer();
    void converters_data();
    void converters();

private:
    bool CanTestUnreadable(QString *why);

    WindowFixture home;
    std::unique_ptr<QTemporaryDir> inputs;
};

void TestHostile::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestHostile::init()
{
    home.startTest();
    // Open to every user, so that only the unreadable file's own bits stop
    // an ordinary user.
    inputs = std::make_unique<QTemporaryDir>();
    QFile::setPermissions(inputs->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                              | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                              | QFileDevice::ExeGroup);
}

void TestHostile::cleanup()
{
    inputs.reset();
    home.endTest();
}

bool TestHostile::CanTestUnreadable(QString *why)
{
    const QString probe = inputs->filePath(QStringLiteral("probe"));
    WriteBytes(probe, "x");
    QFile::setPermissions(probe, QFileDevice::Permissions());
    bool refused;
    {
        ReadAsOrdinaryUser user;
        refused = !QFile(probe).open(QIODevice::ReadOnly);
    }
    QFile::remove(probe);
    if (!refused)
        *why = QStringLiteral("this user reads files without read permission (root, with no "
                              "way here to read as another user)");
    return refused;
}

void TestHostile::addLayer_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // empty: the input becomes a layer
    QTest::addColumn<QString>("detail");  // the message's informative text
    QTest::addColumn<int>("layerSize");

    // Nothing the converters can read, so nothing reaches the sound check.
    // The user is told which file and why, in the converter's words.
    QTest::newRow("empty file") << "empty" << "File Error" << "empty.wav: Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3."
                                << 0;
    QTest::newRow("random bytes named .wav") << "random" << "File Error"
                                             << "random.wav: Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3." << 0;
    QTest::newRow("folder") << "folder" << "File Error" << "folder.wav: not a regular file" << 0;
    QTest::newRow("unreadable file") << "unreadable" << "File Error"
                                     << "unreadable.wav: Permission denied" << 0;
    // Opening a pipe with no writer would wait for ever.
    QTest::newRow("named pipe") << "pipe" << "File Error" << "pipe.wav: not a regular file" << 0;
    // A header with no frames is an empty sound: it converts, and the sound
    // check refuses it as it refuses any sound under one block.
    QTest::newRow("header alone") << "header" << "File too big!"
                                  << "the sound lasts 0.000\u00A0s; a layer needs at least 0.003\u00A0s of "
                                     "stereo sound"
                                  << 0;
    // The frames that are there are a valid sound, as any player plays them:
    // 4800 stereo frames at 48000 Hz become 4410 at 44100 Hz, one channel of
    // which the bank keeps.
    QTest::newRow("truncated data chunk") << "truncated" << QString() << QString() << 9216;
    // The same for a size field of 4 GiB over 4000 bytes of mono sound.
    QTest::newRow("size field far larger than the file") << "oversized" << QString() << QString()
                                                         << 4096;
}

void TestHostile::addLayer()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QFETCH(QString, detail);
    QFETCH(int, layerSize);
    QString why;
    if (kind == QLatin1String("unreadable") && !CanTestUnreadable(&why))
        QSKIP(qPrintable(why));

    ZKWindow window;
    window.show();
    const QString first = inputs->filePath(QStringLiteral("first.wav"));
    QVERIFY(WriteBytes(first, CanonicalWavHeader(1, 44100, 16, 20000) + Tone(10000, 1)));
    QVERIFY(!AddLayerThroughDialog(&window, 1, first).seen);
    QCOMPARE(Bank().Count(), 1);
    const qint32 used = Bank().UsedSpace();
    const QString firstPath = Bank().Path(1);
    const QString work = WorkFolder();
    const QStringList workBefore = FolderTree(work);

    const Hostile input = MakeHostile(kind, inputs->path());
    QVERIFY(QFileInfo::exists(input.path));
    const QByteArray original = Contents(input.path);
    // The file is read on the worker thread that converts it, which ends
    // with the conversion: it reads as an ordinary user from the start.
    if (kind == QLatin1String("unreadable")) {
        SetSoundConverter([](const QString &chosen, const ConvertOptions &options, QString *reason) {
            ReadAsOrdinaryUserFromNowOn();
            return ConvertFile(chosen, options, reason);
        });
    }
    const SeenMessageBox box = AddLayerThroughDialog(&window, 2, input.path);
    SetSoundConverter(nullptr);

    QCOMPARE(Bank().Path(1), firstPath);
    QVERIFY(!box.waitCursor);
    // No intermediate is left behind: the working folder gains the converted
    // file of an accepted layer, in a folder of its own, and nothing for a
    // refused one.
    QStringList added = FolderTree(work);
    for (const QString &entry : workBefore)
        added.removeOne(entry);
    if (message.isEmpty()) {
        QCOMPARE(added.size(), 2);
        QCOMPARE(QFileInfo(added.at(1)).fileName(), QFileInfo(input.path).fileName());
    } else {
        QCOMPARE(added, QStringList());
    }
    if (message.isEmpty()) {
        QVERIFY2(!box.seen, qPrintable(box.text));
        QCOMPARE(Bank().Count(), 2);
        QCOMPARE(Bank().Size(2), layerSize);
        QCOMPARE(Bank().UsedSpace(), used + layerSize);
        QCOMPARE(Bank().Name(2), QFileInfo(input.path).fileName());
        QCOMPARE(Bank().Path(2), work + QLatin1Char('/') + added.at(1));
        // The layer is a whole, canonical file, whatever its source claimed.
        const QByteArray converted = Contents(Bank().Path(2));
        QVERIFY(converted.size() > 44);
        QCOMPARE(qFromLittleEndian<quint32>(converted.constData() + 40), quint32(converted.size() - 44));
        QCOMPARE(OpenAndCheckFile(Bank().Path(2)), layerSize);
    } else {
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("ERROR"));
        QCOMPARE(box.text, message);
        QCOMPARE(box.informative, detail);
        QCOMPARE(box.icon, int(QMessageBox::Critical));
        QCOMPARE(Bank().Count(), 1);
        QCOMPARE(Bank().UsedSpace(), used);
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Filename_2"))->text(),
                 QStringLiteral("Add a Layer"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->text(),
                 QStringLiteral("+"));
    }
    // The chosen input itself is never touched.
    QCOMPARE(Contents(input.path), original);
    QCOMPARE(QFileInfo(input.path).isDir(), kind == QLatin1String("folder"));
}

void TestHostile::converters_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("reason"); // how the refusal ends; empty: any reason

    const QString notRegular = QStringLiteral("not a regular file");
    for (const QString &converter : {kFirstConverter, kSecondConverter}) {
        const QString prefix = converter == kFirstConverter ? QStringLiteral("first: ")
                                                            : QStringLiteral("second: ");
        const auto row = [&](const char *name, const char *kind, bool accepted,
                             const QString &reason = QString()) {
            QTest::newRow(qPrintable(prefix + QLatin1String(name)))
                << converter << kind << accepted << reason;
        };
        row("empty file", "empty", false);
        row("random bytes named .wav", "random", false);
        row("folder", "folder", false, notRegular);
#ifdef Q_OS_UNIX
        // Opening a pipe with no writer would wait for ever.
        row("named pipe", "pipe", false, notRegular);
#endif
        row("unreadable file", "unreadable", false);
        // An empty sound converts to an empty sound; the sound check is
        // the one to refuse it.
        row("header alone", "header", true);
        // libsndfile reads the frames that are there and no more.
        row("truncated data chunk", "truncated", true);
        row("size field far larger than the file", "oversized", true);
    }
}

void TestHostile::converters()
{
    QFETCH(QString, converter);
    QFETCH(QString, kind);
    QFETCH(bool, accepted);
    QFETCH(QString, reason);
    QString why;
    if (kind == QLatin1String("unreadable") && !CanTestUnreadable(&why))
        QSKIP(qPrintable(why));
    if (kind == QLatin1String("unreadable") && RunningAsRoot()
        && !RunConverter(converter, {}, true).err.startsWith("usage: "))
        QSKIP("running as root, and an ordinary user cannot run the converters from here");

    const Hostile input = MakeHostile(kind, inputs->path());
    QVERIFY(QFileInfo::exists(input.path));
    QTemporaryDir outputs;
    const QString out = outputs.filePath(QStringLiteral("out.wav"));
    // The resampler is told the input's own rate and a different one.
    const int outRate = converter == kFirstConverter ? input.rate
                                                     : (input.rate == 44100 ? 48000 : 44100);
    const QStringList arguments = converter == kFirstConverter
        ? QStringList{input.path, out}
        : QStringList{input.path, QString::number(input.rate), out, QString::number(outRate)};
    const Run run = RunConverter(converter, arguments, kind == QLatin1String("unreadable"));

    QVERIFY(run.out.isEmpty());
    if (!accepted) {
        QVERIFY2(run.exitCode > 0, run.err.constData());
        QVERIFY2(run.err.startsWith((converter + QStringLiteral(": ")).toUtf8())
                     && run.err.endsWith('\n') && run.err.count('\n') == 1,
                 run.err.constData());
        if (!reason.isEmpty()) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.endsWith((reason + QLatin1Char('\n')).toUtf8()), run.err.constData());
        }
        QCOMPARE(FolderTree(outputs.path()), QStringList());
        return;
    }
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    QCOMPARE(FolderTree(outputs.path()), QStringList(QStringLiteral("out.wav")));
    // A canonical header that tells the truth about what follows it.
    const QByteArray bytes = Contents(out);
    QVERIFY(bytes.size() >= 44);
    QCOMPARE(bytes.mid(36, 4), QByteArray("data"));
    QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 40), quint32(bytes.size() - 44));
    QCOMPARE(int(qFromLittleEndian<quint32>(bytes.constData() + 24)), outRate);
    QCOMPARE(int(qFromLittleEndian<quint16>(bytes.constData() + 22)), input.channels);
    const int frames = (bytes.size() - 44) / (2 * input.channels);
    const double expected = double(input.frames) * outRate / input.rate;
    QVERIFY2(qAbs(frames - expected) <= 1, qPrintable(QString::number(frames)));
}

ZK_TEST(TestHostile)
#include "tst_hostile.moc"
