#include "picture_files/ome_xml.h"

#include "picture_files/picture_record.h"

#include <QCoreApplication>
#include <QHash>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <cstdlib>

namespace {

const QString omeNamespace = QStringLiteral("http://www.openmicroscopy.org/Schemas/OME/2016-06");
const QString xsiNamespace = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
const QString recordNamespace = QStringLiteral("pictures-in-a-row/picture-record");

QString urn(const QUuid &uuid)
{
    return QStringLiteral("urn:uuid:") + uuid.toString(QUuid::WithoutBraces);
}

// Seconds with the digits of the log's milliseconds, so that DeltaT and the log's frame_ms
// (three decimals) say the same microsecond: dividing the double could round the other way.
QString logSeconds(double ms)
{
    const qint64 us = std::llround(recordMilliseconds(ms).toDouble() * 1000.0);
    return QStringLiteral("%1%2.%3")
        .arg(us < 0 ? QStringLiteral("-") : QString())
        .arg(std::llabs(us) / 1000000)
        .arg(std::llabs(us) % 1000000, 6, 10, QLatin1Char('0'));
}

// Written into a QString and encoded once, sparing every piece a pass through a QBuffer. A
// picture's XML is left on one line, which saves a tenth of its time; the companion, which
// people open in editors, is indented.
void startOme(QXmlStreamWriter &w, QString &text, const QUuid &uuid, bool indented)
{
    text.reserve(4096);
    w.setAutoFormatting(indented);
    w.setAutoFormattingIndent(1);
    // Qt names no encoding in the declaration of XML written into a string; XML's default, UTF-8,
    // is the one the bytes are in.
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("OME"));
    w.writeDefaultNamespace(omeNamespace);
    w.writeNamespace(xsiNamespace, QStringLiteral("xsi"));
    w.writeAttribute(xsiNamespace, QStringLiteral("schemaLocation"),
                     omeNamespace + u' ' + omeNamespace + QStringLiteral("/ome.xsd"));
    w.writeAttribute(QStringLiteral("UUID"), urn(uuid));
    const QString version = QCoreApplication::applicationVersion();
    w.writeAttribute(QStringLiteral("Creator"),
                     version.isEmpty() ? QStringLiteral("Pictures in a row") : QStringLiteral("Pictures in a row ") + version);
}

bool hasDetector(const PictureOrigin &origin)
{
    return !origin.cameraModel.isEmpty() || !origin.cameraSerial.isEmpty();
}

