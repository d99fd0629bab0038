#include "regularfile.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

std::shared_ptr<QFile> OpenRegularFile(const QString &path, QString *error)
{
    auto file = std::make_shared<QFile>(path);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENOENT ? QStringLiteral("no such file")
                                 : QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("not a regular file");
        return nullptr;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file->errorString();
        return nullptr;
    }
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("no such file");
        return nullptr;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("not a regular file");
        return nullptr;
    }
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
#endif
    return file;
}

bool ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray *data, QString *error)
{
    const std::shared_ptr<QFile> file = OpenRegularFile(path, error);
    if (!file)
        return false;
    // The size is asked of the open file, and the read is bounded anyway: a
    // file that grows meanwhile still can't make us take more.
    if (file->size() > maxBytes) {
        *error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        return false;
    }
    *data = file->read(maxBytes + 1);
    if (data->size() > maxBytes) {
        data->clear();
        *error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        return false;
    }
    if (file->error() != QFileDevice::NoError) {
        data->clear();
        *error = file->errorString();
        return false;
    }
    return true;
}
