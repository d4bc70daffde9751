#pragma once

// Qt
#include <QByteArray>
#include <QImage>

enum class MetafileKind { Wmf, Emf };

// Renders a Windows metafile at its natural size (96 dots per inch) onto a
// white 24-bit bitmap. A file whose header is not usable throws AppError
// "Metafile is not valid"; a damaged record ends the drawing there.
QImage RenderMetafile(const QByteArray &data, MetafileKind kind);
