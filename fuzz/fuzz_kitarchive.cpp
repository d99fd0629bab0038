// Any bytes as a .h2drumkit archive, read as the kit reader reads one into
// a private folder. Whatever the archive holds, nothing lands outside that
// folder, nothing lands in it but folders and regular files, a refused
// archive leaves no file, and every sample a kit keeps lies inside it.

#include <QDirIterator>
#include <QFileInfo>

#include "drumkit.h"
#include "fuzzsupport.h"

namespace {

QString archivePath;
QString workPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(DropMessages);
    archivePath = ScratchFolder() + QStringLiteral("/kit.h2drumkit");
    workPath = ScratchFolder() + QStringLiteral("/work");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    WriteFile(archivePath, Bytes(data, size));
    Drumkit kit;
    QString error;
    const bool read = ReadDrumkit(archivePath, workPath, &kit, &error);
    FUZZ_CHECK(read || !error.isEmpty());

    const QStringList beside = QDir(ScratchFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                               | QDir::NoDotAndDotDot);
    FUZZ_CHECK(beside == (QStringList{QStringLiteral("kit.h2drumkit"), QStringLiteral("work")}));
    QDirIterator it(workPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        FUZZ_CHECK(!entry.isSymLink() && (entry.isDir() || entry.isFile()));
        FUZZ_CHECK(read || entry.isDir());
    }
    // A refused kit's instruments are partial and never used.
    const QString inside = workPath + QLatin1Char('/');
    const QVector<KitInstrument> kept = read ? kit.instruments : QVector<KitInstrument>();
    for (const KitInstrument &instrument : kept) {
        for (const KitLayer &layer : instrument.layers)
            FUZZ_CHECK(layer.path.startsWith(inside) && QFileInfo(layer.path).isFile());
    }
    FUZZ_CHECK(QDir(workPath).removeRecursively());
    return 0;
}
