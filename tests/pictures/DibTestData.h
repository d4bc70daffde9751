#pragma once

// Local
#include "TestFiles.h"

// Qt
#include <QFile>
#include <QImage>
#include <QList>

// Std
#include <algorithm>
#include <cstdlib>
#include <initializer_list>

// Little-endian bytes for bitmaps and icons built in the tests, and the
// comparisons the decoder tests share.

inline void Put16(QByteArray &b, quint32 v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

inline void Put32(QByteArray &b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

inline QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Pixels as blue, green, red; with alpha as blue, green, red, alpha; as
// colour table entries (blue, green, red, 0).
inline QByteArray Bgr(std::initializer_list<QRgb> colours)
{
    QByteArray b;
    for (QRgb c : colours)
        b += Bytes({qBlue(c), qGreen(c), qRed(c)});
    return b;
}

inline QByteArray Bgra(std::initializer_list<QRgb> colours)
{
    QByteArray b;
    for (QRgb c : colours)
        b += Bytes({qBlue(c), qGreen(c), qRed(c), qAlpha(c)});
    return b;
}

inline QByteArray Quads(std::initializer_list<QRgb> colours)
{
    QByteArray b;
    for (QRgb c : colours)
        b += Bytes({qBlue(c), qGreen(c), qRed(c), 0});
    return b;
}

inline QByteArray Pad4(const QByteArray &row)
{
    return row + QByteArray((4 - row.size() % 4) % 4, '\0');
}

inline QList<QRgb> PixelsOf(const QImage &image)
{
    QList<QRgb> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            out << image.pixel(x, y);
    return out;
}

// What a viewer shows for a reference with transparency: it over white.
inline QImage ReferenceOnWhite(const QImage &reference)
{
    const QImage argb = reference.convertToFormat(QImage::Format_ARGB32);
    QImage out(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            const int a = qAlpha(p);
            auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            out.setPixel(x, y, qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p))));
        }
    }
    return out;
}

// The largest difference of any colour channel; the sizes must be equal.
inline int MaxDifference(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}
