#include <QtTest>

#include <climits>

#include "fileprocessor.h"
#include "resultcodes.h"
#include "testmain.h"
#include "testsupport.h"

namespace {

enum FileKind { Written, Missing, Directory };

// A header whose size field holds 0x44332211, so every truncation shows
// exactly which size bytes were used.
const QByteArray kStereoHeader = CanonicalWavHeader(2, 44100, 16, 0x44332211);

QByteArray WithByte(QByteArray header, int offset, char value)
{
    header[offset] = value;
    return header;
}

// An 18-byte format chunk (with its cbSize field) moves the data tag to 38.
QByteArray ExtendedFormatHeader()
{
    QByteArray h = CanonicalWavHeader(1, 44100, 16, 1024);
    h[16] = 18;
    h.insert(36, QByteArray(2, '\0'));
    return h;
}

// A LIST chunk between the format chunk and the data chunk.
QByteArray ListChunkHeader(quint32 rate, quint16 bits)
{
    QByteArray h = CanonicalWavHeader(1, rate, bits, 1024);
    h.insert(36, QByteArray("LIST\x04\x00\x00\x00INFO", 12));
    return h;
}

QByteArray GarbageTagsHeader()
{
    QByteArray h = CanonicalWavHeader(1, 44100, 16, 1024);
    h.replace(0, 4, "RIFX");
    h.replace(8, 4, "AVI ");
    h.replace(12, 4, "junk");
    return h;
}

// Open descriptors of this process, to see that the check closes its file.
int OpenDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

} // namespace

class TestSoundCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void headerFields_data();
    void headerFields();
    void readWavHeader_data();
    void readWavHeader();
};

