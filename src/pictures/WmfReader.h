#pragma once

// Qt
#include <QByteArray>
#include <QRectF>
#include <QSizeF>

class TMetaEngine;

// What a Windows metafile's headers say about its picture.
struct TWmfHeader
{
    bool Placeable = false;
    QRectF Box;                 // the picture in logical units
    double UnitsPerInch = 96;   // of the box
    qint64 RecordsOffset = 0;   // where the first record starts
};

// Reads and checks the headers. A placeable file takes its box and units per
// inch from its own header; any other takes its box from its first window
// origin and extent, at 96 units per inch. Unusable headers (too short, a
// zero unit or box, no window extent) throw AppError "Metafile is not valid".
TWmfHeader ReadWmfHeader(const QByteArray &data);

// The picture's natural size in pixels at 96 dots per inch.
QSizeF WmfNaturalSize(const TWmfHeader &header);

// Plays the records onto the engine. A record whose contents cannot be used
// is skipped (one that makes an object leaves an empty object in its slot);
// a record size that does not fit the file or a work limit ends the drawing,
// and what was drawn stays.
void PlayWmf(const QByteArray &data, const TWmfHeader &header, TMetaEngine &engine);
