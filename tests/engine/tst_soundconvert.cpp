#include <QtTest>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fileprocessor.h"
#include "resultcodes.h"
#include "soundconvert.h"
#include "soundinfo.h"
#include "testmain.h"
#include "testsupport.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<double>)
Q_DECLARE_METATYPE(QVector<qint16>)

namespace {

// Run as `tst_convert --convert-only FILE`, the test program converts FILE,
// prints the sound check's verdict and exits: the converter lookup is tried
// in a copy of the program placed away from the converters.
const char kConvertOnly[] = "--convert-only";

constexpr double kPi = 3.14159265358979323846;

// Where the temporary location comes from, on Unix and on Windows.
const char *const kTempVariables[] = {"TMPDIR", "TMP", "TEMP"};

const QString kFirstConverter = QStringLiteral("sndfile-convert-to-microsoft-pcm16");
const QString kSecondConverter = QStringLiteral("sr-convert");

QString ExecutableName(const QString &name)
{
#ifdef Q_OS_WIN
    return name + QStringLiteral(".exe");
#else
    return name;
#endif
}

QString BuiltConverter(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + ExecutableName(name);
}

// --- Fixtures made with libsndfile ------------------------------------------

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SndfileCloser>;

SoundFile OpenSound(const QString &path, int mode, SF_INFO *info)
{
    return SoundFile(sf_open(QFile::encodeName(path).constData(), mode, info));
}

// A sine per channel: channel c sounds at frequency + 200 * c, so a test can
// tell which source channels came through.
struct Tone {
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    int rate = 44100;
    int channels = 1;
    int frames = 22050;
    double level = 0.5;
    double frequency = 400;
    bool title = false; // a title string makes libsndfile add a LIST chunk
};

double ChannelFrequency(const Tone &tone, int channel)
{
    return tone.frequency + 200 * channel;
}

// Empty on success, else what went wrong.
QString WriteTone(const QString &path, const Tone &tone)
{
    SF_INFO info = {};
    info.samplerate = tone.rate;
    info.channels = tone.channels;
    info.format = tone.format;
    SoundFile file = OpenSound(path, SFM_WRITE, &info);
    if (!file)
        return QStringLiteral("cannot write %1: %2").arg(path, sf_strerror(nullptr));
    if (tone.title)
        sf_set_string(file.get(), SF_STR_TITLE, "Kick");
    QVector<double> samples(tone.frames * tone.channels);
    for (int f = 0; f < tone.frames; ++f)
        for (int c = 0; c < tone.channels; ++c)
            samples[f * tone.channels + c] =
                tone.level * std::sin(2 * kPi * ChannelFrequency(tone, c) * f / tone.rate);
    if (sf_writef_double(file.get(), samples.data(), tone.frames) != tone.frames)
        return QStringLiteral("cannot write %1: %2").arg(path, sf_strerror(file.get()));
    return QString();
}

template <typename T>
QString WriteSamples(const QString &path, int format, int rate, int channels,
                     const QVector<T> &samples)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SoundFile file = OpenSound(path, SFM_WRITE, &info);
    if (!file)
        return QStringLiteral("cannot write %1: %2").arg(path, sf_strerror(nullptr));
    const sf_count_t frames = samples.size() / channels;
    sf_count_t written = 0;
    if constexpr (std::is_same_v<T, int>)
        written = sf_writef_int(file.get(), samples.data(), frames);
    else
        written = sf_writef_double(file.get(), samples.data(), frames);
    return written == frames ? QString() : QStringLiteral("cannot write %1").arg(path);
}

QVector<qint16> ReadShorts(const QString &path)
{
    SF_INFO info = {};
    SoundFile file = OpenSound(path, SFM_READ, &info);
    if (!file)
        return {};
    QVector<qint16> samples(int(info.frames * info.channels));
    samples.resize(int(sf_readf_short(file.get(), samples.data(), info.frames) * info.channels));
    return samples;
}

// A drum hit as loud recordings have it: a decaying drum tone and noise,
// driven into soft saturation so that many samples lie close to its peak,
// then normalised so that its highest sample sits at `level` of full scale.
// A resampling filter's overshoot takes such a sound past full scale.
QVector<qint16> DrumHit(int rate, int channels, int frames, double level)
{
    QRandomGenerator random(5);
    QVector<double> values(frames * channels);
    double previous = 0;
    for (int i = 0; i < values.size(); ++i) {
        const double t = double(i / channels) / rate;
        const double noise = 2 * random.generateDouble() - 1;
        const double body = 0.8 * std::sin(2 * kPi * 180 * t) + 0.1 * (noise + previous);
        values[i] = std::tanh(8 * std::exp(-10 * t) * body);
        previous = noise;
    }
    double peak = 0;
    for (double x : values)
        peak = std::max(peak, std::fabs(x));
    QVector<qint16> samples;
    for (double x : values)
        samples << qint16(std::lrint(x / peak * level * 32767));
    return samples;
}

// What libsoxr, at the resampler's settings, makes of a whole 16-bit sound
// in one go: the values before they become 16-bit samples again.
QVector<float> ResampledValues(const QVector<qint16> &samples, int channels, int from, int to)
{
    QVector<float> in;
    for (qint16 s : samples)
        in << s / 32768.0f;
    const size_t frames = size_t(samples.size() / channels);
    const size_t room = size_t(std::ceil(double(frames) * to / from)) + 1;
    QVector<float> out(int(room) * channels);
    size_t made = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    if (soxr_oneshot(from, to, unsigned(channels), in.constData(), frames, nullptr, out.data(),
                     room, &made, &io, &quality, nullptr))
        return {};
    out.resize(int(made) * channels);
    return out;
}

// Resampled values as 16-bit samples the way the resampler has always
// written them: times 32768, rounded, clipped at full scale.
QVector<qint16> PlainPcm(const QVector<float> &values)
{
    QVector<qint16> samples;
    for (float v : values)
        samples << qint16(std::clamp(std::lrint(v * 32768.0f), -32768L, 32767L));
    return samples;
}

int CountAtRails(const QVector<qint16> &samples)
{
    return int(std::count_if(samples.begin(), samples.end(),
                             [](qint16 s) { return s >= 32767 || s <= -32767; }));
}

// --- The converted file, read byte by byte -----------------------------------

struct CanonicalWav {
    int channels = 0;
    int rate = 0;
    QVector<qint16> samples;
    QString fault; // the first way the file departs from the 44-byte layout

    int frames() const { return channels > 0 ? samples.size() / channels : 0; }
};

quint32 U32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 U16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

CanonicalWav ReadCanonicalWav(const QString &path)
{
    CanonicalWav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        wav.fault = QStringLiteral("cannot open ") + path;
        return wav;
    }
    const QByteArray bytes = file.readAll();
    const auto fail = [&wav](const QString &why) {
        wav.fault = why;
        return wav;
    };
    if (bytes.size() < 44)
        return fail(QStringLiteral("shorter than a header"));
    if (bytes.left(4) != "RIFF" || bytes.mid(8, 8) != "WAVEfmt ")
        return fail(QStringLiteral("not RIFF WAVE with the format chunk first"));
    if (U32(bytes, 4) != quint32(bytes.size() - 8))
        return fail(QStringLiteral("RIFF size %1 for %2 bytes").arg(U32(bytes, 4)).arg(bytes.size()));
    if (U32(bytes, 16) != 16 || U16(bytes, 20) != 1 || U16(bytes, 34) != 16)
        return fail(QStringLiteral("format chunk is not 16-byte, 16-bit PCM"));
    wav.channels = U16(bytes, 22);
    wav.rate = int(U32(bytes, 24));
    if (U32(bytes, 28) != quint32(wav.rate * wav.channels * 2) || U16(bytes, 32) != wav.channels * 2)
        return fail(QStringLiteral("byte rate or block size disagree with the layout"));
    if (bytes.mid(36, 4) != "data")
        return fail(QStringLiteral("no data tag at offset 36"));
    if (U32(bytes, 40) != quint32(bytes.size() - 44))
        return fail(QStringLiteral("data size %1, but %2 bytes follow the header")
                        .arg(U32(bytes, 40)).arg(bytes.size() - 44));
    wav.samples.resize((bytes.size() - 44) / 2);
    for (int i = 0; i < wav.samples.size(); ++i)
        wav.samples[i] = qint16(U16(bytes, 44 + 2 * i));
    return wav;
}