void TestSoundCheck::check_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("trace"); // pattern of a debug line that must appear, or empty

    const QString drum = QString::fromUtf8("\xF0\x9F\xA5\x81"); // two UTF-16 units
    const QString apple = QStringLiteral("^format of file is apple-similar\\. Escaped$");
    const QString tooBig = QStringLiteral("^File is too big$");
    const QString badFormat = QStringLiteral("^Incompatible format of file$");

    QTest::newRow("empty path") << QString() << int(Missing) << QByteArray() << int(RESULT_NO_FILE)
                                << QStringLiteral("^No file choosen$");
    QTest::newRow("61-character name, missing")
        << QString(57, 'n') + ".wav" << int(Missing) << QByteArray() << int(RESULT_NAME_TOO_LONG)
        << QString();
    QTest::newRow("61-character name, valid file")
        << QString(57, 'v') + ".wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 1024)
        << int(RESULT_NAME_TOO_LONG) << QString();
    QTest::newRow("60-character name, missing")
        << QString(56, 'n') + ".wav" << int(Missing) << QByteArray() << int(RESULT_OPEN_FAILED)
        << QStringLiteral("^Unable to open  \".*/n{56}\\.wav\"$");
    QTest::newRow("60 UTF-16 units with a surrogate pair, missing")
        << QString(54, 'n') + drum + ".wav" << int(Missing) << QByteArray()
        << int(RESULT_OPEN_FAILED) << QString();
    QTest::newRow("61 UTF-16 units with a surrogate pair, missing")
        << QString(55, 'n') + drum + ".wav" << int(Missing) << QByteArray()
        << int(RESULT_NAME_TOO_LONG) << QString();
    QTest::newRow("a folder cannot be opened as a file")
        << "folder.wav" << int(Directory) << QByteArray() << int(RESULT_OPEN_FAILED)
        << QStringLiteral("^Unable to open  \".*/folder\\.wav\"$");

    QTest::newRow("empty file") << "empty.wav" << int(Written) << QByteArray()
                                << int(RESULT_INCOMPATIBLE) << apple;
    QTest::newRow("39 bytes: no room for the tag")
        << "short.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 1024).left(39)
        << int(RESULT_INCOMPATIBLE) << apple;
    QTest::newRow("18-byte format chunk") << "ext.wav" << int(Written) << ExtendedFormatHeader()
                                          << int(RESULT_INCOMPATIBLE) << apple;
    QTest::newRow("LIST chunk before the data")
        << "list.wav" << int(Written) << ListChunkHeader(44100, 16) << int(RESULT_INCOMPATIBLE)
        << apple;
    QTest::newRow("LIST chunk before the data, 8-bit 48000 Hz")
        << "list8.wav" << int(Written) << ListChunkHeader(48000, 8) << int(RESULT_INCOMPATIBLE)
        << QString();
    QTest::newRow("40 bytes: tag, no size") << "tag.wav" << int(Written)
                                            << CanonicalWavHeader(1, 44100, 16, 1024).left(40)
                                            << int(RESULT_TOO_BIG) << tooBig;
    QTest::newRow("43 bytes: size from three bytes")
        << "three.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 0x01000400).left(43) << 1536
        << QString();

    QTest::newRow("48000 Hz, valid size") << "48k.wav" << int(Written)
                                          << CanonicalWavHeader(1, 48000, 16, 96000)
                                          << int(RESULT_FILE_ERROR) << badFormat;
    QTest::newRow("48000 Hz, 100 bytes: size before format")
        << "48k-tiny.wav" << int(Written) << CanonicalWavHeader(1, 48000, 16, 100) << int(RESULT_TOO_BIG)
        << tooBig;
    QTest::newRow("8-bit, valid size") << "8bit.wav" << int(Written)
                                       << CanonicalWavHeader(1, 44100, 8, 44100) << int(RESULT_FILE_ERROR)
                                       << badFormat;
    QTest::newRow("8-bit, 100 bytes: size before format")
        << "8bit-tiny.wav" << int(Written) << CanonicalWavHeader(1, 44100, 8, 100) << int(RESULT_TOO_BIG)
        << tooBig;
    QTest::newRow("24-bit") << "24bit.wav" << int(Written) << CanonicalWavHeader(1, 44100, 24, 3072)
                            << int(RESULT_FILE_ERROR) << QString();
    QTest::newRow("float format tag 3") << "float.wav" << int(Written)
                                        << CanonicalWavHeader(1, 44100, 16, 1024, 3)
                                        << int(RESULT_FILE_ERROR) << QString();
    QTest::newRow("extensible format tag 0xFFFE")
        << "extensible.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 1024, 0xFFFE)
        << int(RESULT_FILE_ERROR) << QString();
    QTest::newRow("format tag 0x0101: only its low byte counts")
        << "tag0101.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 1024, 0x0101) << 1536
        << QString();
    QTest::newRow("rate 109636: only its low 16 bits count")
        << "rate.wav" << int(Written) << CanonicalWavHeader(1, 0x1AC44, 16, 1024) << 1536 << QString();
    QTest::newRow("tags at 0, 8 and 12 are not examined")
        << "tags.wav" << int(Written) << GarbageTagsHeader() << 1536 << QString();

    QTest::newRow("data size 0") << "0.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 0)
                                 << int(RESULT_TOO_BIG) << tooBig;
    QTest::newRow("data size 511") << "511.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 511)
                                   << int(RESULT_TOO_BIG) << tooBig;
    QTest::newRow("data size 512") << "512.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 512)
                                   << 1024 << QString();
    QTest::newRow("data size 1,023") << "1023.wav" << int(Written)
                                     << CanonicalWavHeader(1, 44100, 16, 1023) << 1024 << QString();
    QTest::newRow("data size 1,024") << "1024.wav" << int(Written)
                                     << CanonicalWavHeader(1, 44100, 16, 1024) << 1536 << QString();
    QTest::newRow("data size 3,141,631: largest accepted")
        << "max.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 3141631) << 3141632
        << QStringLiteral("^Trimmed waveform's length is  3141632 bytes$");
    QTest::newRow("data size 3,141,632") << "over.wav" << int(Written)
                                         << CanonicalWavHeader(1, 44100, 16, 3141632)
                                         << int(RESULT_TOO_BIG) << tooBig;
    QTest::newRow("data size 0x80000000") << "neg.wav" << int(Written)
                                          << CanonicalWavHeader(1, 44100, 16, 0x80000000u)
                                          << int(RESULT_TOO_BIG) << tooBig;
    QTest::newRow("data size 0xFFFFFFFF") << "ffff.wav" << int(Written)
                                          << CanonicalWavHeader(1, 44100, 16, 0xFFFFFFFFu)
                                          << int(RESULT_TOO_BIG) << tooBig;

    QTest::newRow("mono 88,200, header only: size taken from the header")
        << "mono.wav" << int(Written) << CanonicalWavHeader(1, 44100, 16, 88200) << 88576
        << QStringLiteral("^Measured waveform's length is  88200 bytes$");
    QTest::newRow("stereo 176,400")
        << "stereo.wav" << int(Written) << CanonicalWavHeader(2, 44100, 16, 176400) << 88576
        << QStringLiteral("^Trimmed waveform's length is  88576 bytes$");
    QTest::newRow("stereo 512") << "s512.wav" << int(Written) << CanonicalWavHeader(2, 44100, 16, 512)
                                << 512 << QString();
    QTest::newRow("stereo 1,023") << "s1023.wav" << int(Written) << CanonicalWavHeader(2, 44100, 16, 1023)
                                  << 512 << QString();
    QTest::newRow("stereo 3,141,631") << "smax.wav" << int(Written)
                                      << CanonicalWavHeader(2, 44100, 16, 3141631) << 1570816 << QString();
    // The upper limit counts the one channel the bank keeps.
    QTest::newRow("stereo 3,141,632") << "s3141632.wav" << int(Written)
                                      << CanonicalWavHeader(2, 44100, 16, 3141632) << 1571328
                                      << QString();
    QTest::newRow("stereo 6,283,263: largest accepted")
        << "smax2.wav" << int(Written) << CanonicalWavHeader(2, 44100, 16, 6283263) << 3141632
        << QString();
    QTest::newRow("stereo 6,283,264") << "sover.wav" << int(Written)
                                      << CanonicalWavHeader(2, 44100, 16, 6283264) << int(RESULT_TOO_BIG)
                                      << QString();
    QTest::newRow("six channels sized as mono")
        << "six.wav" << int(Written) << CanonicalWavHeader(6, 44100, 16, 88200) << 88576 << QString();
    QTest::newRow("channel count 258: low byte 2 is stereo")
        << "c258.wav" << int(Written) << WithByte(CanonicalWavHeader(2, 44100, 16, 176400), 23, 1) << 88576
        << QString();
}

