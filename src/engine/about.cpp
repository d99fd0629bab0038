#include "about.h"

#include <ebur128.h>

#include "soundconvert.h"

QString ProgramVersion()
{
    return QStringLiteral(ZK_PROGRAM_VERSION);
}

QStringList LibraryLines()
{
    int major = 0, minor = 0, patch = 0;
    ebur128_get_version(&major, &minor, &patch);
    return {
        QStringLiteral("Qt %1 (GNU LGPL 3)").arg(QString::fromLatin1(qVersion())),
        QStringLiteral("%1 (GNU LGPL 2.1 or later)").arg(QString::fromStdString(SndfileVersion())),
        QStringLiteral("%1 (GNU LGPL 2.1 or later)").arg(QString::fromStdString(SoxrVersion())),
        QStringLiteral("libebur128-%1.%2.%3 (MIT)").arg(major).arg(minor).arg(patch),
    };
}