QVector<double> Channel(const CanonicalWav &wav, int channel, int first, int count)
{
    QVector<double> values;
    for (int f = first; f < first + count && f < wav.frames(); ++f)
        values << wav.samples[f * wav.channels + channel];
    return values;
}

// The share of the signal's energy at one frequency (Goertzel). A window
// holding a whole number of cycles of a pure sine gives 1; a shifted pitch,
// clipping or wrapped samples give less.
double ToneShare(const QVector<double> &values, double frequency, int rate)
{
    const double w = 2 * kPi * frequency / rate;
    double s1 = 0;
    double s2 = 0;
    double energy = 0;
    for (double x : values) {
        const double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        energy += x * x;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return energy > 0 ? 2 * power / (values.size() * energy) : 0;
}

double Peak(const QVector<double> &values)
{
    double peak = 0;
    for (double x : values)
        peak = std::max(peak, std::fabs(x));
    return peak;
}

double Rms(const QVector<double> &values)
{
    double energy = 0;
    for (double x : values)
        energy += x * x;
    return values.isEmpty() ? 0 : std::sqrt(energy / values.size());
}

QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                      | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run RunProgram(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// The lines a program printed, without their line feeds.
QByteArrayList Lines(const QByteArray &text)
{
    QByteArrayList lines = text.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int ConvertOnly(const QString &path)
{
    const int verdict = OpenAndCheckFile(ConvertFile(path));
    RemoveWorkFolder();
    QTextStream(stdout) << verdict << '\n';
    return 0;
}

} // namespace

class TestSoundConvert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void formats_data();
    void formats();
    void unreadableInput_data();
    void unreadableInput();
    void equalNamesKeepTheirResults();
    void awkwardNames_data();
    void awkwardNames();
    void converterLookup_data();
    void converterLookup();

    void commandLineFailures_data();
    void commandLineFailures();
    void integerRounding_data();
    void integerRounding();
    void floatScaling_data();
    void floatScaling();
    void floatPeakLateInLongFile();
    void resampling_data();
    void resampling();
    void resamplingScalesOvershoot();
    void resamplingOvershoot_data();
    void resamplingOvershoot();
    void progress_data();
    void progress();
    void libraryCancel_data();
    void libraryCancel();
    void converterProgramStopped_data();
    void converterProgramStopped();
    void libraryInThreads();
    void inProcessMatchesPrograms_data();
    void inProcessMatchesPrograms();
    void refusalWhileSoundsAreProbed();
    void inputFrameLimit_data();
    void inputFrameLimit();
    void inMemoryMatchesFile_data();
    void inMemoryMatchesFile();
    void probingLeavesOtherFilesOpen();

private:
    QString NewFolder(const QString &name);
    void ConvertChecked(const QString &source, QString *result);
    void CheckTone(const QString &path, const Tone &tone, int expectedChannels, double level,
                   bool lossy);

    QTemporaryDir sandbox;
    QString temp;
    QString previousCwd;
    QByteArrayList previousTemp;
};

void TestSoundConvert::initTestCase()
{
    QVERIFY(sandbox.isValid());
    QVERIFY(QFileInfo(BuiltConverter(kFirstConverter)).isExecutable());
    QVERIFY(QFileInfo(BuiltConverter(kSecondConverter)).isExecutable());
    // The working folder lands in a private temporary location and the
    // current folder is an empty one, so a test can see every file written.
    temp = NewFolder(QStringLiteral("tmp"));
    for (const char *name : kTempVariables) {
        previousTemp << qgetenv(name);
        qputenv(name, QFile::encodeName(QDir::toNativeSeparators(temp)));
    }
    previousCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(NewFolder(QStringLiteral("cwd"))));
}

void TestSoundConvert::cleanupTestCase()
{
    RemoveWorkFolder();
    QVERIFY(Entries(temp).isEmpty());
    QVERIFY(Entries(QDir::currentPath()).isEmpty());
    QDir::setCurrent(previousCwd);
    for (int i = 0; i < previousTemp.size(); ++i) {
        if (previousTemp[i].isNull())
            qunsetenv(kTempVariables[i]);
        else
            qputenv(kTempVariables[i], previousTemp[i]);
    }
}

QString TestSoundConvert::NewFolder(const QString &name)
{
    const QString path = sandbox.filePath(name);
    QDir().mkpath(path);
    return path;
}

// Converts `source` and checks that the call left nothing behind but its
// result: no intermediate in the working folder, nothing new beside the
// source, in the current folder or elsewhere in the temporary location.
void TestSoundConvert::ConvertChecked(const QString &source, QString *result)
{
    const QString sourceFolder = QFileInfo(source).absolutePath();
    const QStringList besideBefore = Entries(sourceFolder);
    *result = ConvertFile(source);

    const QString work = WorkFolder();
    QCOMPARE(Entries(temp), QStringList(QFileInfo(work).fileName()));
    QCOMPARE(Entries(sourceFolder), besideBefore);
    QCOMPARE(Entries(QDir::currentPath()), QStringList());
    for (const QString &entry : Entries(work)) {
        bool numbered = false;
        entry.toInt(&numbered);
        QVERIFY2(numbered, qPrintable(QStringLiteral("left in the working folder: ") + entry));
        QCOMPARE(Entries(QDir(work).filePath(entry)).size(), 1);
    }
    if (QFile::exists(*result))
        QVERIFY2(result->startsWith(work + QLatin1Char('/')), qPrintable(*result));
}

// Checks a converted file: canonical header at 44100 Hz, the expected
// channels, the length the source's rate implies, each channel's own tone at
// its level, neither clipped nor wrapped.
void TestSoundConvert::CheckTone(const QString &path, const Tone &tone, int expectedChannels,
                            double level, bool lossy)
{
    const CanonicalWav wav = ReadCanonicalWav(path);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.rate, 44100);
    QCOMPARE(wav.channels, expectedChannels);

    // Lossy codecs may pad or trim up to about one of their blocks.
    const double expectedFrames = double(tone.frames) * 44100 / tone.rate;
    const double slack = lossy ? 2048 : 1;
    QVERIFY2(std::fabs(wav.frames() - expectedFrames) <= slack,
             qPrintable(QStringLiteral("%1 frames, expected %2").arg(wav.frames()).arg(expectedFrames)));

    // A 0.2 s window from 0.1 s on holds whole cycles of every tone used.
    const int first = 4410;
    const int count = 8820;
    QVERIFY(wav.frames() >= first + count);
    for (int c = 0; c < expectedChannels; ++c) {
        const QVector<double> values = Channel(wav, c, first, count);
        const double share = ToneShare(values, ChannelFrequency(tone, c), 44100);
        const double peak = Peak(values) / 32767;
        const double crest = Peak(values) / Rms(values);
        const QString seen = QStringLiteral("channel %1: tone share %2, peak %3, crest %4")
                                 .arg(c).arg(share).arg(peak).arg(crest);
        QVERIFY2(share > (lossy ? 0.97 : 0.999), qPrintable(seen));
        QVERIFY2(std::fabs(peak - level) < level * (lossy ? 0.1 : 0.015), qPrintable(seen));
        // A sine's peak is sqrt(2) times its RMS; clipping flattens that.
        QVERIFY2(std::fabs(crest - std::sqrt(2.0)) < (lossy ? 0.1 : 0.03), qPrintable(seen));
    }
}

