#include "kitarchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <climits>

#include "logging.h"
#include "regularfile.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

using Reader = std::unique_ptr<archive, int (*)(archive *)>;

// Longer names are no kit's; they would only cost memory.
const int kMaxNameBytes = 4096;

QString Reason(archive *reader)
{
    const char *text = archive_error_string(reader);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("the archive can't be read");
}

// The archive from its first byte. Only compressions read in this process:
// a filter that runs an outside program is no way to open downloaded content.
Reader OpenReader(QFile &file, QString *error)
{
    Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_bzip2(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_format_tar(reader.get());
    if (!file.seek(0)) {
        *error = file.errorString();
        reader.reset();
    } else if (archive_read_open_fd(reader.get(), file.handle(), 65536) != ARCHIVE_OK) {
        *error = Reason(reader.get());
        reader.reset();
    }
    return reader;
}

// A name as the archive stores it: a pax archive's UTF-8 name, whatever the
// locale (which may have no way to show it); else the name in the locale's
// encoding. Empty when there is none.
QString StoredName(const char *utf8, const char *local)
{
    if (utf8)
        return QString::fromUtf8(utf8);
    return local ? QString::fromLocal8Bit(local) : QString();
}

// ARCHIVE_WARN (a name the locale can't show, say) is a warning, not the end.
int NextHeader(archive *reader, archive_entry **entry)
{
    const int status = archive_read_next_header(reader, entry);
    if (status == ARCHIVE_WARN)
        qCDebug(lcZk) << "Kit archive:" << Reason(reader);
    return status == ARCHIVE_WARN ? ARCHIVE_OK : status;
}

int NextBlock(archive *reader, const void **block, size_t *size, la_int64_t *offset)
{
    const int status = archive_read_data_block(reader, block, size, offset);
    return status == ARCHIVE_WARN ? ARCHIVE_OK : status;
}

QString TooLarge()
{
    return QStringLiteral("the archive holds more than %1 bytes").arg(KitArchive::kMaxContentBytes);
}

// A hard link's second name: shares the file where the system can.
bool SecondName(const QString &file, const QString &name)
{
#ifdef Q_OS_UNIX
    if (::link(QFile::encodeName(file).constData(), QFile::encodeName(name).constData()) == 0)
        return true;
#endif
    return QFile::copy(file, name);
}

} // namespace

KitArchive::KitArchive(const QString &folder, const std::atomic<bool> *cancelled)
    : root(QDir::cleanPath(QDir(folder).absolutePath()) + QLatin1Char('/')), cancelled(cancelled)
{
}

bool KitArchive::cancelledNow() const
{
    return cancelled && *cancelled;
}

bool KitArchive::holds(const QString &path) const
{
    return (QDir::cleanPath(path) + QLatin1Char('/')).startsWith(root);
}

QString KitArchive::target(const QString &name) const
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return QString();
    const QString path = QDir::cleanPath(root + name);
    return holds(path) ? path : QString();
}

