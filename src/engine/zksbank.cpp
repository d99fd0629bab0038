#include "zksbank.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "fileprocessor.h"
#include "layerrules.h"
#include "regularfile.h"

namespace {

// Line feeds in the name block: one before the bank's name, one after each
// of the nine names.
constexpr int kNameLines = 10;
// The size units keep 13 bits of size >> 8, so a layer of 2 MiB or more
// reads 2 MiB short there.
constexpr qint64 kUnitsWrap = 0x200000;
constexpr int kMaxStemBytes = 100; // leaves room for "-N.wav" on every file system

BankProblem Damage(const QString &text, BankProblem::Kind kind = BankProblem::Kind::Damaged,
                   int layer = 0)
{
    return {kind, layer, text};
}

void ReadFixedPart(const QByteArray &head, ZksBank *bank)
{
    bank->fixedPartComplete = true;
    bank->makerLine = head.left(kBankMakerLineLength);
    bank->randomTag = ReadLE(head, kBankTagOffset, 4);
    const QByteArray signature(kBankSignature, kBankSignatureLength);
    bank->signatureOk = head.mid(kBankSignatureOffset, kBankSignatureLength) == signature;
    for (int i = 0; i < 3; ++i)
        bank->fourSlotThresholds[i] = quint8(head.at(kBankFourSlotThresholdsOffset + i));
    for (int i = 0; i < 4; ++i) {
        bank->fourSlotBlocks[i] = quint16(ReadLE(head, kBankFourSlotBlocksOffset + 2 * i, 2));
        bank->fourSlotOffsets[i] = ReadLE(head, kBankFourSlotOffsetsOffset + 4 * i, 4);
    }
    for (int i = 0; i < kMaxLayers; ++i) {
        bank->thresholds[i] = quint8(head.at(kBankThresholdsOffset + i));
        bank->sizeUnits[i] = quint16(ReadLE(head, kBankSizeUnitsOffset + 2 * i, 2));
    }
    bank->headerLength = bank->fourSlotOffsets[0];

    if (!bank->signatureOk)
        bank->problems << Damage(QStringLiteral("the signature at offset 36 is %1, not %2")
                                     .arg(QString::fromLatin1(
                                              head.mid(kBankSignatureOffset, kBankSignatureLength).toHex(' ')),
                                          QString::fromLatin1(signature.toHex(' '))),
                                 BankProblem::Kind::NotABank);
    if (head.mid(kBankReservedOffset, 8) != QByteArray(8, '\0'))
        bank->problems << Damage(QStringLiteral("the reserved bytes 96..103 are not all zero"));
}

// The name block: a line feed, the bank's name, a line feed, then each
// layer's name followed by a line feed.
void ReadNameBlock(const QByteArray &head, qint64 have, qint64 fileSize, ZksBank *bank)
{
    int pos = kBankFixedHeader;
    int found = 0;
    while (found < kNameLines) {
        const int lf = head.indexOf('\n', pos);
        if (lf < 0 || lf >= have)
            break;
        const QByteArray bytes = head.mid(pos, lf - pos);
        const QString piece = QString::fromUtf8(bytes);
        // Names are written back as UTF-8: bytes that do not come back the
        // same (not UTF-8, or a byte-order mark, which is dropped) would
        // change on a rebuild.
        if (found >= 2 && piece.toUtf8() != bytes)
            bank->problems << Damage(QStringLiteral("the name of layer %1 %2 and would change if the "
                                             "bank were made again")
                                  .arg(found - 1)
                                  .arg(bytes.startsWith("\xEF\xBB\xBF")
                                           ? QStringLiteral("starts with a byte-order mark")
                                           : QStringLiteral("is not UTF-8")));
        if (found == 0 && lf > pos)
            bank->problems << Damage(QStringLiteral("the name block does not start with a line feed"));
        else if (found == 1)
            bank->bankName = piece;
        else if (found >= 2)
            bank->layerNames[found - 2] = piece;
        pos = lf + 1;
        ++found;
    }
    if (found < kNameLines) {
        if (have < fileSize)
            bank->problems << Damage(QStringLiteral("the name block does not end within the first %1 "
                                             "bytes (%2 of its ten line feeds)")
                                  .arg(have)
                                  .arg(found));
        else
            bank->problems << Damage(QStringLiteral("the file ends inside the name block: it holds %1 "
                                             "of the ten line feeds")
                                  .arg(found));
        return;
    }
    bank->namesComplete = true;
    bank->nameBlockEnd = pos;
}

// Used slots are 1..N; a slot is used when it has a name or a size.
int CountLayers(const ZksBank &bank)
{
    int count = 0;
    for (int k = 1; k <= kMaxLayers; ++k) {
        if (!bank.layerNames[k - 1].isEmpty() || bank.sizeUnits[k - 1] != 0)
            count = k;
    }
    return count;
}

// Layer sizes come from the block counts for layers 1..4 (exact) and from
// the size units for layers 5..8, where one layer of 2 MiB or more (only
// one fits the budget) shows up as the file being exactly 2 MiB longer.
QVector<qint64> LayerSizes(ZksBank *bank)
{
    QVector<qint64> sizes;
    qint64 total = bank->headerLength;
    for (int k = 1; k <= bank->layerCount; ++k) {
        const qint64 size = k <= 4 ? qint64(bank->fourSlotBlocks[k - 1]) * kBankBlock
                                   : qint64(bank->sizeUnits[k - 1]) * 256;
        sizes << size;
        total += size;
    }
    if (bank->layerCount >= 5 && bank->fileSize - total == kUnitsWrap) {
        if (bank->layerCount == 5) {
            sizes[4] += kUnitsWrap;
            bank->problems << Damage(QStringLiteral("layer 5 takes %1 bytes, but in a bank of five or "
                                             "more layers each layer stays below %2 bytes")
                                  .arg(sizes.at(4))
                                  .arg(kSizeUnitsLimit));
        } else
            bank->problems << Damage(QStringLiteral("one of layers 5..%1 is 2 MiB larger than its size "
                                             "units say, and the header cannot tell which")
                                  .arg(bank->layerCount));
    }
    return sizes;
}

void LocateRegions(ZksBank *bank)
{
    const QVector<qint64> sizes = LayerSizes(bank);
    qint64 offset = bank->headerLength;
    for (int k = 1; k <= bank->layerCount; ++k) {
        ZksRegion region;
        region.layer = k;
        region.name = bank->layerNames[k - 1];
        region.threshold = bank->thresholds[k - 1] & 0x7F;
        region.offset = offset;
        region.size = sizes.at(k - 1);
        region.inFile = qBound<qint64>(0, bank->fileSize - offset, region.size);
        bank->regions << region;
        offset += region.size;
    }
}

void CheckSizes(ZksBank *bank)
{
    // Up to four layers the block counts describe each layer, and the size
    // units of one of 2 MiB or more may wrap. From five layers on the device
    // takes every size from the size units, so a wrapped one misdescribes
    // its layer.
    const quint32 unitsMask = bank->layerCount > kFourSlotLayers ? 0xFFFFFFFF : 0x1FFF;
    for (const ZksRegion &r : qAsConst(bank->regions)) {
        const int k = r.layer;
        const quint16 units = bank->sizeUnits[k - 1];
        if (k <= kFourSlotLayers
            && units != ((quint32(bank->fourSlotBlocks[k - 1]) * 2) & unitsMask))
            bank->problems << Damage(QStringLiteral("layer %1: the size units (%2, %3 bytes) disagree "
                                             "with the block count (%4, %5 bytes)")
                                  .arg(k)
                                  .arg(units)
                                  .arg(qint64(units) * 256)
                                  .arg(bank->fourSlotBlocks[k - 1])
                                  .arg(r.size));
        if (r.size == 0)
            bank->problems << Damage(QStringLiteral("layer %1 (\"%2\") has a size of 0").arg(k).arg(r.name));
        else if (r.size % kBankBlock != 0)
            bank->problems << Damage(QStringLiteral("layer %1: its size %2 is not a multiple of 512")
                                  .arg(k)
                                  .arg(r.size));
    }
}

// The four-slot tables repeat what the eight-slot tables and the layout
// say, in the way the writer fills them for fewer than four layers.
void CheckFourSlotTables(ZksBank *bank)
{
    const int n = bank->layerCount;
    for (int i = 0; i < 3; ++i) {
        const int expected = n >= 4 ? (bank->thresholds[i] & 0x7F) : kBankFewLayerThresholds[i];
        if (bank->fourSlotThresholds[i] != expected)
            bank->problems << Damage(QStringLiteral("four-slot threshold %1 is %2, expected %3")
                                  .arg(i + 1)
                                  .arg(bank->fourSlotThresholds[i])
                                  .arg(expected));
    }
    qint64 expectedOffset = bank->headerLength;
    for (int k = 1; k <= 4; ++k) {
        if (k >= 2 && n >= k)
            expectedOffset += bank->regions.at(k - 2).size;
        if (k > n) {
            const quint16 expectedBlocks = k == 1 ? 0 : bank->fourSlotBlocks[k - 2];
            if (bank->fourSlotBlocks[k - 1] != expectedBlocks)
                bank->problems << Damage(QStringLiteral("four-slot block count %1 is %2, expected %3 "
                                                 "for a bank of %4 layers")
                                      .arg(k)
                                      .arg(bank->fourSlotBlocks[k - 1])
                                      .arg(expectedBlocks)
                                      .arg(n));
        }
        if (bank->fourSlotOffsets[k - 1] != expectedOffset)
            bank->problems << Damage(QStringLiteral("four-slot offset %1 is %2, expected %3")
                                  .arg(k)
                                  .arg(bank->fourSlotOffsets[k - 1])
                                  .arg(expectedOffset));
    }
}

void CheckThresholds(ZksBank *bank)
{
    const int n = bank->layerCount;
    if (n < 1)
        return;
    ThresholdTable table = {};
    QStringList shown;
    for (int k = 1; k <= n; ++k) {
        table[k] = bank->thresholds[k - 1] & 0x7F;
        shown << QString::number(table[k]);
        // Only seven bits are thresholds; the eighth would be lost on a rebuild.
        if (bank->thresholds[k - 1] & 0x80)
            bank->problems << Damage(QStringLiteral("threshold %1 is stored as 0x%2, with its top bit "
                                             "set, and would change if the bank were made again")
                                  .arg(k)
                                  .arg(int(bank->thresholds[k - 1]), 2, 16, QLatin1Char('0')));
    }
    if (!ThresholdsAreValid(table, n))
        bank->problems << Damage(QStringLiteral("the thresholds of the %1 layers (%2) do not fall "
                                         "strictly from layer to layer down to 1")
                              .arg(n)
                              .arg(shown.join(QStringLiteral(", "))));
}

// The header runs from the name block's end through the "~" fill to the
// first region; its length is a multiple of 512 and the fill is never empty.
void CheckHeaderLength(const QByteArray &head, qint64 have, ZksBank *bank)
{
    const qint64 h = bank->headerLength;
    const bool whole = h % kBankBlock == 0;
    if (!whole)
        bank->problems << Damage(QStringLiteral("the header length %1 (the offset of layer 1) is not a "
                                         "multiple of 512")
                              .arg(h));
    if (h > bank->fileSize)
        bank->problems << Damage(QStringLiteral("the file is %1 bytes long and ends inside the header "
                                                "(%2 bytes)")
                                     .arg(bank->fileSize)
                                     .arg(h),
                                 BankProblem::Kind::NotABank);
    if (!bank->namesComplete)
        return;
    const qint64 l = bank->nameBlockEnd;
    if (h < l) {
        bank->problems << Damage(QStringLiteral("the name block ends at %1, past the header length %2")
                              .arg(l)
                              .arg(h));
        return;
    }
    int lineFeeds = 0;
    int others = 0;
    const qint64 end = qMin(h, have);
    for (qint64 i = l; i < end; ++i) {
        const char c = head.at(int(i));
        if (c == '\n')
            ++lineFeeds;
        else if (c != '~')
            ++others;
    }
    if (lineFeeds > 0)
        bank->problems << Damage(QStringLiteral("the header holds more than ten line feeds (%1 more): "
                                         "a name holds a line feed")
                              .arg(lineFeeds));
    if (others > 0)
        bank->problems << Damage(QStringLiteral("the fill between the names and layer 1 holds %1 bytes "
                                         "that are not \"~\"")
                              .arg(others));
    const qint64 expected = l + kBankBlock - l % kBankBlock;
    if (whole && h != expected)
        bank->problems << Damage(QStringLiteral("the header is %1 bytes long, but names ending at %2 "
                                         "make it %3")
                              .arg(h)
                              .arg(l)
                              .arg(expected));
}

void CheckFileLength(ZksBank *bank)
{
    qint64 total = bank->headerLength;
    for (const ZksRegion &r : qAsConst(bank->regions)) {
        total += r.size;
        if (r.inFile == r.size || bank->headerLength > bank->fileSize)
            continue;
        if (r.inFile == 0)
            bank->problems << Damage(QStringLiteral("layer %1 (offset %2, size %3) lies past the end "
                                                    "of the file")
                                         .arg(r.layer)
                                         .arg(r.offset)
                                         .arg(r.size),
                                     BankProblem::Kind::PastTheEnd, r.layer);
        else
            bank->problems << Damage(QStringLiteral("layer %1 (offset %2, size %3) runs past the end of "
                                                    "the file: only %4 bytes are there")
                                         .arg(r.layer)
                                         .arg(r.offset)
                                         .arg(r.size)
                                         .arg(r.inFile),
                                     BankProblem::Kind::PastTheEnd, r.layer);
    }
    if (total < bank->fileSize)
        bank->problems << Damage(QStringLiteral("%1 bytes follow the last layer (header and layers take "
                                         "%2 of the file's %3 bytes)")
                              .arg(bank->fileSize - total)
                              .arg(total)
                              .arg(bank->fileSize));
    const qint64 largest = qMax(total, bank->fileSize);
    if (largest > kBankBudget)
        bank->problems << Damage(QStringLiteral("the bank takes %1 bytes, more than the device's %2")
                              .arg(largest)
                              .arg(kBankBudget));
}

bool IsDeviceName(const QString &stem)
{
    // Windows keeps these names for devices, with any extension.
    const QString base = stem.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QSet<QString> reserved = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9"),
    };
    return reserved.contains(base);
}