void TestSoundConvert::formats_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("level");
    QTest::addColumn<bool>("title");
    QTest::addColumn<int>("expectedChannels");
    QTest::addColumn<double>("expectedLevel");
    QTest::addColumn<bool>("lossy");

    const int wav = SF_FORMAT_WAV;
    QTest::newRow("wav 44100 16-bit mono, copied")
        << "kick.wav" << (wav | SF_FORMAT_PCM_16) << 44100 << 1 << 0.5 << false << 1 << 0.5 << false;
    QTest::newRow("wav 48000 24-bit stereo")
        << "snare.wav" << (wav | SF_FORMAT_PCM_24) << 48000 << 2 << 0.5 << false << 2 << 0.5 << false;
    QTest::newRow("wav 22050 32-bit mono")
        << "tom.wav" << (wav | SF_FORMAT_PCM_32) << 22050 << 1 << 0.7 << false << 1 << 0.7 << false;
    QTest::newRow("wav 96000 float, peaks above full scale")
        << "hot.wav" << (wav | SF_FORMAT_FLOAT) << 96000 << 1 << 1.8 << false << 1 << 1.0 << false;
    QTest::newRow("wav 44100 double stereo, peaks above full scale")
        << "hotter.wav" << (wav | SF_FORMAT_DOUBLE) << 44100 << 2 << 3.0 << false << 2 << 1.0 << false;
    QTest::newRow("wav 48000 float below full scale keeps its level")
        << "soft.wav" << (wav | SF_FORMAT_FLOAT) << 48000 << 1 << 0.25 << false << 1 << 0.25 << false;
    QTest::newRow("flac 48000 stereo")
        << "ride.flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 48000 << 2 << 0.5 << false << 2 << 0.5 << false;
    QTest::newRow("aiff 32000 24-bit mono")
        << "kick.aif" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << 32000 << 1 << 0.5 << false << 1 << 0.5 << false;
    QTest::newRow("ogg vorbis 44100 stereo")
        << "crash.ogg" << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << 2 << 0.5 << false << 2 << 0.5 << true;
    QTest::newRow("ogg opus 48000 mono")
        << "rim.opus" << (SF_FORMAT_OGG | SF_FORMAT_OPUS) << 48000 << 1 << 0.5 << false << 1 << 0.5 << true;
    QTest::newRow("wav with a LIST chunk before the data")
        << "tagged.wav" << (wav | SF_FORMAT_PCM_16) << 48000 << 2 << 0.5 << true << 2 << 0.5 << false;
    QTest::newRow("wav in the extensible format")
        << "wide.wav" << (SF_FORMAT_WAVEX | SF_FORMAT_PCM_16) << 44100 << 2 << 0.5 << false << 2 << 0.5 << false;
    QTest::newRow("mp3 44100 stereo")
        << "clap.mp3" << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 44100 << 2 << 0.5 << false << 2 << 0.5 << true;
    QTest::newRow("mp3 48000 mono under a .wav name")
        << "clap.wav" << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 48000 << 1 << 0.5 << false << 1 << 0.5 << true;
    QTest::newRow("six channels, the first two kept")
        << "surround.wav" << (wav | SF_FORMAT_PCM_16) << 48000 << 6 << 0.5 << false << 2 << 0.5 << false;
}

void TestSoundConvert::formats()
{
    QFETCH(QString, fileName);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, level);
    QFETCH(bool, title);
    QFETCH(int, expectedChannels);
    QFETCH(double, expectedLevel);
    QFETCH(bool, lossy);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("source-XXXXXX")));
    const QString source = folder.filePath(fileName);
    Tone tone;
    tone.format = format;
    tone.rate = rate;
    tone.channels = channels;
    tone.frames = rate / 2;
    tone.level = level;
    tone.title = title;
    const QString written = WriteTone(source, tone);
    QVERIFY2(written.isEmpty(), qPrintable(written));

    // The fixtures must really have the layouts they stand for.
    QFile raw(source);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray head = raw.read(64);
    if (title)
        QVERIFY(head.mid(36, 4) != "data" && head.contains("LIST"));
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAVEX)
        QCOMPARE(U16(head, 20), quint16(0xFFFE));

    QString result;
    ConvertChecked(source, &result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QFileInfo(result).fileName(), fileName);
    QVERIFY(OpenAndCheckFile(result) > 0);
    CheckTone(result, tone, expectedChannels, expectedLevel, lossy);

    if (format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) && rate == 44100 && !title)
        QCOMPARE(ReadCanonicalWav(result).samples, ReadShorts(source));
}

void TestSoundConvert::unreadableInput_data()
{
    QTest::addColumn<QString>("fileName"); // empty: the empty path
    QTest::addColumn<QByteArray>("content"); // written only when not null
    QTest::addColumn<bool>("returnedUnchanged");
    QTest::addColumn<int>("verdict");

    QTest::newRow("empty path") << QString() << QByteArray() << true << int(RESULT_NO_FILE);
    QTest::newRow("missing file") << "gone.wav" << QByteArray() << true << int(RESULT_OPEN_FAILED);
    QTest::newRow("text, not sound") << "notes.wav" << QByteArray("not a sound at all\n") << false
                                     << int(RESULT_OPEN_FAILED);
    QTest::newRow("empty file") << "empty.wav" << QByteArray("") << false << int(RESULT_OPEN_FAILED);
    QTest::newRow("header cut short") << "cut.wav" << CanonicalWavHeader(1, 44100, 16, 4000).left(30)
                                      << false << int(RESULT_OPEN_FAILED);
}

void TestSoundConvert::unreadableInput()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, returnedUnchanged);
    QFETCH(int, verdict);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("source-XXXXXX")));
    const QString source = fileName.isEmpty() ? QString() : folder.filePath(fileName);
    if (!content.isNull())
        QVERIFY(WriteBytes(source, content));

    QString result;
    if (returnedUnchanged) {
        // Turned away at once: not even the working folder is touched.
        const QStringList before = FolderTree(temp);
        result = ConvertFile(source);
        QCOMPARE(result, source);
        QCOMPARE(FolderTree(temp), before);
        QCOMPARE(Entries(QDir::currentPath()), QStringList());
    } else {
        ConvertChecked(source, &result);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!QFile::exists(result));
    }
    QCOMPARE(OpenAndCheckFile(result), verdict);
}

void TestSoundConvert::equalNamesKeepTheirResults()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("source-XXXXXX")));
    Tone low;
    low.frequency = 400;
    Tone high = low;
    high.frequency = 1000;
    const QString first = folder.filePath(QStringLiteral("a/kick.wav"));
    const QString second = folder.filePath(QStringLiteral("b/kick.wav"));
    QDir(folder.path()).mkpath(QStringLiteral("a"));
    QDir(folder.path()).mkpath(QStringLiteral("b"));
    QCOMPARE(WriteTone(first, low), QString());
    QCOMPARE(WriteTone(second, high), QString());

    QString firstResult;
    ConvertChecked(first, &firstResult);
    QString secondResult;
    ConvertChecked(second, &secondResult);
    QString againResult;
    ConvertChecked(first, &againResult);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(QFileInfo(firstResult).fileName(), QStringLiteral("kick.wav"));
    QCOMPARE(QFileInfo(secondResult).fileName(), QStringLiteral("kick.wav"));
    QVERIFY(firstResult != secondResult);
    QVERIFY(againResult != firstResult && againResult != secondResult);
    // Every result still holds its own sound after the later conversions.
    for (const QString &result : {firstResult, againResult})
        CheckTone(result, low, 1, 0.5, false);
    CheckTone(secondResult, high, 1, 0.5, false);
    for (const QString &result : {firstResult, secondResult, againResult})
        QVERIFY(OpenAndCheckFile(result) > 0);
}

void TestSoundConvert::awkwardNames_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<int>("rate");

    QTest::newRow("named like the first intermediate") << "tempWav1.wav" << 48000;
    QTest::newRow("named like the second intermediate") << "tempWav2.wav" << 48000;
    QTest::newRow("named like the third intermediate") << "tempWav3.wav" << 44100;
    QTest::newRow("spaces") << "my kick  drum.wav" << 48000;
    QTest::newRow("quotes") << "it's \"loud\".wav" << 48000;
    QTest::newRow("accented letters") << QString::fromUtf8("Große Trommel é.wav") << 48000;
    QTest::newRow("non-Latin letters") << QString::fromUtf8("барабан ドラム.wav") << 44100;
    QTest::newRow("folder with spaces and accents")
        << QString::fromUtf8("Mes sons/à jouer/kick.wav") << 48000;
    QTest::newRow("no extension") << "kick" << 48000;
    QTest::newRow("leading dash") << "-kick.wav" << 48000;
}

