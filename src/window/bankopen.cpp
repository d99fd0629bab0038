#include "bankopen.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QTextDocument>
#include <QUrl>

#include "fileprocessor.h"
#include "prompts.h"
#include "resultcodes.h"

namespace {

QString WindowText(const char *text)
{
    return QCoreApplication::translate("ZKWindow", text);
}

// What a bank read without fault still lacks for this window to make it
// again: the generator takes no name that would break the bank's name
// lines. (A bank without layers the reader reports itself.)
QVector<BankProblem> UnusableLayers(const QVector<BankLayer> &layers)
{
    QVector<BankProblem> problems;
    for (int i = 0; i < layers.size(); ++i) {
        if (NameHasControlCharacter(layers.at(i).file.name))
            problems << BankProblem{BankProblem::Kind::Damaged, i + 1,
                                    QStringLiteral("the name of layer %1 holds a control character").arg(i + 1)};
    }
    return problems;
}

} // namespace

bool IsLocalFileDrag(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            return false;
    }
    return true;
}

QString DroppedBankPath(const QMimeData *data)
{
    if (!IsLocalFileDrag(data) || data->urls().size() != 1)
        return QString();
    const QString path = data->urls().constFirst().toLocalFile();
    if (!path.endsWith(QStringLiteral(".zks"), Qt::CaseInsensitive))
        return QString();
    return path;
}

bool ReadBankToOpen(const QString &bankPath, QVector<BankLayer> *layers, ThresholdTable thresholds,
                    QVector<BankProblem> *problems)
{
    QVector<BankLayer> read;
    ThresholdTable stored = {};
    if (!ReadBankLayers(bankPath, WorkFolder(), &read, stored, problems))
        return false;
    const QVector<BankProblem> unusable = UnusableLayers(read);
    if (!unusable.isEmpty()) {
        DiscardBankLayers(read);
        *problems = unusable;
        return false;
    }
    *layers = read;
    for (int layer = 1; layer <= kMaxLayers; ++layer)
        thresholds[layer] = stored[layer];
    return true;
}

void DiscardBankLayers(const QVector<BankLayer> &layers)
{
    for (const BankLayer &layer : layers)
        DiscardConverted(layer.file.path);
}

QString AskForBankToOpen(Prompts &prompts, const QString &folder)
{
    return prompts.OpenFiles({WindowText("Open Bank"), folder, WindowText("QuadrelSound (*.zks)"), QString()}, false)
        .value(0);
}

bool ConfirmReplacingLayers(Prompts &prompts, const QString &bankPath)
{
    return prompts.Confirm(
        WindowText("Open %1? Its layers replace the ones you have.").arg(QFileInfo(bankPath).fileName()));
}

QString BankErrorSentence(const QString &bankName, const QVector<BankProblem> &problems)
{
    const BankProblem first = problems.value(0);
    switch (first.kind) {
    case BankProblem::Kind::NotABank:
        return QStringLiteral("%1 is not a bank file.").arg(bankName);
    case BankProblem::Kind::Unreadable:
        return QStringLiteral("%1: %2.").arg(bankName, first.text);
    case BankProblem::Kind::PastTheEnd:
    case BankProblem::Kind::Damaged:
        break;
    }
    for (const BankProblem &problem : problems) {
        if (problem.kind == BankProblem::Kind::PastTheEnd)
            return QStringLiteral("This bank is damaged: layer %1 ends past the end of the file.")
                .arg(problem.layer);
    }
    return QStringLiteral("This bank is damaged: %1.").arg(first.text);
}

void ShowBankError(Prompts &prompts, const QString &bankPath, const QVector<BankProblem> &problems)
{
    const ResultMessage m = MessageFor(RESULT_FILE_ERROR);
    PromptMessage message;
    message.icon = QMessageBox::Critical;
    message.title = m.title;
    message.text = m.text;
    // The bank's name is the user's: shown as it is, never as markup. Qt 5
    // reads the informative text as markup whenever it looks like some,
    // whatever the box's text format, so the sentence goes in as escaped
    // markup. The offsets stay in the details.
    message.detail = Qt::convertFromPlainText(BankErrorSentence(QFileInfo(bankPath).fileName(), problems));
    message.detailFormat = Qt::AutoText;
    message.details = ProblemTexts(problems).join(QLatin1Char('\n'));
    prompts.Show(message);
}
