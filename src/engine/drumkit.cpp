#include "drumkit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <cmath>
#include <memory>

namespace {

// A number of the kit's text, or `fallback` when it is none.
double Number(const QString &text, double fallback)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : fallback;
}

KitLayer ReadLayer(QXmlStreamReader &xml, const QString &folder)
{
    KitLayer layer;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("filename")) {
            const QString file = xml.readElementText().trimmed();
            if (!file.isEmpty())
                layer.path = QDir(folder).absoluteFilePath(file);
        } else if (name == QLatin1String("min")) {
            layer.min = Number(xml.readElementText(), 0);
        } else if (name == QLatin1String("max")) {
            layer.max = Number(xml.readElementText(), 1);
        } else if (name == QLatin1String("gain")) {
            layer.gain = Number(xml.readElementText(), 1);
        } else if (name == QLatin1String("pitch")) {
            layer.pitch = Number(xml.readElementText(), 0);
        } else {
            xml.skipCurrentElement();
        }
    }
    return layer;
}

KitInstrument ReadInstrument(QXmlStreamReader &xml, const QString &folder)
{
    KitInstrument instrument;
    QVector<KitLayer> direct;
    QVector<KitLayer> component; // the first component's that has layers
    QString soleFile;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            instrument.name = xml.readElementText().trimmed();
        } else if (name == QLatin1String("gain")) {
            instrument.gain = Number(xml.readElementText(), 1);
        } else if (name == QLatin1String("filename")) {
            soleFile = xml.readElementText().trimmed();
        } else if (name == QLatin1String("layer")) {
            direct << ReadLayer(xml, folder);
        } else if (name == QLatin1String("instrumentComponent")) {
            double gain = 1;
            QVector<KitLayer> layers;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("layer"))
                    layers << ReadLayer(xml, folder);
                else if (xml.name() == QLatin1String("gain"))
                    gain = Number(xml.readElementText(), 1);
                else
                    xml.skipCurrentElement();
            }
            if (component.isEmpty()) {
                for (KitLayer &layer : layers)
                    layer.gain *= gain;
                component = layers;
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!direct.isEmpty())
        instrument.layers = direct;
    else if (!component.isEmpty())
        instrument.layers = component;
    else if (!soleFile.isEmpty())
        instrument.layers << KitLayer{QDir(folder).absoluteFilePath(soleFile), 0, 1, 1, 0};
    return instrument;
}

// Leaves out the layers whose sample can't be read, saying why.
void CheckSamples(KitInstrument &instrument)
{
    QVector<KitLayer> readable;
    for (const KitLayer &layer : std::as_const(instrument.layers)) {
        const QFileInfo info(layer.path);
        if (layer.path.isEmpty())
            instrument.problems << QStringLiteral("a layer names no sample");
        else if (!info.isFile())
            instrument.problems << QStringLiteral("%1: no such file").arg(info.fileName());
        else if (!info.isReadable())
            instrument.problems << QStringLiteral("%1: not readable").arg(info.fileName());
        else
            readable << layer;
    }
    instrument.layers = readable;
}

} // namespace

bool ParseDrumkitXml(const QByteArray &bytes, const QString &folder, Drumkit *kit, QString *error)
{
    *kit = Drumkit();
    kit->folder = folder;
    QXmlStreamReader xml(bytes);
    xml.setNamespaceProcessing(true);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("drumkit_info")) {
        *error = xml.hasError() ? xml.errorString() : QStringLiteral("no drumkit_info element");
        return false;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name")) {
            kit->name = xml.readElementText().trimmed();
        } else if (xml.name() == QLatin1String("instrumentList")) {
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("instrument"))
                    kit->instruments << ReadInstrument(xml, folder);
                else
                    xml.skipCurrentElement();
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        *error = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    return true;
}

bool UnpackKitArchive(const QString &archivePath, const QString &folder, QString *error)
{
    const std::unique_ptr<archive, int (*)(archive *)> reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 65536)
        != ARCHIVE_OK) {
        *error = QString::fromLocal8Bit(archive_error_string(reader.get()));
        return false;
    }
    const QDir root(folder);
    const QString rootPath = root.absolutePath() + QLatin1Char('/');
    QStringList written;
    QStringList made; // folders, parents first
    const auto makeFolder = [&](const QString &path) {
        QStringList missing;
        for (QString up = path; !QFileInfo::exists(up) && (up + QLatin1Char('/')).startsWith(rootPath);
             up = QFileInfo(up).absolutePath())
            missing.prepend(up);
        made << missing;
        root.mkpath(path);
    };
    const auto fail = [&](const QString &why) {
        *error = why;
        for (const QString &file : std::as_const(written))
            QFile::remove(file);
        for (auto folder = made.crbegin(); folder != made.crend(); ++folder)
            QDir().rmdir(*folder);
        return false;
    };
    archive_entry *entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        const QString name = QString::fromUtf8(archive_entry_pathname(entry));
        const QString target = QDir::cleanPath(root.absoluteFilePath(name));
        if (name.startsWith(QLatin1Char('/')) || !(target + QLatin1Char('/')).startsWith(rootPath))
            return fail(QStringLiteral("the entry \"%1\" would land outside the kit's folder").arg(name));
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            makeFolder(target);
            continue;
        }
        if (type != AE_IFREG)
            continue; // links and devices have no place in a kit
        makeFolder(QFileInfo(target).absolutePath());
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("%1: %2").arg(target, out.errorString()));
        written << target;
        const void *block;
        size_t size;
        la_int64_t offset;
        int read;
        while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            if (!out.seek(offset) || out.write(static_cast<const char *>(block), qint64(size)) != qint64(size))
                return fail(QStringLiteral("%1: %2").arg(target, out.errorString()));
        }
        if (read != ARCHIVE_EOF)
            return fail(QString::fromLocal8Bit(archive_error_string(reader.get())));
    }
    if (status != ARCHIVE_EOF)
        return fail(QString::fromLocal8Bit(archive_error_string(reader.get())));
    return true;
}

bool ReadDrumkit(const QString &path, const QString &workFolder, Drumkit *kit, QString *error)
{
    QString xmlPath = path;
    const QFileInfo info(path);
    if (info.isFile() && !info.fileName().endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) {
        if (!UnpackKitArchive(path, workFolder, error))
            return false;
        QDirIterator found(workFolder, {QStringLiteral("drumkit.xml")}, QDir::Files,
                           QDirIterator::Subdirectories);
        if (!found.hasNext()) {
            *error = QStringLiteral("the archive holds no drumkit.xml");
            return false;
        }
        xmlPath = found.next();
    } else if (info.isDir()) {
        xmlPath = QDir(path).filePath(QStringLiteral("drumkit.xml"));
    }
    QFile file(xmlPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(xmlPath, file.errorString());
        return false;
    }
    if (!ParseDrumkitXml(file.readAll(), QFileInfo(xmlPath).absolutePath(), kit, error)) {
        *error = xmlPath + QStringLiteral(": ") + *error;
        return false;
    }
    for (KitInstrument &instrument : kit->instruments)
        CheckSamples(instrument);
    return true;
}
