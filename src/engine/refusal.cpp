#include "refusal.h"

#include "explain.h"
#include "figures.h"
#include "resultcodes.h"

QString Refusal::Text() const
{
    return words.isEmpty() ? MessageFor(code).text : words;
}

QString Refusal::Reason() const
{
    return WithDetail(Text(), detail);
}

QString Refusal::Line() const
{
    const QString reason = PlainSpaces(Reason());
    return Printable(subject.isEmpty() ? reason : AboutFile(subject, reason));
}

Refusal RefusalFor(int code, const QString &subject, const QString &detail)
{
    Refusal refusal;
    refusal.code = code;
    refusal.subject = subject;
    refusal.detail = detail;
    return refusal;
}

Refusal RefusalSaying(const QString &subject, const QString &words, const QString &detail)
{
    Refusal refusal;
    refusal.subject = subject;
    refusal.words = words;
    refusal.detail = detail;
    return refusal;
}

QString Printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