bool KitArchive::scan(const QString &archivePath, QString *error)
{
    // Made first, once: a reading abandoned later must never make again a
    // folder removed meanwhile.
    if (!QDir().mkpath(root)) {
        *error = QStringLiteral("%1: the folder can't be made").arg(root);
        return false;
    }
    file = OpenRegularFile(archivePath, error);
    if (!file)
        return false;
    const Reader reader = OpenReader(*file, error);
    if (!reader)
        return false;
    qint64 content = 0;
    int count = 0;
    int xmlDepth = INT_MAX;
    archive_entry *entry = nullptr;
    int status;
    while ((status = NextHeader(reader.get(), &entry)) == ARCHIVE_OK) {
        if (++count > kMaxEntries) {
            *error = QStringLiteral("the archive holds more than %1 entries").arg(kMaxEntries);
            return false;
        }
        const char *rawName = archive_entry_pathname_utf8(entry);
        const char *rawLink = archive_entry_hardlink_utf8(entry);
        if ((rawName && qstrlen(rawName) > kMaxNameBytes) || (rawLink && qstrlen(rawLink) > kMaxNameBytes)) {
            *error = QStringLiteral("an entry's name is longer than %1 bytes").arg(kMaxNameBytes);
            return false;
        }
        const QString name = StoredName(rawName, archive_entry_pathname(entry));
        const QString path = target(name);
        if (path.isEmpty()) {
            *error = QStringLiteral("the entry \"%1\" would land outside the kit's folder").arg(name);
            return false;
        }
        const QString linkName = StoredName(rawLink, archive_entry_hardlink(entry));
        const bool regular = archive_entry_filetype(entry) == AE_IFREG;
        bool candidate = false;
        if (!linkName.isEmpty()) {
            const QString link = target(linkName);
            if (link.isEmpty()) {
                *error = QStringLiteral("the entry \"%1\" would land outside the kit's folder").arg(linkName);
                return false;
            }
            entries.insert(path, Entry{link, 0});
        } else if (regular) {
            entries.insert(path, Entry{QString(), archive_entry_size(entry)});
            const int depth = int(path.mid(root.size()).count(QLatin1Char('/')));
            candidate = depth < xmlDepth
                && QFileInfo(path).fileName().compare(QLatin1String("drumkit.xml"), Qt::CaseInsensitive) == 0;
        } else {
            entries.remove(path); // symbolic links, folders and devices are never unpacked
        }
        // Read through rather than skipped, so a huge entry is counted and
        // can be interrupted.
        QByteArray data;
        const void *block;
        size_t size;
        la_int64_t offset;
        int read;
        while ((read = NextBlock(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            if (cancelledNow()) {
                *error = QStringLiteral("interrupted");
                return false;
            }
            content += qint64(size);
            if (content > kMaxContentBytes) {
                *error = TooLarge();
                return false;
            }
            if (!candidate)
                continue;
            if (data.size() + qint64(size) > kMaxDrumkitXmlBytes) {
                *error = QStringLiteral("%1: larger than %2 bytes").arg(name).arg(kMaxDrumkitXmlBytes);
                return false;
            }
            data.append(static_cast<const char *>(block), int(size));
        }
        if (read != ARCHIVE_EOF) {
            *error = Reason(reader.get());
            return false;
        }
        if (candidate) {
            xml = data;
            xmlFolder = QFileInfo(path).absolutePath();
            xmlDepth = int(path.mid(root.size()).count(QLatin1Char('/')));
        }
    }
    if (status != ARCHIVE_EOF) {
        *error = Reason(reader.get());
        return false;
    }
    if (xmlFolder.isEmpty()) {
        *error = QStringLiteral("the archive holds no drumkit.xml");
        return false;
    }
    return true;
}

bool KitArchive::unpack(const QSet<QString> &paths, QString *error)
{
    // Each named path's file: itself, or the file its hard links lead to.
    QHash<QString, QString> source;
    QSet<QString> files;
    qint64 needed = 0;
    for (const QString &named : paths) {
        const QString path = QDir::cleanPath(named);
        QString at = path;
        for (int hops = 0; hops < kMaxEntries && entries.contains(at) && !entries.value(at).link.isEmpty(); ++hops)
            at = entries.value(at).link;
        if (!entries.contains(at) || !entries.value(at).link.isEmpty())
            continue; // not in the archive, or links in a circle
        source.insert(path, at);
        if (!files.contains(at)) {
            files.insert(at);
            needed += entries.value(at).size;
        }
    }
    if (files.isEmpty())
        return true;
    const qint64 free = QStorageInfo(root).bytesAvailable();
    const qint64 allowed = free >= 0 ? std::min(kMaxContentBytes, free) : kMaxContentBytes;
    if (needed > allowed) {
        *error = QStringLiteral("the samples it names take %1 bytes; %2 can be unpacked").arg(needed).arg(allowed);
        return false;
    }
    const Reader reader = OpenReader(*file, error);
    if (!reader)
        return false;

    QStringList written;
    QStringList made; // folders, parents first
    const auto fail = [&](const QString &why) {
        *error = why;
        for (const QString &path : std::as_const(written))
            QFile::remove(path);
        for (auto folder = made.crbegin(); folder != made.crend(); ++folder)
            QDir().rmdir(*folder);
        return false;
    };
    // Only below the root, which must still be there.
    const auto makeFolder = [&](const QString &folder) {
        QStringList missing;
        for (QString up = folder; up.size() >= root.size() && !QFileInfo::exists(up); up = QFileInfo(up).absolutePath())
            missing.prepend(up);
        for (const QString &path : std::as_const(missing)) {
            if (!QDir().mkdir(path))
                return false;
            made << path;
        }
        return true;
    };
    const auto create = [&](const QString &path, QFile *out) {
        if (!makeFolder(QFileInfo(path).absolutePath()))
            return false;
        out->setFileName(path);
        if (!out->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        if (!written.contains(path))
            written << path;
        return true;
    };

    qint64 total = 0;
    archive_entry *entry = nullptr;
    int status;
    while ((status = NextHeader(reader.get(), &entry)) == ARCHIVE_OK) {
        if (cancelledNow())
            return fail(QStringLiteral("interrupted"));
        const QString path
            = target(StoredName(archive_entry_pathname_utf8(entry), archive_entry_pathname(entry)));
        const bool wanted = files.contains(path) && archive_entry_filetype(entry) == AE_IFREG
            && !archive_entry_hardlink(entry) && !archive_entry_hardlink_utf8(entry);
        QFile out;
        if (wanted && !create(path, &out))
            return fail(QStringLiteral("%1: %2").arg(path, out.errorString()));
        const qint64 declared = archive_entry_size(entry);
        const void *block;
        size_t size;
        la_int64_t offset;
        int read;
        while ((read = NextBlock(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            if (cancelledNow())
                return fail(QStringLiteral("interrupted"));
            if (!wanted)
                continue;
            // The entry's own size bounds where a block may land, so a
            // sparse entry can't grow past what was allowed.
            total += qint64(size);
            if (offset < 0 || offset + qint64(size) > declared || total > allowed)
                return fail(TooLarge());
            if (!out.seek(offset) || out.write(static_cast<const char *>(block), qint64(size)) != qint64(size))
                return fail(QStringLiteral("%1: %2").arg(path, out.errorString()));
        }
        if (read != ARCHIVE_EOF)
            return fail(Reason(reader.get()));
    }
    if (status != ARCHIVE_EOF)
        return fail(Reason(reader.get()));
    // The names a hard link gives, once the file it names is there.
    for (auto link = source.cbegin(); link != source.cend(); ++link) {
        if (link.key() == link.value() || !QFileInfo::exists(link.value()))
            continue;
        if (!makeFolder(QFileInfo(link.key()).absolutePath()) || !SecondName(link.value(), link.key()))
            return fail(QStringLiteral("%1: the hard link can't be made").arg(link.key()));
        written << link.key();
    }
    return true;
}