void writeInstrument(QXmlStreamWriter &w, const PictureOrigin &origin)
{
    if (!hasDetector(origin))
        return;
    w.writeStartElement(QStringLiteral("Instrument"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Instrument:0"));
    w.writeEmptyElement(QStringLiteral("Detector"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Detector:0"));
    if (!origin.cameraModel.isEmpty())
        w.writeAttribute(QStringLiteral("Model"), origin.cameraModel);
    if (!origin.cameraSerial.isEmpty())
        w.writeAttribute(QStringLiteral("SerialNumber"), origin.cameraSerial);
    w.writeEndElement();
}

void startImage(QXmlStreamWriter &w, const QString &name, const QDateTime &date, const PictureOrigin &origin)
{
    w.writeStartElement(QStringLiteral("Image"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Image:0"));
    w.writeAttribute(QStringLiteral("Name"), name);
    if (date.isValid())
        w.writeTextElement(QStringLiteral("AcquisitionDate"),
                           date.toOffsetFromUtc(date.offsetFromUtc()).toString(Qt::ISODateWithMs));
    if (hasDetector(origin)) {
        w.writeEmptyElement(QStringLiteral("InstrumentRef"));
        w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Instrument:0"));
    }
}

// Pixels with its one channel; the caller adds the TiffData and Plane elements and ends it.
void startPixels(QXmlStreamWriter &w, const Frame &frame, const PictureOrigin &origin, qsizetype sizeT)
{
    const bool colour = frame.format == PixelFormat::RGB8;
    const bool wide = frame.format == PixelFormat::Mono16;
    w.writeStartElement(QStringLiteral("Pixels"));
    const std::pair<const char *, QString> attributes[] = {
        {"ID", QStringLiteral("Pixels:0")},
        {"DimensionOrder", QStringLiteral("XYCZT")},
        {"Type", wide ? QStringLiteral("uint16") : QStringLiteral("uint8")},
        {"SignificantBits", QString::number(wide ? frame.significantBits : 8)},
        {"SizeX", QString::number(frame.width)},
        {"SizeY", QString::number(frame.height)},
        {"SizeZ", QStringLiteral("1")},
        {"SizeC", colour ? QStringLiteral("3") : QStringLiteral("1")},
        {"SizeT", QString::number(sizeT)}};
    for (const auto &[name, value] : attributes)
        w.writeAttribute(QLatin1String(name), value);
    // In µm, the schema's default unit, so that the description stays ASCII.
    if (origin.pixelSizeUm) {
        w.writeAttribute(QStringLiteral("PhysicalSizeX"), recordNumber(*origin.pixelSizeUm));
        w.writeAttribute(QStringLiteral("PhysicalSizeY"), recordNumber(*origin.pixelSizeUm));
    }
    if (origin.intervalMs) {
        w.writeAttribute(QStringLiteral("TimeIncrement"), recordNumber(*origin.intervalMs / 1000.0));
        w.writeAttribute(QStringLiteral("TimeIncrementUnit"), QStringLiteral("s"));
    }
    w.writeStartElement(QStringLiteral("Channel"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Channel:0:0"));
    const QString channel = origin.channelName.isEmpty() ? origin.cameraModel : origin.channelName;
    if (!channel.isEmpty())
        w.writeAttribute(QStringLiteral("Name"), channel);
    w.writeAttribute(QStringLiteral("SamplesPerPixel"), colour ? QStringLiteral("3") : QStringLiteral("1"));
    if (hasDetector(origin)) {
        w.writeEmptyElement(QStringLiteral("DetectorSettings"));
        w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Detector:0"));
    }
    w.writeEndElement();
}

void writeTiffData(QXmlStreamWriter &w, qsizetype t, const OmeTimePoint *point)
{
    w.writeStartElement(QStringLiteral("TiffData"));
    if (point)
        w.writeAttribute(QStringLiteral("FirstT"), QString::number(t));
    w.writeAttribute(QStringLiteral("IFD"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("PlaneCount"), QStringLiteral("1"));
    if (point) {
        w.writeStartElement(QStringLiteral("UUID"));
        w.writeAttribute(QStringLiteral("FileName"), point->fileName);
        w.writeCharacters(urn(point->uuid));
        w.writeEndElement();
    }
    w.writeEndElement();
}

void writePlane(QXmlStreamWriter &w, qsizetype t, const std::optional<double> &timeMs,
                const std::optional<double> &exposureUs)
{
    w.writeEmptyElement(QStringLiteral("Plane"));
    w.writeAttribute(QStringLiteral("TheZ"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("TheT"), QString::number(t));
    w.writeAttribute(QStringLiteral("TheC"), QStringLiteral("0"));
    if (timeMs) {
        w.writeAttribute(QStringLiteral("DeltaT"), logSeconds(*timeMs));
        w.writeAttribute(QStringLiteral("DeltaTUnit"), QStringLiteral("s"));
    }
    if (exposureUs) {
        w.writeAttribute(QStringLiteral("ExposureTime"), recordNumber(*exposureUs / 1000.0));
        w.writeAttribute(QStringLiteral("ExposureTimeUnit"), QStringLiteral("ms"));
    }
}

void writeRecord(QXmlStreamWriter &w, const ImageMetadata &metadata)
{
    const QDateTime time = metadata.captureTime.isValid() ? metadata.captureTime : QDateTime::currentDateTime();
    w.writeStartElement(QStringLiteral("StructuredAnnotations"));
    w.writeStartElement(QStringLiteral("MapAnnotation"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Annotation:0"));
    w.writeAttribute(QStringLiteral("Namespace"), recordNamespace);
    w.writeStartElement(QStringLiteral("Value"));
    for (const auto &[key, value] : recordPairs(metadata, time)) {
        w.writeStartElement(QStringLiteral("M"));
        w.writeAttribute(QStringLiteral("K"), key);
        w.writeCharacters(value);
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
}

} // namespace

std::optional<double> omeTimeMs(const ImageMetadata &metadata)
{
    return metadata.frameMs ? metadata.frameMs : metadata.stopwatchMs;
}

QByteArray pictureOmeXml(const Frame &frame, const ImageMetadata &metadata, const QString &name)
{
    const PictureOrigin &origin = metadata.origin;
    QString xml;
    QXmlStreamWriter w(&xml);
    startOme(w, xml, metadata.uuid, false);
    writeInstrument(w, origin);
    const QString imageName = origin.series.isEmpty() || !metadata.picture
                                  ? name
                                  : QStringLiteral("%1, picture %2").arg(origin.series).arg(*metadata.picture);
    startImage(w, imageName, origin.start.isValid() ? origin.start : metadata.captureTime, origin);
    startPixels(w, frame, origin, 1);
    writeTiffData(w, 0, nullptr);
    writePlane(w, 0, omeTimeMs(metadata), metadata.exposureUs);
    w.writeEndElement(); // Pixels
    w.writeEmptyElement(QStringLiteral("AnnotationRef"));
    w.writeAttribute(QStringLiteral("ID"), QStringLiteral("Annotation:0"));
    w.writeEndElement(); // Image
    writeRecord(w, metadata);
    w.writeEndDocument();
    return xml.toUtf8();
}

QByteArray companionOmeXml(const Frame &frame, const PictureOrigin &origin, const QUuid &uuid,
                           const QList<OmeTimePoint> &points)
{
    QString xml;
    QXmlStreamWriter w(&xml);
    startOme(w, xml, uuid, true);
    writeInstrument(w, origin);
    startImage(w, origin.series, origin.start, origin);
    startPixels(w, frame, origin, points.size());
    for (qsizetype t = 0; t < points.size(); ++t)
        writeTiffData(w, t, &points[t]);
    for (qsizetype t = 0; t < points.size(); ++t)
        writePlane(w, t, points[t].timeMs, points[t].exposureUs);
    w.writeEndDocument();
    return xml.toUtf8();
}

bool readPictureOmeXml(const QByteArray &xml, ImageMetadata &metadata)
{
    QXmlStreamReader r(xml);
    if (!r.readNextStartElement() || r.name() != u"OME" || r.namespaceUri() != omeNamespace)
        return false;
    metadata.uuid = QUuid::fromString(r.attributes().value(QStringLiteral("UUID")).mid(9));
    QHash<QString, QString> pairs;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (r.name() == u"Pixels") {
            bool ok = false;
            const double size = r.attributes().value(QStringLiteral("PhysicalSizeX")).toDouble(&ok);
            if (ok)
                metadata.origin.pixelSizeUm = size;
        } else if (r.name() == u"M") {
            const QString key = r.attributes().value(QStringLiteral("K")).toString();
            pairs.insert(key, r.readElementText());
        }
    }
    readRecordPairs(pairs, metadata);
    return true;
}