void TestSoundConvert::awkwardNames()
{
    QFETCH(QString, relativePath);
    QFETCH(int, rate);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("source-XXXXXX")));
    const QString source = folder.filePath(relativePath);
    QDir().mkpath(QFileInfo(source).absolutePath());
    Tone tone;
    tone.rate = rate;
    tone.frames = rate / 2;
    QCOMPARE(WriteTone(source, tone), QString());

    QString result;
    ConvertChecked(source, &result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QFileInfo(result).fileName(), QFileInfo(source).fileName());
    QVERIFY(OpenAndCheckFile(result) > 0);
    CheckTone(result, tone, 1, 0.5, false);
}

void TestSoundConvert::converterLookup_data()
{
    QTest::addColumn<QStringList>("besideProgram");
    QTest::addColumn<QStringList>("onPath");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("converted");

    const QStringList none;
    const QStringList first{kFirstConverter};
    const QStringList both{kFirstConverter, kSecondConverter};
    QTest::newRow("neither anywhere") << none << none << 44100 << false;
    QTest::newRow("second missing, needed") << first << none << 48000 << false;
    QTest::newRow("second missing, not needed") << first << none << 44100 << true;
    QTest::newRow("both found on PATH only") << none << both << 48000 << true;
    QTest::newRow("first beside, second on PATH") << first << QStringList{kSecondConverter} << 48000
                                                  << true;
}

// Runs this test program's conversion-only mode from a copy placed in a
// folder of its own, with PATH naming only the given folder, so which
// converters it can find is fully arranged.
void TestSoundConvert::converterLookup()
{
    QFETCH(QStringList, besideProgram);
    QFETCH(QStringList, onPath);
    QFETCH(int, rate);
    QFETCH(bool, converted);

    QTemporaryDir row(sandbox.filePath(QStringLiteral("lookup-XXXXXX")));
    const QDir dir(row.path());
    for (const char *folder : {"program", "path", "tmp", "source"})
        QVERIFY(dir.mkdir(QLatin1String(folder)));
    const QString program =
        dir.filePath(QStringLiteral("program/") + QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    for (const QString &name : besideProgram)
        QVERIFY(QFile::copy(BuiltConverter(name), dir.filePath(QStringLiteral("program/") + ExecutableName(name))));
    for (const QString &name : onPath)
        QVERIFY(QFile::copy(BuiltConverter(name), dir.filePath(QStringLiteral("path/") + ExecutableName(name))));

    Tone tone;
    tone.rate = rate;
    tone.frames = rate / 2;
    const QString source = dir.filePath(QStringLiteral("source/kick.wav"));
    QCOMPARE(WriteTone(source, tone), QString());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QDir::toNativeSeparators(dir.filePath(QStringLiteral("path"))));
    for (const char *name : kTempVariables)
        environment.insert(QLatin1String(name),
                           QDir::toNativeSeparators(dir.filePath(QStringLiteral("tmp"))));
    const Run run = RunProgram(program, {QString::fromLatin1(kConvertOnly), source}, environment);
    QVERIFY2(run.exitCode == 0, run.err.constData());

    const int verdict = run.out.trimmed().toInt();
    if (converted)
        QVERIFY2(verdict > 0, run.err.constData());
    else
        QCOMPARE(verdict, int(RESULT_OPEN_FAILED));
    QCOMPARE(Entries(dir.filePath(QStringLiteral("tmp"))), QStringList());
    QCOMPARE(Entries(dir.filePath(QStringLiteral("source"))), QStringList(QStringLiteral("kick.wav")));
}

void TestSoundConvert::commandLineFailures_data()
{
    // In the arguments, {in} stands for the input fixture and {out} for the
    // output path; the input is a 44100 Hz 16-bit tone unless `input` says
    // otherwise.
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("input"); // tone, text, nan, six, none
    QTest::addColumn<bool>("outputExists");
    QTest::addColumn<bool>("usage");

    const QString first = kFirstConverter;
    const QString second = kSecondConverter;
    QTest::newRow("first: no arguments") << first << QStringList() << "tone" << false << true;
    QTest::newRow("first: one argument") << first << QStringList{"{in}"} << "tone" << false << true;
    QTest::newRow("first: three arguments") << first << QStringList{"{in}", "{out}", "{out}"} << "tone" << false << true;
    QTest::newRow("first: the progress option alone") << first << QStringList{"--progress"} << "tone" << false << true;
    QTest::newRow("first: the progress option after the arguments")
        << first << QStringList{"{in}", "{out}", "--progress"} << "tone" << false << true;
    QTest::newRow("first: missing input") << first << QStringList{"{in}", "{out}"} << "none" << false << false;
    QTest::newRow("first: text input") << first << QStringList{"{in}", "{out}"} << "text" << false << false;
    QTest::newRow("first: text input keeps an existing output")
        << first << QStringList{"{in}", "{out}"} << "text" << true << false;
    QTest::newRow("first: float input with NaN") << first << QStringList{"{in}", "{out}"} << "nan" << false << false;
    QTest::newRow("first: output folder missing")
        << first << QStringList{"{in}", "{out}/nowhere/out.wav"} << "tone" << false << false;

    QTest::newRow("second: no arguments") << second << QStringList() << "tone" << false << true;
    QTest::newRow("second: three arguments") << second << QStringList{"{in}", "44100", "{out}"} << "tone" << false << true;
    QTest::newRow("second: the progress option and three arguments")
        << second << QStringList{"--progress", "{in}", "44100", "{out}"} << "tone" << false << true;
    QTest::newRow("second: rate not a number")
        << second << QStringList{"{in}", "fast", "{out}", "48000"} << "tone" << false << false;
    QTest::newRow("second: rate zero") << second << QStringList{"{in}", "0", "{out}", "48000"} << "tone" << false << false;
    QTest::newRow("second: rate negative")
        << second << QStringList{"{in}", "-44100", "{out}", "48000"} << "tone" << false << false;
    QTest::newRow("second: rate with a unit")
        << second << QStringList{"{in}", "44100Hz", "{out}", "48000"} << "tone" << false << false;
    QTest::newRow("second: rate far too high")
        << second << QStringList{"{in}", "44100", "{out}", "4410000"} << "tone" << false << false;
    QTest::newRow("second: rate not the file's")
        << second << QStringList{"{in}", "48000", "{out}", "44100"} << "tone" << true << false;
    QTest::newRow("second: missing input")
        << second << QStringList{"{in}", "44100", "{out}", "48000"} << "none" << false << false;
    QTest::newRow("second: text input")
        << second << QStringList{"{in}", "44100", "{out}", "48000"} << "text" << false << false;
    QTest::newRow("second: six channels")
        << second << QStringList{"{in}", "44100", "{out}", "48000"} << "six" << false << false;
}

void TestSoundConvert::commandLineFailures()
{
    QFETCH(QString, converter);
    QFETCH(QStringList, arguments);
    QFETCH(QString, input);
    QFETCH(bool, outputExists);
    QFETCH(bool, usage);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("cli-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    Tone tone;
    if (input == QLatin1String("tone")) {
        QCOMPARE(WriteTone(in, tone), QString());
    } else if (input == QLatin1String("six")) {
        tone.channels = 6;
        QCOMPARE(WriteTone(in, tone), QString());
    } else if (input == QLatin1String("text")) {
        QVERIFY(WriteBytes(in, "not a sound at all\n"));
    } else if (input == QLatin1String("nan")) {
        QCOMPARE(WriteSamples(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1,
                              QVector<double>{0.1, std::nan(""), 0.2}),
                 QString());
    }
    const QByteArray kept("an earlier result\n");
    if (outputExists)
        QVERIFY(WriteBytes(out, kept));
    const QStringList before = Entries(folder.path());

    QStringList actual;
    for (QString argument : arguments)
        actual << argument.replace(QLatin1String("{in}"), in).replace(QLatin1String("{out}"), out);
    const Run run = RunProgram(BuiltConverter(converter), actual);

    QVERIFY(run.exitCode > 0);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.endsWith('\n') && run.err.count('\n') == 1, run.err.constData());
    const QString prefix = usage ? QStringLiteral("usage: ") + converter + QLatin1Char(' ')
                                 : converter + QStringLiteral(": ");
    QVERIFY2(run.err.startsWith(prefix.toUtf8()), run.err.constData());
    if (usage)
        QVERIFY2(run.err.contains(" [--progress] "), run.err.constData());
    QCOMPARE(Entries(folder.path()), before);
    if (outputExists) {
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kept);
    }
}

