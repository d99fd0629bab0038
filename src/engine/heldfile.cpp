#include "heldfile.h"

#include "fileprocessor.h"

FileHold HeldFile::Take(const QString &path, const QString &note, const FileHold &trimmed, qint32 trimmedSize)
{
    if (path.isEmpty())
        return FileHold();
    auto *file = new HeldFile(path);
    file->madeNote = note;
    file->trimmed = trimmed;
    file->trimmedSize = trimmedSize;
    return FileHold(file);
}

HeldFile::~HeldFile()
{
    DiscardConverted(filePath);
}
