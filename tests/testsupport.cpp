#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QtEndian>

namespace {

void PutLE(QByteArray &bytes, quint32 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray WavHeader(quint16 channels, quint32 rate, quint16 bits, quint32 dataSize,
                     quint16 formatTag)
{
    QByteArray h;
    h.append("RIFF");
    PutLE(h, 36 + dataSize, 4);
    h.append("WAVEfmt ");
    PutLE(h, 16, 4);
    PutLE(h, formatTag, 2);
    PutLE(h, channels, 2);
    PutLE(h, rate, 4);
    PutLE(h, rate * channels * (bits / 8), 4);
    PutLE(h, channels * (bits / 8), 2);
    PutLE(h, bits, 2);
    h.append("data");
    PutLE(h, dataSize, 4);
    return h;
}

QByteArray Wav16(quint16 channels, quint32 rate, const QVector<qint16> &samples)
{
    QByteArray bytes = WavHeader(channels, rate, 16, quint32(samples.size() * 2));
    for (qint16 s : samples)
        PutLE(bytes, quint16(s), 2);
    return bytes;
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void UsePrivateSettings(const QString &folder)
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

void OnNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, timeoutMs]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            action(modal);
    });
    timer->start();
}

void AnswerFileDialog(const QString &path)
{
    OnNextModal([path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void CloseNextMessageBox(SeenMessageBox *seen)
{
    OnNextModal([seen](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->icon = box->icon();
            seen->buttons = box->buttons().size();
            seen->seen = true;
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
        } else {
            modal->close();
        }
    });
}