void TestSoundConvert::integerRounding_data()
{
    // Samples as libsndfile hands integers over: left-aligned in 32 bits.
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<int>>("samples");
    QTest::addColumn<QVector<qint16>>("expected");

    const auto at24 = [](QVector<int> values) {
        for (int &v : values)
            v = int(unsigned(v) << 8);
        return values;
    };
    const QVector<int> deep = at24({0xFF, 0x80, 0x7F, -1, -128, -129, 0x7FFFFF, -0x800000, 0x123456});
    const QVector<qint16> rounded{1, 1, 0, 0, 0, -1, 32767, -32768, 0x1234};
    QTest::newRow("wav 24-bit rounds to nearest") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << deep << rounded;
    QTest::newRow("flac 24-bit rounds to nearest") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << deep << rounded;
    QTest::newRow("wav 32-bit rounds to nearest")
        << (SF_FORMAT_WAV | SF_FORMAT_PCM_32)
        << QVector<int>{0x8000, 0x7FFF, -0x8000, -0x8001, 0x7FFFFFFF, int(0x80000000)}
        << QVector<qint16>{1, 0, 0, -1, 32767, -32768};
    QTest::newRow("wav 16-bit unchanged")
        << (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
        << QVector<int>{int(0x80000000), -0x10000, 0, 0x10000, 0x7FFF0000}
        << QVector<qint16>{-32768, -1, 0, 1, 32767};
    QTest::newRow("wav 8-bit keeps its level")
        << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8)
        << QVector<int>{int(0x80000000), -0x1000000, 0, 0x1000000, 0x7F000000}
        << QVector<qint16>{-32768, -256, 0, 256, 32512};
}

void TestSoundConvert::integerRounding()
{
    QFETCH(int, format);
    QFETCH(QVector<int>, samples);
    QFETCH(QVector<qint16>, expected);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("int-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    QCOMPARE(WriteSamples(in, format, 44100, 1, samples), QString());

    const Run run = RunProgram(BuiltConverter(kFirstConverter), {in, out});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const CanonicalWav wav = ReadCanonicalWav(out);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.rate, 44100);
    QCOMPARE(wav.samples, expected);
}

void TestSoundConvert::floatScaling_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QVector<double>>("samples");
    QTest::addColumn<QVector<qint16>>("expected");

    const int f32 = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    QTest::newRow("below full scale: level kept")
        << f32 << 1 << QVector<double>{0.4, -0.25, 0.125, 0} << QVector<qint16>{13107, -8192, 4096, 0};
    QTest::newRow("exactly full scale: level kept")
        << f32 << 1 << QVector<double>{1.0, -1.0, 0.4} << QVector<qint16>{32767, -32767, 13107};
    QTest::newRow("above full scale: scaled by the peak")
        << f32 << 1 << QVector<double>{4.0, -1.0, 0.5, -4.0} << QVector<qint16>{32767, -8192, 4096, -32767};
    QTest::newRow("negative peak sets the scale")
        << f32 << 1 << QVector<double>{0.8, -2.0} << QVector<qint16>{13107, -32767};
    QTest::newRow("double above full scale")
        << (SF_FORMAT_WAV | SF_FORMAT_DOUBLE) << 1 << QVector<double>{1.2, -3.0, 0.75}
        << QVector<qint16>{13107, -32767, 8192};
    QTest::newRow("stereo: one peak scales both channels")
        << f32 << 2 << QVector<double>{0.5, 2.0, -0.5, -1.2} << QVector<qint16>{8192, 32767, -8192, -19660};
    QTest::newRow("a dropped channel does not set the scale")
        << f32 << 3 << QVector<double>{0.4, -0.4, 8.0, 0.25, 0, -8.0}
        << QVector<qint16>{13107, -13107, 8192, 0};
}

void TestSoundConvert::floatScaling()
{
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(QVector<double>, samples);
    QFETCH(QVector<qint16>, expected);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("float-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    QCOMPARE(WriteSamples(in, format, 48000, channels, samples), QString());

    const Run run = RunProgram(BuiltConverter(kFirstConverter), {in, out});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const CanonicalWav wav = ReadCanonicalWav(out);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.rate, 48000);
    QCOMPARE(wav.channels, std::min(channels, 2));
    QCOMPARE(wav.samples, expected);
}

// The peak decides the scale of samples read long before it: the whole file
// is looked at before anything is written.
void TestSoundConvert::floatPeakLateInLongFile()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("float-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    QVector<double> samples(300000, 0.0);
    samples.first() = 0.8;
    samples.last() = -2.0;
    QCOMPARE(WriteSamples(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, samples), QString());

    const Run run = RunProgram(BuiltConverter(kFirstConverter), {in, out});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const CanonicalWav wav = ReadCanonicalWav(out);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.samples.size(), samples.size());
    QCOMPARE(wav.samples.first(), qint16(13107));
    QCOMPARE(wav.samples.last(), qint16(-32767));
}

void TestSoundConvert::resampling_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("frames");

    QTest::newRow("8000 to 44100 mono") << 8000 << 44100 << 1 << 4001;
    QTest::newRow("22050 to 44100 stereo") << 22050 << 44100 << 2 << 11025;
    QTest::newRow("48000 to 44100 stereo") << 48000 << 44100 << 2 << 24001;
    QTest::newRow("96000 to 44100 mono") << 96000 << 44100 << 1 << 48003;
    QTest::newRow("192000 to 44100 mono") << 192000 << 44100 << 1 << 96001;
    QTest::newRow("44100 to 48000 mono") << 44100 << 48000 << 1 << 22051;
}

void TestSoundConvert::resampling()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, channels);
    QFETCH(int, frames);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("rate-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    Tone tone;
    tone.rate = from;
    tone.channels = channels;
    tone.frames = frames;
    QCOMPARE(WriteTone(in, tone), QString());

    const Run run = RunProgram(BuiltConverter(kSecondConverter),
                               {in, QString::number(from), out, QString::number(to)});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY(run.err.isEmpty());
    QCOMPARE(Entries(folder.path()), (QStringList{"in.wav", "out.wav"}));

    const CanonicalWav wav = ReadCanonicalWav(out);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.rate, to);
    QCOMPARE(wav.channels, channels);
    const double expectedFrames = double(frames) * to / from;
    QVERIFY2(std::fabs(wav.frames() - expectedFrames) <= 1,
             qPrintable(QStringLiteral("%1 frames, expected %2").arg(wav.frames()).arg(expectedFrames)));
    for (int c = 0; c < channels; ++c) {
        const QVector<double> values = Channel(wav, c, to / 10, to / 10);
        const double share = ToneShare(values, ChannelFrequency(tone, c), to);
        QVERIFY2(share > 0.999, qPrintable(QString::number(share)));
        QVERIFY(std::fabs(Peak(values) / 32767 - tone.level) < 0.01);
    }
    // Nothing here comes near full scale: every sample is the resampler's
    // own value, rounded as it always was.
    QCOMPARE(wav.samples, PlainPcm(ResampledValues(ReadShorts(in), channels, from, to)));
}