void TrimDotsAndSpaces(QString &s)
{
    // Windows drops trailing dots and spaces; a leading dot hides the file
    // and makes "." and "..".
    while (!s.isEmpty() && (s.front() == QLatin1Char('.') || s.front() == QLatin1Char(' ')))
        s.remove(0, 1);
    while (!s.isEmpty() && (s.back() == QLatin1Char('.') || s.back() == QLatin1Char(' ')))
        s.chop(1);
}

// The part of a layer name that becomes a file name, ".wav" not included.
QString SafeStem(const QString &name)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString s;
    for (const QChar c : name) {
        const QChar::Category category = c.category();
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        s += (hidden || forbidden.contains(c)) ? QChar(QLatin1Char('_')) : c;
    }
    TrimDotsAndSpaces(s);
    if (s.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive)) {
        s.chop(4);
        TrimDotsAndSpaces(s);
    }
    while (s.toUtf8().size() > kMaxStemBytes) {
        s.chop(s.at(s.size() - 1).isLowSurrogate() && s.size() >= 2 ? 2 : 1);
        TrimDotsAndSpaces(s);
    }
    if (IsDeviceName(s))
        s.prepend(QLatin1Char('_'));
    return s;
}

} // namespace

ZksBank ParseZksBank(const QByteArray &head, qint64 fileSize)
{
    ZksBank bank;
    bank.fileSize = fileSize;
    const qint64 have = qMin(qint64(head.size()), fileSize);
    if (have < kBankFixedHeader) {
        bank.problems << Damage(QStringLiteral("the file is %1 bytes long and ends inside the "
                                        "%2-byte fixed part of the header")
                             .arg(fileSize)
                             .arg(kBankFixedHeader));
        return bank;
    }
    ReadFixedPart(head, &bank);
    ReadNameBlock(head, have, fileSize, &bank);
    CheckHeaderLength(head, have, &bank);
    bank.layerCount = CountLayers(bank);
    if (bank.namesComplete && bank.layerCount == 0)
        bank.problems << Damage(QStringLiteral("the bank holds no layers"));
    LocateRegions(&bank);
    CheckSizes(&bank);
    CheckFourSlotTables(&bank);
    CheckThresholds(&bank);
    CheckFileLength(&bank);
    return bank;
}

