#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QSizeF>

enum class MetafileKind { Wmf, Emf };

// Renders a Windows metafile at its natural size (96 dots per inch) onto a
// white 24-bit bitmap. A file whose header is not usable throws AppError
// "Metafile is not valid"; a record whose contents cannot be used is
// skipped, and a record size that does not fit the file ends the drawing. A
// picture whose natural size would exceed the bitmap size limit is drawn
// smaller, at the largest size within the limit, keeping its proportions.
QImage RenderMetafile(const QByteArray &data, MetafileKind kind);

// The canvas a picture of this natural size is drawn on: the size rounded
// (halves to even, at least one pixel), shrunk proportionally when its
// 24-bit bitmap would exceed kMaxBitmapBytes.
QSize MetafileCanvasSize(QSizeF natural);
