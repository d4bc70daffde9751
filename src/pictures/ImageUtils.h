#pragma once

// Qt
#include <QImage>
#include <QString>

// Fills bitmap with the picture of fileName fitted into maxWidth x
// maxHeight (never enlarged), 24 bits per pixel. Quality mode: accurate IDCT
// and Lanczos-3; fast mode: fast IDCT and BilinearResize. A JPEG is decoded
// at 1/2, 1/4 or 1/8 while a side still exceeds twice the box. A box side
// below 1 counts as 1, so the result always has pixels. Icons and metafiles
// fail. Throws AppError; bitmap is only replaced on success.
void LoadFittedBitmap(const QString &fileName, QImage &bitmap, int maxWidth, int maxHeight, bool fast);
