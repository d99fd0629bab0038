#include "heldfile.h"

#include "fileprocessor.h"

FileHold HeldFile::Take(const QString &path)
{
    if (path.isEmpty())
        return FileHold();
    return FileHold(new HeldFile(path));
}

HeldFile::~HeldFile()
{
    DiscardConverted(filePath);
}