// A full-scale square wave makes the resampling filter overshoot. The
// output must be the half-level output doubled and scaled down by one
// factor: its shape kept, nothing clipped or wrapped, its peak at full scale.
void TestSoundConvert::resamplingScalesOvershoot()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("rate-XXXXXX")));
    QVector<CanonicalWav> outputs;
    QVector<QByteArray> errors;
    for (int height : {16000, 32000}) {
        QVector<int> square(4800);
        for (int f = 0; f < square.size(); ++f)
            square[f] = ((f / 24) % 2 ? -height : height) * 65536;
        const QString in = folder.filePath(QStringLiteral("square%1.wav").arg(height));
        const QString out = folder.filePath(QStringLiteral("out%1.wav").arg(height));
        QCOMPARE(WriteSamples(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, square), QString());
        const Run run = RunProgram(BuiltConverter(kSecondConverter), {in, "48000", out, "44100"});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        outputs << ReadCanonicalWav(out);
        errors << run.err;
        QVERIFY2(outputs.last().fault.isEmpty(), qPrintable(outputs.last().fault));
    }
    QCOMPARE(errors[0], QByteArray());
    QVERIFY2(errors[1].startsWith("sr-convert: ") && errors[1].contains("peak would exceed full scale")
                 && errors[1].count('\n') == 1,
             errors[1].constData());

    const QVector<qint16> &half = outputs[0].samples;
    const QVector<qint16> &full = outputs[1].samples;
    QCOMPARE(full.size(), half.size());
    int halfPeak = 0;
    int fullPeak = 0;
    for (int i = 0; i < half.size(); ++i) {
        halfPeak = std::max(halfPeak, std::abs(int(half[i])));
        fullPeak = std::max(fullPeak, std::abs(int(full[i])));
    }
    QVERIFY(2 * halfPeak > 32767);
    QVERIFY2(fullPeak >= 32766 && fullPeak <= 32767, qPrintable(QString::number(fullPeak)));
    const double factor = 32767.0 / (2 * halfPeak);
    for (int i = 0; i < half.size(); ++i) {
        const double expected = 2 * half[i] * factor;
        QVERIFY2(std::fabs(full[i] - expected) <= 2,
                 qPrintable(QStringLiteral("sample %1: %2, expected %3").arg(i).arg(full[i]).arg(expected)));
    }
}

void TestSoundConvert::resamplingOvershoot_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("level"); // of the hit's highest sample
    QTest::addColumn<bool>("scaled");

    QTest::newRow("0 dBFS hit at 48000 is scaled") << 48000 << 1 << 1.0 << true;
    QTest::newRow("0 dBFS stereo hit at 96000 is scaled") << 96000 << 2 << 1.0 << true;
    QTest::newRow("-6 dBFS hit at 48000 is left alone") << 48000 << 1 << 0.5 << false;
    QTest::newRow("-6 dBFS stereo hit at 22050 is left alone") << 22050 << 2 << 0.5 << false;
}

// A hit normalised to full scale comes out of the resampler scaled down by
// its resampled peak, with one warning that says by how much; a quieter one
// comes out exactly as the resampler always wrote it.
void TestSoundConvert::resamplingOvershoot()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, level);
    QFETCH(bool, scaled);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("rate-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("hit.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    const QVector<qint16> hit = DrumHit(rate, channels, rate / 2, level);
    QVERIFY(WriteBytes(in, Wav16(quint16(channels), quint32(rate), hit)));

    const Run run = RunProgram(BuiltConverter(kSecondConverter),
                               {in, QString::number(rate), out, QStringLiteral("44100")});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(Entries(folder.path()), (QStringList{"hit.wav", "out.wav"}));
    const CanonicalWav wav = ReadCanonicalWav(out);
    QVERIFY2(wav.fault.isEmpty(), qPrintable(wav.fault));
    QCOMPARE(wav.channels, channels);
    const QVector<float> values = ResampledValues(hit, channels, rate, 44100);
    QCOMPARE(wav.samples.size(), values.size());
    const QVector<qint16> plain = PlainPcm(values);

    if (!scaled) {
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(wav.samples, plain);
        return;
    }
    // Written plainly, the filter's overshoot would sit at the rails.
    QVERIFY2(CountAtRails(plain) > 100, qPrintable(QString::number(CountAtRails(plain))));
    double peak = 0;
    for (float v : values)
        peak = std::max(peak, std::fabs(double(v)));
    const double scale = 32767 / peak;
    const QString decibels = QString::number(20 * std::log10(scale / 32768), 'f', 2);
    QCOMPARE(QString::fromUtf8(run.err),
             QStringLiteral("sr-convert: %1: peak would exceed full scale; scaled by %2 dB\n")
                 .arg(in, decibels));
    for (int i = 0; i < values.size(); ++i)
        QVERIFY2(std::abs(wav.samples[i] - std::lrint(values[i] * scale)) <= 1,
                 qPrintable(QStringLiteral("sample %1: %2, expected %3")
                                .arg(i).arg(wav.samples[i]).arg(values[i] * scale)));
    // Only the peak itself reaches full scale.
    QVERIFY2(CountAtRails(wav.samples) <= 2, qPrintable(QString::number(CountAtRails(wav.samples))));
    QVERIFY(!wav.samples.contains(-32768));
    int highest = 0;
    for (qint16 s : wav.samples)
        highest = std::max(highest, std::abs(int(s)));
    QVERIFY2(highest >= 32766, qPrintable(QString::number(highest)));
}

void TestSoundConvert::progress_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QString>("input"); // tone, hot float, hit

    QTest::newRow("first: 16-bit source") << kFirstConverter << "tone";
    QTest::newRow("first: float source above full scale, read twice") << kFirstConverter << "hot float";
    QTest::newRow("second: quiet source") << kSecondConverter << "tone";
    QTest::newRow("second: 0 dBFS hit, scaled") << kSecondConverter << "hit";
}

// With --progress a converter prints whole per cents on stderr as it works,
// each once and rising to 100, and writes the same file as without it;
// without the option it says nothing beyond a warning.
void TestSoundConvert::progress()
{
    QFETCH(QString, converter);
    QFETCH(QString, input);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("progress-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    // Two seconds of stereo at 48000 Hz: several blocks for either converter.
    Tone tone;
    tone.rate = 48000;
    tone.channels = 2;
    tone.frames = 96000;
    if (input == QLatin1String("hit")) {
        QVERIFY(WriteBytes(in, Wav16(2, 48000, DrumHit(48000, 2, 96000, 1.0))));
    } else {
        if (input == QLatin1String("hot float")) {
            tone.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            tone.level = 1.8;
        }
        QCOMPARE(WriteTone(in, tone), QString());
    }
    const auto arguments = [&](const QString &out) {
        return converter == kFirstConverter ? QStringList{in, out}
                                            : QStringList{in, QStringLiteral("48000"), out,
                                                          QStringLiteral("44100")};
    };
    const QString quietOut = folder.filePath(QStringLiteral("quiet.wav"));
    const QString loudOut = folder.filePath(QStringLiteral("loud.wav"));
    const Run quiet = RunProgram(BuiltConverter(converter), arguments(quietOut));
    const Run loud = RunProgram(BuiltConverter(converter),
                                QStringList(QStringLiteral("--progress")) + arguments(loudOut));
    QVERIFY2(quiet.exitCode == 0, quiet.err.constData());
    QVERIFY2(loud.exitCode == 0, loud.err.constData());
    QVERIFY(ReadAll(quietOut).size() > 44);
    QCOMPARE(ReadAll(loudOut), ReadAll(quietOut));

    const QByteArrayList quietLines = Lines(quiet.err);
    const bool warned = input == QLatin1String("hit");
    QCOMPARE(quietLines.size(), warned ? 1 : 0);
    const QRegularExpression percentLine(QStringLiteral("^(\\d+)%$"));
    QVector<int> percents;
    QByteArrayList others;
    for (const QByteArray &line : Lines(loud.err)) {
        const QRegularExpressionMatch match = percentLine.match(QString::fromUtf8(line));
        if (match.hasMatch())
            percents << match.captured(1).toInt();
        else
            others << line;
    }
    QCOMPARE(others, quietLines);
    QVERIFY2(percents.size() >= 3, loud.err.constData());
    QCOMPARE(percents.last(), 100);
    for (int i = 0; i < percents.size(); ++i)
        QVERIFY2(percents[i] >= 0 && (i == 0 || percents[i] > percents[i - 1]), loud.err.constData());
}

void TestSoundConvert::libraryCancel_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("stopAt"); // per cent at which the caller asks to stop; 0: before the start
    QTest::addColumn<int>("seconds");

    QTest::newRow("convert: before the start") << "convert" << 0 << 2;
    QTest::newRow("convert: midway") << "convert" << 30 << 2;
    QTest::newRow("resample: before the start") << "resample" << 0 << 2;
    QTest::newRow("resample: while resampling") << "resample" << 30 << 2;
    QTest::newRow("resample: while writing the result") << "resample" << 95 << 2;
    QTest::newRow("resample: writing a result kept on disk") << "resample" << 95 << 13;
    QTest::newRow("both: before the start") << "both" << 0 << 2;
    QTest::newRow("both: while converting") << "both" << 30 << 2;
    QTest::newRow("both: while writing the result") << "both" << 95 << 2;
    QTest::newRow("both: writing a result kept on disk") << "both" << 95 << 13;
}

