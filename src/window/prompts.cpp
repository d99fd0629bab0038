#include "prompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

#include "explain.h"
#include "kitdialog.h"
#include "resultcodes.h"

namespace {

QMessageBox::StandardButton StandardButton(PromptAnswer answer)
{
    switch (answer) {
    case PromptAnswer::Yes:
        return QMessageBox::Yes;
    case PromptAnswer::No:
        return QMessageBox::No;
    case PromptAnswer::Discard:
        return QMessageBox::Discard;
    case PromptAnswer::Cancel:
    case PromptAnswer::Generate:
        break;
    }
    return QMessageBox::Cancel;
}

} // namespace

bool Prompts::Confirm(const QString &text)
{
    return Ask(text, {PromptAnswer::Yes, PromptAnswer::No}, PromptAnswer::No) == PromptAnswer::Yes;
}

void ShowRefusal(Prompts &prompts, const Refusal &refusal)
{
    const ResultMessage m = MessageFor(refusal.code);
    const bool coded = refusal.words.isEmpty();
    PromptMessage message;
    message.icon = coded && m.warning ? QMessageBox::Warning : QMessageBox::Critical;
    message.title = coded ? m.title : QStringLiteral("ERROR");
    message.text = refusal.Text();
    message.detail = refusal.subject.isEmpty() ? refusal.detail : AboutFile(refusal.subject, refusal.detail);
    prompts.Show(message);
}

PromptAnswer DialogPrompts::Ask(const QString &text, const QVector<PromptAnswer> &answers,
                                PromptAnswer defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("QUESTION"), text, QMessageBox::NoButton, parent);
    // Questions name the user's files: never markup.
    box.setTextFormat(Qt::PlainText);
    QVector<QPair<QAbstractButton *, PromptAnswer>> buttons;
    for (const PromptAnswer answer : answers) {
        // Generate is the program's own answer; the others are the
        // platform's buttons, in its words.
        QPushButton *button = answer == PromptAnswer::Generate
            ? box.addButton(QCoreApplication::translate("ZKWindow", "Generate"), QMessageBox::AcceptRole)
            : box.addButton(StandardButton(answer));
        buttons.append({button, answer});
        if (answer == defaultAnswer)
            box.setDefaultButton(button);
    }
    box.exec();
    for (const auto &button : buttons) {
        if (box.clickedButton() == button.first)
            return button.second;
    }
    return answers.contains(PromptAnswer::Cancel) ? PromptAnswer::Cancel : PromptAnswer::No;
}

QStringList DialogPrompts::OpenFiles(const FileQuestion &question, bool several)
{
    QString selected = question.selectedFilter;
    if (several)
        return QFileDialog::getOpenFileNames(parent, question.title, question.folder, question.filters, &selected);
    const QString file =
        QFileDialog::getOpenFileName(parent, question.title, question.folder, question.filters, &selected);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

QString DialogPrompts::SavePath(const FileQuestion &question, const QString &suffix, const QString &suggestedName)
{
    // A dialog object rather than the static helper: only it adds the
    // suffix to a name typed without one, and asks before replacing a file
    // under the completed name.
    QFileDialog dialog(parent, question.title, question.folder, question.filters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    if (!suggestedName.isEmpty())
        dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

int DialogPrompts::ChooseInstrument(const QString &kitName, const QVector<KitInstrumentSummary> &instruments)
{
    return ChooseKitInstrument(parent, kitName, instruments);
}

void DialogPrompts::Show(const PromptMessage &message)
{
    QMessageBox box(message.icon, message.title, message.text, QMessageBox::Ok, parent);
    box.setTextFormat(message.textFormat);
    if (message.selectableText)
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (!message.detail.isEmpty()) {
        box.setInformativeText(message.detail);
        auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        if (label && message.detailFormat != Qt::AutoText)
            label->setTextFormat(message.detailFormat);
    }
    if (!message.details.isEmpty())
        box.setDetailedText(message.details);
    box.exec();
}
