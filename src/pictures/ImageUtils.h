#pragma once

// Qt
#include <QImage>
#include <QString>

// Fills bitmap with the picture of fileName fitted into maxWidth x
// maxHeight (never enlarged), 24 bits per pixel. Quality mode: accurate IDCT
// and Lanczos-3; fast mode: fast IDCT and BilinearResize. Icons and
// metafiles fail. Throws AppError.
void LoadFittedBitmap(const QString &fileName, QImage &bitmap, int maxWidth, int maxHeight, bool fast);
