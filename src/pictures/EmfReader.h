#pragma once

// Qt
#include <QByteArray>
#include <QRectF>
#include <QSizeF>

class TMetaEngine;

// What an enhanced metafile's header says about its picture.
struct TEmfHeader
{
    QRectF Frame;           // the picture's frame in 0.01 mm
    QSizeF Device;          // the reference device in pixels
    QSizeF DeviceMm;        // the same device in millimetres
    qint64 HeaderSize = 0;  // where the records after the header start
};

// Reads and checks the header; a file whose header is unusable (too short,
// wrong signature, zero device size, empty or inverted frame) throws AppError
// "Metafile is not valid".
TEmfHeader ReadEmfHeader(const QByteArray &data);

// The picture's natural size in pixels at 96 dots per inch.
QSizeF EmfNaturalSize(const TEmfHeader &header);

// Plays the records after the header onto the engine. A record whose
// contents cannot be used is skipped (one that makes an object leaves an
// empty object at its index); a record size that does not fit the file or a
// work limit ends the drawing, and what was drawn stays. EMF+ records in
// comments are skipped: the plain records that accompany them are drawn.
void PlayEmf(const QByteArray &data, const TEmfHeader &header, TMetaEngine &engine);
