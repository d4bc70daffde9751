#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

// Small file and picture helpers the suites share.

// The whole content of a file; empty when it cannot be read.
QByteArray ReadAll(const QString &path);

// Writes data to path (making its folder), failing the running test when it
// cannot.
void WriteFile(const QString &path, const QByteArray &data);

// Every file below folder, hidden ones included, as sorted relative paths.
QStringList FilesBelow(const QString &folder);

// A 24-bit picture with detail at every scale, so that decoding or scaling
// at another size than the one expected gives other bytes.
QImage DetailedPicture(int width, int height);
