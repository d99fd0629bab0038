#ifndef HELDFILE_H
#define HELDFILE_H

#include <QString>

#include <memory>

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
    // would each remove it.
    static std::shared_ptr<const HeldFile> Take(const QString &path);
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    const QString &path() const { return filePath; }

private:
    explicit HeldFile(const QString &path) : filePath(path) {}

    QString filePath;
};

using FileHold = std::shared_ptr<const HeldFile>;

#endif
