#include "tailoption.h"

#include "figures.h"
#include "fileprocessor.h"

namespace {

// What trimming saved layer `layer`: zero when it holds its untrimmed file.
qint64 SavedBytes(const BankDocument &bank, int layer)
{
    return bank.Path(layer) == bank.Source(layer) ? 0 : bank.SourceSize(layer) - bank.Size(layer);
}

} // namespace

QString TrimToolTipLine(const BankDocument &bank, int layer)
{
    const qint64 saved = SavedBytes(bank, layer);
    if (saved <= 0)
        return QString();
    // The bank holds one channel of 16-bit samples.
    const double seconds = double(saved) / (2.0 * kBankRate);
    // Below a tenth of a second, milliseconds: "0.0 s" would say nothing.
    const QString length = seconds < 0.1 ? WithUnit(seconds * 1000, 0, "ms") : WithUnit(seconds, 1, "s");
    return QStringLiteral("Trimming saves %1 (%2)").arg(Kilobytes(saved), length);
}

QString TrimTotalToolTip(const BankDocument &bank)
{
    qint64 saved = 0;
    for (int layer = 1; layer <= bank.Count(); ++layer)
        saved += SavedBytes(bank, layer);
    if (saved <= 0)
        return QString();
    return QStringLiteral("Trimming saves %1 in all").arg(Kilobytes(saved));
}
