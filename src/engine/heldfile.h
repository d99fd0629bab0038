#ifndef HELDFILE_H
#define HELDFILE_H

#include <QString>

#include <memory>

class HeldFile;
using FileHold = std::shared_ptr<const HeldFile>;

// A layer file of the working folder (a result of the intake in a numbered
// folder of its own) kept for as long as something still needs it: the
// rows, a step of undo. Each holder keeps a FileHold; when the last one goes,
// the file and its folder are removed as DiscardConverted removes them, so
// the working folder holds only what is still needed.
class HeldFile
{
public:
    // The first hold on `path`, which from now on goes with its last hold;
    // none for an empty path. One path is taken once: two first holds on it
    // would each remove it. A file an import made comes with what was done
    // to make it (`note`, for its row's tool tip) and, untrimmed, with the
    // trimmed copy made beside it (`trimmed`, of layer size `trimmedSize`),
    // kept for as long as the file is: trimming the layer again gives back
    // those bytes, not a trim of a sound the budget may have cut.
    static FileHold Take(const QString &path, const QString &note = QString(),
                         const FileHold &trimmed = FileHold(), qint32 trimmedSize = 0);
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    const QString &path() const { return filePath; }
    const QString &note() const { return madeNote; }
    const FileHold &trimmedCopy() const { return trimmed; }
    qint32 trimmedCopySize() const { return trimmedSize; }

private:
    explicit HeldFile(const QString &path) : filePath(path) {}

    QString filePath;
    QString madeNote;
    FileHold trimmed;
    qint32 trimmedSize = 0;
};

#endif