// A cancelled conversion stops at the next block, fails with "cancelled",
// and leaves the output folder as it found it, an earlier result included.
void TestSoundConvert::libraryCancel()
{
    QFETCH(QString, call);
    QFETCH(int, stopAt);
    QFETCH(int, seconds);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("cancel-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    Tone tone;
    tone.rate = 48000;
    tone.channels = 2;
    tone.frames = 48000 * seconds;
    QCOMPARE(WriteTone(in, tone), QString());
    const QByteArray kept("an earlier result\n");
    QVERIFY(WriteBytes(out, kept));

    std::atomic<bool> cancel(stopAt == 0);
    QVector<int> seen;
    ConvertControl control;
    control.cancel = &cancel;
    control.progress = [&](int percent) {
        seen << percent;
        if (percent >= stopAt)
            cancel = true;
    };
    std::string error;
    std::string warning;
    bool converted = true;
    if (call == "convert")
        converted = ConvertToPcm16(in.toStdString(), out.toStdString(), control, &error);
    else if (call == "resample")
        converted = ResamplePcm16(in.toStdString(), 48000, out.toStdString(), 44100, control,
                                  &error, &warning);
    else
        converted = ConvertToRate(in.toStdString(), out.toStdString(), 44100, control, &error,
                                  &warning);

    QVERIFY(!converted);
    QCOMPARE(QString::fromStdString(error), QStringLiteral("cancelled"));
    QCOMPARE(Entries(folder.path()), (QStringList{"in.wav", "out.wav"}));
    QCOMPARE(ReadAll(out), kept);
    if (stopAt == 0)
        QCOMPARE(seen, QVector<int>());
    else
        QVERIFY2(!seen.isEmpty() && seen.last() >= stopAt && seen.last() < 100,
                 qPrintable(QString::number(seen.isEmpty() ? -1 : seen.last())));
}

void TestSoundConvert::converterProgramStopped_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("stopAbove"); // per cent of the whole conversion

    QTest::newRow("first step") << 44100 << 0;
    QTest::newRow("second step, resampling") << 96000 << 30;
}

// A conversion cancelled while a converter program runs kills it and
// removes all it wrote, the partial files it had not yet renamed included.
void TestSoundConvert::converterProgramStopped()
{
    QFETCH(int, rate);
    QFETCH(int, stopAbove);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("stopped-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("two minutes.wav"));
    QVERIFY(WriteSilentWave(in, 1, quint32(rate), qint64(rate) * 120));
    const QString work = WorkFolder();
    const QStringList before = FolderTree(work);

    std::atomic<bool> cancelled(false);
    ConvertOptions options;
    options.cancelled = &cancelled;
    options.progress = [&cancelled, stopAbove](int percent) {
        if (percent > stopAbove)
            cancelled = true;
    };
    QString reason;
    const QString result = ConvertFile(in, options, &reason);

    QVERIFY(cancelled);
    QCOMPARE(reason, QStringLiteral("cancelled"));
    QVERIFY(!QFileInfo::exists(result));
    QCOMPARE(FolderTree(work), before);
}

// Conversions running at once on several threads each end with their own
// result, the same as alone, or with their own reason.
void TestSoundConvert::libraryInThreads()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("threads-XXXXXX")));
    const QDir dir(folder.path());
    QVERIFY(dir.mkdir(QStringLiteral("alone")) && dir.mkdir(QStringLiteral("together")));
    QStringList inputs;
    for (int i = 0; i < 3; ++i) {
        Tone tone;
        tone.rate = 48000;
        tone.channels = 2;
        tone.frames = 48000;
        tone.frequency = 300 + 100 * i;
        inputs << dir.filePath(QStringLiteral("tone%1.wav").arg(i));
        QCOMPARE(WriteTone(inputs.last(), tone), QString());
    }
    const QString text = dir.filePath(QStringLiteral("notes.wav"));
    QVERIFY(WriteBytes(text, "not a sound at all\n"));
    const QString missing = dir.filePath(QStringLiteral("gone.wav"));
    const QString subfolder = dir.filePath(QStringLiteral("alone"));

    struct Job {
        QString input;
        bool resample;
        QString reason; // empty: the job succeeds
    };
    const QVector<Job> jobs{
        {inputs[0], false, QString()},
        {inputs[0], true, QString()},
        {inputs[1], false, QString()},
        {inputs[1], true, QString()},
        {inputs[2], false, QString()},
        {inputs[2], true, QString()},
        {text, false, text + QStringLiteral(": Format not recognised.")},
        {missing, true,
         missing + QStringLiteral(": System error : %1.")
                       .arg(QString::fromStdString(std::generic_category().message(ENOENT)))},
        {subfolder, false, subfolder + QStringLiteral(": not a regular file")},
    };
    struct Outcome {
        bool converted = false;
        std::string error;
        int lastPercent = 0;
    };
    const auto run = [&dir](const Job &job, Outcome *outcome, int index, const QString &place) {
        const std::string output =
            dir.filePath(QStringLiteral("%1/out%2.wav").arg(place).arg(index)).toStdString();
        ConvertControl control;
        control.progress = [outcome](int percent) { outcome->lastPercent = percent; };
        std::string warning;
        outcome->converted = job.resample
            ? ResamplePcm16(job.input.toStdString(), 48000, output, 44100, control,
                            &outcome->error, &warning)
            : ConvertToPcm16(job.input.toStdString(), output, control, &outcome->error);
    };
    QVector<Outcome> alone(jobs.size());
    for (int i = 0; i < jobs.size(); ++i)
        run(jobs[i], &alone[i], i, QStringLiteral("alone"));
    QVector<Outcome> together(jobs.size());
    std::vector<std::thread> threads;
    for (int i = 0; i < jobs.size(); ++i)
        threads.emplace_back(run, std::cref(jobs[i]), &together[i], i, QStringLiteral("together"));
    for (std::thread &thread : threads)
        thread.join();

    QCOMPARE(Entries(dir.filePath(QStringLiteral("together"))),
             Entries(dir.filePath(QStringLiteral("alone"))));
    for (int i = 0; i < jobs.size(); ++i) {
        const QString reason = jobs[i].reason;
        QCOMPARE(together[i].converted, reason.isEmpty());
        QCOMPARE(QString::fromStdString(together[i].error), reason);
        QCOMPARE(QString::fromStdString(alone[i].error), reason);
        QCOMPARE(together[i].lastPercent, reason.isEmpty() ? 100 : 0);
        const QString name = QStringLiteral("/out%1.wav").arg(i);
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("together") + name)),
                 ReadAll(dir.filePath(QStringLiteral("alone") + name)));
    }
}

void TestSoundConvert::inProcessMatchesPrograms_data()
{
    QTest::addColumn<int>("format"); // 0: a 16-bit hit at full scale
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("level");

    const int wav = SF_FORMAT_WAV;
    QTest::newRow("24-bit 48000 Hz stereo")
        << (wav | SF_FORMAT_PCM_24) << 48000 << 2 << 24000 << 0.5;
    QTest::newRow("16-bit 44100 Hz mono: converted only")
        << (wav | SF_FORMAT_PCM_16) << 44100 << 1 << 22050 << 0.5;
    QTest::newRow("float 96000 Hz beyond full scale")
        << (wav | SF_FORMAT_FLOAT) << 96000 << 2 << 48000 << 1.5;
    QTest::newRow("four channels at 22050 Hz")
        << (wav | SF_FORMAT_PCM_16) << 22050 << 4 << 11025 << 0.5;
    QTest::newRow("8-bit 8000 Hz mono") << (wav | SF_FORMAT_PCM_U8) << 8000 << 1 << 4000 << 0.5;
    QTest::newRow("full-scale hit that overshoots once resampled")
        << 0 << 48000 << 2 << 24000 << 1.0;
    QTest::newRow("longer than the resampled sound kept in memory")
        << (wav | SF_FORMAT_PCM_16) << 48000 << 2 << 48000 * 13 << 0.5;
}