bool ReadZksBank(const QString &path, ZksBank *bank, QString *error)
{
    const std::shared_ptr<QFile> file = OpenRegularFile(path, error);
    if (!file)
        return false;
    // No header of a bank the device can hold lies past its budget, so that
    // much is all that is ever read at once.
    const qint64 size = file->size();
    const qint64 wanted = qMin(size, qint64(kBankBudget));
    const QByteArray head = file->read(wanted);
    if (head.size() != wanted) {
        *error = QStringLiteral("read failed: %1").arg(file->errorString());
        return false;
    }
    *bank = ParseZksBank(head, size);
    bank->file = file;
    return true;
}

bool ReadZksRegion(const ZksBank &bank, const ZksRegion &region, QByteArray *audio,
                   QString *error)
{
    if (!bank.file) {
        *error = QStringLiteral("the bank was not read from a file");
        return false;
    }
    QFile &file = *bank.file;
    if (!file.seek(region.offset)) {
        *error = file.errorString();
        return false;
    }
    *audio = file.read(region.inFile);
    if (audio->size() != region.inFile) {
        *error = QStringLiteral("read failed: %1").arg(file.errorString());
        return false;
    }
    return true;
}

QStringList WaveNamesFor(const QVector<ZksRegion> &regions)
{
    QStringList names;
    QSet<QString> taken; // lower case: some file systems ignore case
    for (const ZksRegion &r : regions) {
        QString stem = SafeStem(r.name);
        if (stem.isEmpty())
            stem = QStringLiteral("layer%1").arg(r.layer);
        QString name = stem + QStringLiteral(".wav");
        for (int n = 2; taken.contains(name.toLower()); ++n)
            name = QStringLiteral("%1-%2.wav").arg(stem).arg(n);
        taken.insert(name.toLower());
        names << name;
    }
    return names;
}

bool BankProblem::operator==(const BankProblem &other) const
{
    return kind == other.kind && layer == other.layer && text == other.text;
}

QStringList ProblemTexts(const QVector<BankProblem> &problems)
{
    QStringList texts;
    for (const BankProblem &problem : problems)
        texts << problem.text;
    return texts;
}
