#ifndef ZKSLAYOUT_H
#define ZKSLAYOUT_H

#include <QByteArray>
#include <QtGlobal>

// The bank file's fixed layout, shared by the writer (fileprocessor) and the
// reader (zksbank), and the little-endian fields it is made of.

constexpr char kBankMakerLine[] = "Quadrel(tm) inc, California, USA";
constexpr int kBankMakerLineLength = int(sizeof kBankMakerLine) - 1; // 32, no terminator
constexpr char kBankSignature[] = "\x04\x01\x01\x0A\x12\x34\x56\x78\x91";
constexpr int kBankSignatureLength = int(sizeof kBankSignature) - 1;
// Stored in place of the first three thresholds while fewer than four layers
// are used.
constexpr quint8 kBankFewLayerThresholds[3] = {120, 90, 70};

constexpr int kMaxLayers = 8;           // layers a bank holds
constexpr qint32 kBankBudget = 3145728; // 0x300000 bytes of device memory
// The largest layer (0x2FF000 bytes). A layer's size is its sound rounded
// down to whole 512-byte blocks plus one block, so its sound is at most one
// byte shorter.
constexpr qint32 kLargestLayerSize = 3141632;
constexpr int kBankRate = 44100; // every layer is 16-bit mono at this rate

// Layers 5 to 8 are described only by the eight-slot size table, whose 13
// bits of 256-byte units stop just below 2 MiB; the four-slot tables
// describe layers 1 to 4 in 512-byte blocks.
constexpr qint32 kSizeUnitsLimit = 0x200000;
constexpr int kFourSlotLayers = 4;

// Offsets of the fixed part.
constexpr int kBankTagOffset = 32;
constexpr int kBankSignatureOffset = 36;
constexpr int kBankFourSlotThresholdsOffset = 45;
constexpr int kBankFourSlotBlocksOffset = 48;
constexpr int kBankFourSlotOffsetsOffset = 56;
constexpr int kBankThresholdsOffset = 72;
constexpr int kBankSizeUnitsOffset = 80;
constexpr int kBankReservedOffset = 96;
constexpr int kBankFixedHeader = 104; // maker line up to the reserved bytes
constexpr int kBankBlock = 512;       // header length and layer sizes step by this

// Fields are built from single bytes, so the host's byte order never
// matters. Reading uses only the bytes that are there: a short buffer yields
// what its bytes allow.
inline quint32 ReadLE(const QByteArray &bytes, int offset, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width && offset + i < bytes.size(); ++i)
        value |= quint32(quint8(bytes.at(offset + i))) << (8 * i);
    return value;
}

inline void AppendLE(QByteArray &bytes, quint32 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

inline void WriteLE(QByteArray &bytes, int offset, quint32 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

#endif
