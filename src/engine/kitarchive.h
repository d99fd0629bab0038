#ifndef KITARCHIVE_H
#define KITARCHIVE_H

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>

class QFile;

// A kit archive (a tar, gzip-compressed or not) is downloaded content: it is
// read twice, and the only files it may leave on disk are those its
// drumkit.xml names, inside the folder it is unpacked into. The first pass
// reads every entry's name and the drumkit.xml; the second writes the named
// samples. Entries land nowhere but below that folder, symbolic links and
// devices never land at all, and what is read and written is bounded.
class KitArchive
{
public:
    // No real kit comes near these.
    static constexpr qint64 kMaxContentBytes = qint64(4) << 30; // all entries' data together
    static constexpr int kMaxEntries = 20000;
    static constexpr qint64 kMaxDrumkitXmlBytes = 16 << 20;

    // `folder` is where the kit is unpacked; `cancelled`, when set, stops
    // either pass between entries and between blocks.
    KitArchive(const QString &folder, const std::atomic<bool> *cancelled);
    KitArchive(const KitArchive &) = delete;
    KitArchive &operator=(const KitArchive &) = delete;

    // The first pass: false with the reason when the file is no regular
    // file, no archive, too large, holds an entry that would land outside
    // the folder, or holds no drumkit.xml. Writes nothing.
    bool scan(const QString &archivePath, QString *error);
    // The archive's drumkit.xml (the one nearest the top) and the folder
    // its samples are named from once unpacked.
    QByteArray drumkitXml() const { return xml; }
    QString kitFolder() const { return xmlFolder; }

    // True when `path` (absolute) lies inside the folder the kit unpacks to.
    bool holds(const QString &path) const;

    // The second pass: writes the entries at these absolute paths, a hard
    // link's target with it; paths the archive does not hold are passed
    // over. Refused before anything is written when they would take more
    // than the free space or the bound; on any failure nothing is left.
    bool unpack(const QSet<QString> &paths, QString *error);

private:
    struct Entry {
        QString link; // the target of a hard link, absolute; empty for a file
        qint64 size = 0;
    };
    bool cancelledNow() const;
    QString target(const QString &name) const;

    QString root; // with a trailing slash
    const std::atomic<bool> *cancelled;
    std::shared_ptr<QFile> file;
    QHash<QString, Entry> entries; // by absolute path
    QByteArray xml;
    QString xmlFolder;
};

#endif
