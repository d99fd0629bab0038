#include "kitdialog.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "bankopen.h"
#include "layerrules.h"
#include "prompts.h"
#include "resultcodes.h"
#include "waitcursor.h"

namespace {

QString WindowText(const char *text)
{
    return QCoreApplication::translate("ZKWindow", text);
}

} // namespace

bool IsKitPath(const QString &path)
{
    const QFileInfo info(path);
    // A Hydrogen kit unpacked: the folder stands for its drumkit.xml.
    if (info.isDir())
        return QFileInfo(QDir(path).filePath(QStringLiteral("drumkit.xml"))).isFile();
    const QString name = info.fileName();
    return name.compare(QLatin1String("drumkit.xml"), Qt::CaseInsensitive) == 0
        || name.endsWith(QLatin1String(".h2drumkit"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".sfz"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".sf2"), Qt::CaseInsensitive);
}

QString DroppedKitPath(const QMimeData *data)
{
    if (!IsLocalFileDrag(data) || data->urls().size() != 1)
        return QString();
    const QString path = data->urls().constFirst().toLocalFile();
    return IsKitPath(path) ? path : QString();
}

QString AskForKitToImport(Prompts &prompts, const QString &folder)
{
    return prompts
        .OpenFiles({WindowText("Import Kit"), folder, WindowText("Drum kits (drumkit.xml *.h2drumkit *.sfz *.sf2)"),
                    QString()},
                   false)
        .value(0);
}

int ChooseKitInstrument(QWidget *parent, const QString &kitName,
                        const QVector<KitInstrumentSummary> &instruments)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("KitDialog"));
    dialog.setWindowTitle(WindowText("Import Kit"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(WindowText("Choose the instrument of %1 that fills the rows:").arg(kitName));
    // The kit's name is its author's: shown as it is, never as markup.
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    auto *list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("KitInstrumentList"));
    list->setHeaderLabels({WindowText("Instrument"), WindowText("Layers"), WindowText("Seconds")});
    // Long names lose their middle, where kits' names differ least; the
    // tool tip holds the whole.
    list->setTextElideMode(Qt::ElideMiddle);
    // A SoundFont's keys are listed under their presets; a preset's own
    // line imports nothing.
    QTreeWidgetItem *group = nullptr;
    QTreeWidgetItem *first = nullptr;
    for (int i = 0; i < instruments.size(); ++i) {
        const KitInstrumentSummary &instrument = instruments.at(i);
        if (!instrument.group.isEmpty() && (!group || group->text(0) != instrument.group)) {
            group = new QTreeWidgetItem(list);
            group->setText(0, instrument.group);
            group->setFlags(Qt::ItemIsEnabled);
        }
        auto *item = instrument.group.isEmpty() ? new QTreeWidgetItem(list) : new QTreeWidgetItem(group);
        item->setData(0, Qt::UserRole, i);
        item->setText(0, instrument.name);
        item->setToolTip(0, instrument.name);
        if (!instrument.reason.isEmpty()) {
            item->setText(1, instrument.reason);
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            continue;
        }
        // What the bank gets: round robins and layers that play no hit
        // strength left out, at most eight kept.
        item->setText(1, instrument.bankLayers != instrument.layers
                             ? QStringLiteral("%1 \u2192 %2").arg(instrument.layers).arg(instrument.bankLayers)
                             : QString::number(instrument.layers));
        item->setText(2, QString::number(instrument.seconds, 'f', 2));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (!first)
            first = item;
    }
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setStretchLastSection(false);
    list->setRootIsDecorated(group != nullptr);
    list->expandAll();
    list->setCurrentItem(first);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(WindowText("Import"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QTreeWidget::itemActivated, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted || !list->currentItem())
        return -1;
    const QVariant index = list->currentItem()->data(0, Qt::UserRole);
    return index.isValid() ? index.toInt() : -1;
}

bool ConfirmReplacingWithKit(Prompts &prompts, int layers, const QString &what)
{
    return prompts.Confirm(layers == 1 ? WindowText("Replace your layer with %1?").arg(what)
                                       : WindowText("Replace your %1 layers with %2?").arg(layers).arg(what));
}

bool RunKitWork(QWidget *parent, const QString &label,
                const std::function<void(const std::atomic<bool> *cancelled)> &work)
{
    // Shared with the worker, which may outlive this call.
    struct Shared {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
    };
    const auto shared = std::make_shared<Shared>();
    WaitCursor busy{Qt::BusyCursor};
    QProgressDialog progress(parent);
    auto *text = new QLabel(label);
    text->setTextFormat(Qt::PlainText);
    progress.setLabel(text);
    progress.setCancelButtonText(WindowText("Cancel"));
    progress.setRange(0, 0);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // Shown at once, unlike a conversion's: until the worker ends, the
    // window must take no click, drop or close, which would change or
    // remove what the worker reads and writes.
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    QEventLoop loop;
    // A worker stuck in the system (a file that never answers) must not
    // hold the window: once cancelled it has a moment to stop, then it is
    // left to end on its own. The program quitting leaves it at once.
    QTimer grace;
    grace.setSingleShot(true);
    QObject::connect(&grace, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&shared, &grace]() {
        shared->cancelled = true;
        grace.start(kAbandonAfterMs);
    });
    QThread *thread = QThread::create([shared, work]() {
        work(&shared->cancelled);
        shared->finished = true;
    });
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    loop.exec();
    if (!shared->finished)
        shared->cancelled = true;
    return shared->finished && !shared->cancelled;
}

void ShowKitError(Prompts &prompts, const QString &sentence, const QString &problems)
{
    const ResultMessage m = MessageFor(RESULT_FILE_ERROR);
    PromptMessage message;
    message.icon = QMessageBox::Critical;
    message.title = m.title;
    message.text = m.text;
    // Names are the user's: the sentence goes in as escaped markup, as for
    // a bank.
    message.detail = Qt::convertFromPlainText(sentence);
    message.detailFormat = Qt::AutoText;
    message.details = problems;
    prompts.Show(message);
}
