// Any bytes as a sound file that came back from the converters: the header
// fields read straight from the bytes at every length, and the sound check
// reading them from disk.

#include <QFile>

#include "fileprocessor.h"
#include "fuzzsupport.h"
#include "resultcodes.h"

namespace {

QString soundPath;

void CheckFields(const QByteArray &bytes)
{
    const QByteArray header = bytes.left(44);
    // The readers see only the first 44 bytes, and a header too short for a
    // field never claims it.
    FUZZ_CHECK(WavDataSize(bytes) == WavDataSize(header));
    FUZZ_CHECK(WavSampleRate(bytes) == WavSampleRate(header));
    FUZZ_CHECK(!HasDataTag(header) || header.size() >= 40);
    FUZZ_CHECK(!IsStereo(header) || header.size() > 22);
    FUZZ_CHECK(!IsBankFormat(header) || header.size() > 34);
    // A field cut short holds only the bytes that are present.
    const auto fits = [](quint32 value, int bytesPresent) {
        return (quint64(value) >> (8 * qBound(0, bytesPresent, 4))) == 0 || bytesPresent >= 4;
    };
    FUZZ_CHECK(fits(quint32(WavDataSize(header)), header.size() - 40));
    FUZZ_CHECK(fits(WavSampleRate(header), header.size() - 24));
}

void CheckSoundCheck(const QByteArray &bytes)
{
    WriteFile(soundPath, bytes);
    {
        QFile file(soundPath);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        FUZZ_CHECK(ReadWavHeader(file) == bytes.left(44));
    }
    const QByteArray header = bytes.left(44);
    const int verdict = OpenAndCheckFile(soundPath);
    if (verdict > 0) {
        // A layer size: whole 512-byte blocks, no larger than the largest
        // layer, from a 16-bit 44100 Hz PCM header with a data tag.
        FUZZ_CHECK(verdict % 512 == 0 && verdict <= 3141632);
        FUZZ_CHECK(HasDataTag(header) && IsBankFormat(header));
        const quint32 size = quint32(WavDataSize(header));
        FUZZ_CHECK(size >= 512 && size <= 3141631);
    } else {
        FUZZ_CHECK(verdict == RESULT_INCOMPATIBLE || verdict == RESULT_FILE_ERROR
                   || verdict == RESULT_TOO_BIG);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(DropMessages);
    soundPath = ScratchFolder() + QStringLiteral("/sound.wav");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Bytes(data, size);
    CheckFields(bytes);
    CheckSoundCheck(bytes);
    return 0;
}
