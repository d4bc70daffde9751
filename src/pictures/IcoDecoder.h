#pragma once

// Qt
#include <QByteArray>
#include <QImage>

// Decodes an icon file: the largest entry (then the deepest colour), drawn
// onto white, as a 24-bit bitmap of that entry's size. Any failure throws
// AppError "Icon image is not valid".
QImage DecodeIco(const QByteArray &data);