void TestSoundCheck::check()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    QFETCH(QString, trace);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    if (kind == Written)
        QVERIFY(WriteBytes(path, content));
    else if (kind == Directory)
        QVERIFY(QDir().mkpath(path));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    if (!trace.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(trace));
    const int descriptors = OpenDescriptors();
    QCOMPARE(OpenAndCheckFile(path), expected);
    QCOMPARE(OpenDescriptors(), descriptors);

    // The check never changes or creates a file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    if (kind == Written) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void TestSoundCheck::headerFields_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("hasTag");
    QTest::addColumn<int>("dataSize");
    QTest::addColumn<bool>("stereo");
    QTest::addColumn<bool>("bankFormat");
    QTest::addColumn<uint>("rate");

    QTest::newRow("0 bytes") << QByteArray() << false << 0 << false << false << 0u;
    QTest::newRow("39 bytes") << kStereoHeader.left(39) << false << 0 << true << true << 44100u;
    QTest::newRow("40 bytes") << kStereoHeader.left(40) << true << 0 << true << true << 44100u;
    QTest::newRow("41 bytes") << kStereoHeader.left(41) << true << 0x11 << true << true << 44100u;
    QTest::newRow("42 bytes") << kStereoHeader.left(42) << true << 0x2211 << true << true
                              << 44100u;
    QTest::newRow("43 bytes") << kStereoHeader.left(43) << true << 0x332211 << true << true
                              << 44100u;
    QTest::newRow("44 bytes") << kStereoHeader << true << 0x44332211 << true << true << 44100u;
    QTest::newRow("size 0xFFFFFFFF reads -1")
        << CanonicalWavHeader(1, 44100, 16, 0xFFFFFFFFu) << true << -1 << false << true << 44100u;
    QTest::newRow("size 0x80000000 reads negative")
        << CanonicalWavHeader(1, 44100, 16, 0x80000000u) << true << INT_MIN << false << true << 44100u;
    QTest::newRow("48000 Hz") << CanonicalWavHeader(1, 48000, 16, 512) << true << 512 << false << false
                              << 48000u;
    QTest::newRow("8-bit") << CanonicalWavHeader(1, 44100, 8, 512) << true << 512 << false << false
                           << 44100u;
    QTest::newRow("extensible format tag 0xFFFE")
        << CanonicalWavHeader(1, 44100, 16, 512, 0xFFFE) << true << 512 << false << false << 44100u;
    QTest::newRow("format tag 0x0101") << CanonicalWavHeader(1, 44100, 16, 512, 0x0101) << true << 512
                                       << false << true << 44100u;
    QTest::newRow("six channels are not stereo")
        << CanonicalWavHeader(6, 44100, 16, 512) << true << 512 << false << true << 44100u;
    QTest::newRow("tags at 0, 8 and 12 are not examined")
        << GarbageTagsHeader() << true << 1024 << false << true << 44100u;
}

