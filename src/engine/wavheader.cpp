#include "fileprocessor.h"

#include <QFile>

#include "zkslayout.h"

namespace {

quint8 ByteAt(const QByteArray &header, int offset)
{
    return static_cast<quint8>(header.at(offset));
}

} // namespace

QByteArray ReadWavHeader(QFile &file)
{
    // isReadable() also turns away a file opened for writing only, which
    // would otherwise draw a warning from read().
    if (!file.isReadable() || !file.seek(0))
        return QByteArray();
    return file.read(kWavHeaderSize);
}

bool ReadUpTo(QFile &file, qint64 bytes, QByteArray *data)
{
    data->resize(int(bytes));
    qint64 got = 0;
    while (got < data->size()) {
        const qint64 n = file.read(data->data() + got, data->size() - got);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    data->resize(int(got));
    return true;
}

bool HasDataTag(const QByteArray &header)
{
    return header.size() >= 40 && header.mid(36, 4) == QByteArrayLiteral("data");
}

qint32 WavDataSize(const QByteArray &header)
{
    // A field of 2^31 or more reads as negative.
    return static_cast<qint32>(ReadLE(header, 40, 4));
}

bool IsStereo(const QByteArray &header)
{
    return header.size() > 22 && ByteAt(header, 22) == 2;
}

bool IsBankFormat(const QByteArray &header)
{
    // Format tag 1 (PCM), 16 bits, and the low 16 bits of 44100 Hz.
    return header.size() > 34 && ByteAt(header, 20) == 1 && ByteAt(header, 34) == 16
        && ByteAt(header, 24) == 0x44 && ByteAt(header, 25) == 0xAC;
}

quint32 WavSampleRate(const QByteArray &header)
{
    return ReadLE(header, 24, 4);
}

QByteArray CanonicalWavHeader(quint16 channels, quint32 rate, quint16 bits, quint32 dataSize,
                              quint16 formatTag)
{
    const quint32 frameBytes = quint32(channels) * (bits / 8);
    QByteArray h("RIFF");
    AppendLE(h, 36 + dataSize, 4);
    h.append("WAVEfmt ");
    AppendLE(h, 16, 4);
    AppendLE(h, formatTag, 2);
    AppendLE(h, channels, 2);
    AppendLE(h, rate, 4);
    AppendLE(h, rate * frameBytes, 4);
    AppendLE(h, frameBytes, 2);
    AppendLE(h, bits, 2);
    h.append("data");
    AppendLE(h, dataSize, 4);
    return h;
}

