#include "drumkit.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QXmlStreamReader>

#include <cmath>

#include "kitarchive.h"
#include "regularfile.h"

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
        else if (!info.exists())
            instrument.problems << QStringLiteral("%1: no such file").arg(info.fileName());
        else if (!info.isFile())
            instrument.problems << QStringLiteral("%1: not a regular file").arg(info.fileName());
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

bool ReadDrumkit(const QString &path, const QString &workFolder, Drumkit *kit, QString *error,
                 const std::atomic<bool> *cancelled)
{
    const QFileInfo info(path);
    if (info.isDir() || info.fileName().endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) {
        const QString xmlPath = info.isDir() ? QDir(path).filePath(QStringLiteral("drumkit.xml")) : path;
        QByteArray xml;
        if (!ReadRegularFile(xmlPath, KitArchive::kMaxDrumkitXmlBytes, &xml, error)
            || !ParseDrumkitXml(xml, QFileInfo(xmlPath).absolutePath(), kit, error)) {
            *error = xmlPath + QStringLiteral(": ") + *error;
            return false;
        }
        if (kit->name.isEmpty())
            kit->name = QFileInfo(xmlPath).absoluteDir().dirName();
        for (KitInstrument &instrument : kit->instruments)
            CheckSamples(instrument);
        return true;
    }

    KitArchive archive(workFolder, cancelled);
    if (!archive.scan(path, error))
        return false;
    if (!ParseDrumkitXml(archive.drumkitXml(), archive.kitFolder(), kit, error)) {
        *error = QStringLiteral("drumkit.xml: ") + *error;
        return false;
    }
    if (kit->name.isEmpty())
        kit->name = info.completeBaseName();
    // An archived kit's samples come from the archive alone: a name leading
    // out of it would put any sound of the user's disk into the banks.
    QSet<QString> named;
    for (KitInstrument &instrument : kit->instruments) {
        QVector<KitLayer> inside;
        for (KitLayer layer : std::as_const(instrument.layers)) {
            if (!layer.path.isEmpty()) {
                layer.path = QDir::cleanPath(layer.path);
                if (!archive.holds(layer.path)) {
                    instrument.problems
                        << QStringLiteral("%1: outside the kit's archive").arg(QFileInfo(layer.path).fileName());
                    continue;
                }
                named.insert(layer.path);
            }
            inside << layer;
        }
        instrument.layers = inside;
    }
    if (!archive.unpack(named, error))
        return false;
    for (KitInstrument &instrument : kit->instruments)
        CheckSamples(instrument);
    return true;
}