void TestSoundCheck::headerFields()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, hasTag);
    QFETCH(int, dataSize);
    QFETCH(bool, stereo);
    QFETCH(bool, bankFormat);
    QFETCH(uint, rate);

    QCOMPARE(HasDataTag(header), hasTag);
    QCOMPARE(WavDataSize(header), qint32(dataSize));
    QCOMPARE(IsStereo(header), stereo);
    QCOMPARE(IsBankFormat(header), bankFormat);
    QCOMPARE(WavSampleRate(header), quint32(rate));
}

void TestSoundCheck::readWavHeader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("openMode"); // QIODevice::OpenMode; NotOpen leaves the file closed
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("expected");

    QByteArray hundred;
    for (int i = 0; i < 100; ++i)
        hundred.append(char(i));

    QTest::newRow("not open") << hundred << int(QIODevice::NotOpen) << 0 << QByteArray();
    QTest::newRow("open for writing only")
        << hundred << int(QIODevice::WriteOnly | QIODevice::Append) << 0 << QByteArray();
    QTest::newRow("empty file") << QByteArray() << int(QIODevice::ReadOnly) << 0 << QByteArray();
    QTest::newRow("10 bytes") << hundred.left(10) << int(QIODevice::ReadOnly) << 0
                              << hundred.left(10);
    QTest::newRow("44 bytes") << hundred.left(44) << int(QIODevice::ReadOnly) << 0
                              << hundred.left(44);
    QTest::newRow("100 bytes, positioned at 60: read from 0")
        << hundred << int(QIODevice::ReadOnly) << 60 << hundred.left(44);
}

void TestSoundCheck::readWavHeader()
{
    QFETCH(QByteArray, content);
    QFETCH(int, openMode);
    QFETCH(int, position);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("sound.wav"));
    QVERIFY(WriteBytes(path, content));

    QFile file(path);
    const auto mode = QIODevice::OpenMode(openMode);
    if (mode != QIODevice::NotOpen) {
        QVERIFY(file.open(mode));
        QVERIFY(file.seek(position));
    }
    QCOMPARE(ReadWavHeader(file), expected);
    // The caller keeps its file: neither opened nor closed here.
    QCOMPARE(file.isOpen(), mode != QIODevice::NotOpen);
    file.close();

    QFile check(path);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), content);
}

ZK_TEST(TestSoundCheck)
#include "tst_soundcheck.moc"
