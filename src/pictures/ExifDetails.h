#pragma once

// Qt
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// What a photo's EXIF block says about how it was taken, for the details
// panel. Every field is optional: a camera writes some, an editor drops
// others, and a broken block yields whatever could be read before the break.
struct TExifDetails
{
    QString Make;
    QString Model;
    QString LensMake;
    QString LensModel;
    QString DateTaken;          // as stored: "2024:06:01 14:03:22"
    double ExposureSeconds = 0; // 0 when absent
    double FNumber = 0;
    int Iso = 0;
    double FocalLength = 0;     // millimetres
    int FocalLength35 = 0;      // the 35 mm film equivalent
    bool HasPosition = false;
    double Latitude = 0;        // degrees, north positive
    double Longitude = 0;       // degrees, east positive
    bool HasAltitude = false;
    double Altitude = 0;        // metres above sea level
    // An offset, count or type in the block did not hold; what is above was
    // read before (or around) the fault.
    bool Damaged = false;

    bool IsEmpty() const;
};

// Reads the EXIF block of a JPEG file's bytes (the first APP1 "Exif"
// segment before the picture data). A file without one gives an empty
// result. Never throws; every offset and count is checked against the block.
TExifDetails ReadJpegExifDetails(const QByteArray &jpeg);

// Reads a TIFF-structured EXIF block (the bytes after "Exif\0\0").
TExifDetails ReadExifBlock(const uchar *data, qint64 size);

// The details as the panel lists them: a caption and a value per line, in
// a fixed order, leaving out what the photo does not say.
QList<QPair<QString, QString>> ExifDetailLines(const TExifDetails &details);

// An exposure time as photographers write it: "1/250 s", "0.8 s", "30 s".
QString ExposureText(double seconds);