// The conversion done in this process (zkstool's) gives the very bytes that
// the two converter programs give (the window's), and leaves nothing behind.
void TestSoundConvert::inProcessMatchesPrograms()
{
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, frames);
    QFETCH(double, level);

    QTemporaryDir folder(sandbox.filePath(QStringLiteral("same-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    if (format == 0) {
        QVERIFY(WriteBytes(in, Wav16(quint16(channels), quint32(rate),
                                     DrumHit(rate, channels, frames, level))));
    } else {
        Tone tone;
        tone.format = format;
        tone.rate = rate;
        tone.channels = channels;
        tone.frames = frames;
        tone.level = level;
        QCOMPARE(WriteTone(in, tone), QString());
    }
    const QStringList before = FolderTree(WorkFolder());

    QString reason;
    const QString viaPrograms = ConvertFile(in, ConvertOptions(), &reason);
    QVERIFY2(reason.isEmpty(), qPrintable(reason));
    ConvertOptions inProcess;
    inProcess.inProcess = true;
    const QString viaFunctions = ConvertFile(in, inProcess, &reason);
    QVERIFY2(reason.isEmpty(), qPrintable(reason));
    const QByteArray expected = ReadAll(viaPrograms);
    QVERIFY(expected.size() > 44);
    QVERIFY2(ReadAll(viaFunctions) == expected, "the two conversions differ");

    DiscardConverted(viaPrograms);
    DiscardConverted(viaFunctions);
    QCOMPARE(FolderTree(WorkFolder()), before);
}

// libsndfile keeps the reason of a failed open in one place for the whole
// process, and every open clears it first. Sounds looked at on another
// thread (a bank being planned while one converts) must not turn a
// refusal's reason into "No Error.".
void TestSoundConvert::refusalWhileSoundsAreProbed()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("probed-XXXXXX")));
    const QDir dir(folder.path());
    Tone tone;
    const QString sound = dir.filePath(QStringLiteral("tone.wav"));
    QCOMPARE(WriteTone(sound, tone), QString());
    const QString text = dir.filePath(QStringLiteral("notes.wav"));
    QVERIFY(WriteBytes(text, "not a sound at all\n"));
    const std::string output = dir.filePath(QStringLiteral("out.wav")).toStdString();

    std::atomic<bool> done(false);
    std::thread prober([&]() {
        SoundInfo info;
        while (!done)
            ReadSoundInfo(sound, &info);
    });
    QStringList reasons;
    for (int i = 0; i < 3000; ++i) {
        std::string error;
        ConvertToPcm16(text.toStdString(), output, ConvertControl(), &error);
        const QString reason = QString::fromStdString(error);
        if (!reasons.contains(reason))
            reasons << reason;
    }
    done = true;
    prober.join();
    QCOMPARE(reasons, QStringList{text + QStringLiteral(": Format not recognised.")});
}

// libsndfile closes a descriptor it could not open as a sound, whatever it
// was told; closing it again as well would close whatever file another
// thread opened in the meantime under the same number.
void TestSoundConvert::probingLeavesOtherFilesOpen()
{
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("probing-XXXXXX")));
    const QDir dir(folder.path());
    const QString text = dir.filePath(QStringLiteral("notes.wav"));
    QVERIFY(WriteBytes(text, "not a sound at all\n"));
    const QString other = dir.filePath(QStringLiteral("other.bin"));
    const QByteArray bytes(4096, 'x');
    QVERIFY(WriteBytes(other, bytes));

    std::atomic<bool> done(false);
    std::thread prober([&]() {
        SoundInfo info;
        while (!done)
            ReadSoundInfo(text, &info);
    });
    int failed = 0;
    for (int i = 0; i < 3000; ++i) {
        QFile file(other);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
            ++failed;
    }
    done = true;
    prober.join();
    QCOMPARE(failed, 0);

#ifdef Q_OS_LINUX
    // Nor does a probe leave a descriptor open, of a sound or of anything else.
    Tone tone;
    const QString sound = dir.filePath(QStringLiteral("tone.wav"));
    QCOMPARE(WriteTone(sound, tone), QString());
    const auto open = []() { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const uint before = open();
    SoundInfo info;
    for (int i = 0; i < 100; ++i) {
        QVERIFY(ReadSoundInfo(sound, &info));
        QVERIFY(!ReadSoundInfo(text, &info));
    }
    QCOMPARE(open(), before);
#endif
}

// `tst_engine --convert-only FILE`: the helper process of the tests that run
// a conversion in surroundings of their own.
const bool convertOnlyRegistered = RegisterTestMode(kConvertOnly, [](int argc, char **argv) {
    return argc == 3 ? ConvertOnly(QString::fromLocal8Bit(argv[2])) : 2;
});

void TestSoundConvert::inputFrameLimit_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::newRow("16-bit at 44100 Hz") << 44100 << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1;
    QTest::newRow("24-bit stereo at 48000 Hz, resampled") << 48000 << int(SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2;
    QTest::newRow("float at 44100 Hz") << 44100 << int(SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 1;
}

// A limit on the input's frames converts only the sound's start, as the
// whole conversion gives it.
void TestSoundConvert::inputFrameLimit()
{
    QFETCH(int, rate);
    QFETCH(int, format);
    QFETCH(int, channels);
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("limit-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    Tone tone;
    tone.rate = rate;
    tone.format = format;
    tone.channels = channels;
    tone.frames = 5 * rate;
    QCOMPARE(WriteTone(in, tone), QString());
    const QString whole = folder.filePath(QStringLiteral("whole.wav"));
    const QString start = folder.filePath(QStringLiteral("start.wav"));
    std::string error;
    std::string warning;
    QVERIFY(ConvertToRate(in.toStdString(), whole.toStdString(), 44100, ConvertControl(), &error, &warning));
    ConvertControl control;
    control.inputFrameLimit = rate;
    QVERIFY(ConvertToRate(in.toStdString(), start.toStdString(), 44100, control, &error, &warning));

    const QVector<qint16> all = ReadShorts(whole);
    const QVector<qint16> first = ReadShorts(start);
    QVERIFY(std::abs(int(first.size()) - 44100 * channels) <= 16 * channels);
    // The resampler's filter ends the shorter input on its own: the frames
    // before its reach are the whole conversion's.
    const int same = (rate == 44100 ? 44100 : 40000) * channels;
    QCOMPARE(first.mid(0, same), all.mid(0, same));
}

void TestSoundConvert::inMemoryMatchesFile_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("level");
    QTest::newRow("16-bit at 44100 Hz") << 44100 << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1 << 0.5;
    QTest::newRow("24-bit stereo at 48000 Hz") << 48000 << int(SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2 << 0.5;
    QTest::newRow("float beyond full scale") << 44100 << int(SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 1 << 1.5;
    QTest::newRow("four channels at 22050 Hz, full scale")
        << 22050 << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 4 << 1.0;
}

// A conversion kept in memory holds the very samples the file gets.
void TestSoundConvert::inMemoryMatchesFile()
{
    QFETCH(int, rate);
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(double, level);
    QTemporaryDir folder(sandbox.filePath(QStringLiteral("memory-XXXXXX")));
    const QString in = folder.filePath(QStringLiteral("in.wav"));
    Tone tone;
    tone.rate = rate;
    tone.format = format;
    tone.channels = channels;
    tone.level = level;
    QCOMPARE(WriteTone(in, tone), QString());
    const QString out = folder.filePath(QStringLiteral("out.wav"));
    std::string error;
    std::string fileWarning;
    QVERIFY(ConvertToRate(in.toStdString(), out.toStdString(), 44100, ConvertControl(), &error, &fileWarning));
    std::vector<short> pcm;
    int kept = 0;
    std::string warning;
    QVERIFY(ConvertToRateInMemory(in.toStdString(), 44100, folder.filePath(QStringLiteral("spool")).toStdString(),
                                  ConvertControl(), &pcm, &kept, &error, &warning));
    QCOMPARE(kept, std::min(channels, 2));
    QCOMPARE(QVector<qint16>(pcm.begin(), pcm.end()), ReadShorts(out));
    QCOMPARE(warning, fileWarning);
    // Nothing is left beside it.
    QCOMPARE(Entries(folder.path()), (QStringList{"in.wav", "out.wav"}));
}

ZK_TEST(TestSoundConvert)

#include "tst_soundconvert.moc"
