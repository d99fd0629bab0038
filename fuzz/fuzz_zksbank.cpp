// Any bytes as a bank file for zkstool's reader: parsed from memory as the
// whole file and as the start of a much longer one, read back from disk
// region by region, and turned into names for the extracted layers.

#include <QSet>

#include "fileprocessor.h"
#include "fuzzsupport.h"
#include "zksbank.h"

namespace {

QString bankPath;

void CheckRegions(const ZksBank &bank)
{
    FUZZ_CHECK(bank.layerCount >= 0 && bank.layerCount <= 8);
    FUZZ_CHECK(bank.regions.size() == bank.layerCount);
    for (const ZksRegion &r : bank.regions) {
        FUZZ_CHECK(r.size >= 0 && r.offset >= 0);
        FUZZ_CHECK(r.inFile >= 0 && r.inFile <= r.size);
        FUZZ_CHECK(r.inFile == 0 || r.offset + r.inFile <= bank.fileSize);
        FUZZ_CHECK(r.threshold >= 0 && r.threshold <= 127);
    }
    // A bank without problems is exactly its header and its layers.
    if (bank.problems.isEmpty() && !bank.regions.isEmpty()) {
        const ZksRegion &last = bank.regions.constLast();
        FUZZ_CHECK(last.offset + last.size == bank.fileSize);
        FUZZ_CHECK(bank.fileSize <= kBankBudget);
    }
}

void CheckNames(const ZksBank &bank)
{
    const QStringList names = WaveNamesFor(bank.regions);
    FUZZ_CHECK(names.size() == bank.regions.size());
    QSet<QString> seen;
    for (const QString &name : names) {
        FUZZ_CHECK(name.endsWith(QStringLiteral(".wav")) && name.size() > 4);
        FUZZ_CHECK(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
        FUZZ_CHECK(!name.startsWith(QLatin1Char('.')));
        for (const QChar c : name)
            FUZZ_CHECK(c.category() != QChar::Other_Control);
        FUZZ_CHECK(!seen.contains(name.toLower()));
        seen.insert(name.toLower());
    }
}

void CheckFromDisk(const QByteArray &bytes)
{
    WriteFile(bankPath, bytes);
    ZksBank bank;
    QString error;
    FUZZ_CHECK(ReadZksBank(bankPath, &bank, &error));
    FUZZ_CHECK(bank.problems == ParseZksBank(bytes, bytes.size()).problems);
    for (const ZksRegion &r : bank.regions) {
        QByteArray audio;
        FUZZ_CHECK(ReadZksRegion(bank, r, &audio, &error));
        FUZZ_CHECK(audio == bytes.mid(int(r.offset), int(r.inFile)));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(DropMessages);
    bankPath = ScratchFolder() + QStringLiteral("/bank.zks");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Bytes(data, size);
    for (const qint64 fileSize : {qint64(size), qint64(size) + kBankBudget}) {
        const ZksBank bank = ParseZksBank(bytes, fileSize);
        FUZZ_CHECK(bank.fileSize == fileSize);
        CheckRegions(bank);
        CheckNames(bank);
    }
    CheckFromDisk(bytes);
    return 0;
}
