// Makes the sample pictures in samples/ from nothing but arithmetic: a
// photo-like 6000 x 4000 landscape, smaller JPEGs (baseline, progressive,
// grayscale), 8-bit and 24-bit bitmaps and an icon.
//
//     tamsel-make-samples <output folder>

// Qt
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QtEndian>

// Std
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Smooth value noise from a hash of the lattice corners.
float hash(int x, int y, int seed)
{
    unsigned h = unsigned(x) * 374761393u + unsigned(y) * 668265263u + unsigned(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float(h ^ (h >> 16)) / 4294967295.0f;
}

float valueNoise(float x, float y, int seed)
{
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    float fx = x - float(x0);
    float fy = y - float(y0);
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    const float a = hash(x0, y0, seed), b = hash(x0 + 1, y0, seed);
    const float c = hash(x0, y0 + 1, seed), d = hash(x0 + 1, y0 + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

float fractal(float x, float y, int octaves, int seed)
{
    float sum = 0, amplitude = 0.5f, frequency = 1;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x * frequency, y * frequency, seed + i);
        amplitude *= 0.5f;
        frequency *= 2.03f;
    }
    return sum;
}

unsigned char clampByte(float v)
{
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<unsigned char>(v);
}

// A landscape: graded sky with a sun, two mountain ridges, a meadow with
// texture. w x h, Format_RGB888.
QImage landscape(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    const float scale = 6000.0f / float(w);
    std::vector<float> farRidge(static_cast<size_t>(w));
    std::vector<float> nearRidge(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const float u = float(x) * scale;
        farRidge[size_t(x)] = 0.42f * h - fractal(u / 900.0f, 0.5f, 6, 11) * 0.30f * h;
        nearRidge[size_t(x)] = 0.62f * h - fractal(u / 1300.0f, 3.5f, 5, 29) * 0.25f * h;
    }
    const float sunX = 0.72f * w, sunY = 0.22f * h, sunR = 0.035f * w;
    for (int y = 0; y < h; ++y) {
        uchar *row = image.scanLine(y);
        const float v = float(y) / float(h);
        for (int x = 0; x < w; ++x) {
            const float u = float(x) * scale;
            const float fy = float(y) * scale;
            float r, g, b;
            if (float(y) < farRidge[size_t(x)]) {
                // Sky: deep blue to warm haze at the horizon, a few clouds.
                const float t = v / 0.45f;
                r = 60 + 150 * t;
                g = 110 + 100 * t;
                b = 200 + 30 * t;
                const float cloud = fractal(u / 700.0f, fy / 260.0f, 5, 3);
                if (cloud > 0.55f) {
                    const float c = (cloud - 0.55f) * 3.2f;
                    r += (250 - r) * c;
                    g += (250 - g) * c;
                    b += (252 - b) * c;
                }
                const float dx = float(x) - sunX, dy = float(y) - sunY;
                const float dist = std::sqrt(dx * dx + dy * dy);
                const float glow = dist < sunR ? 1.0f : std::exp(-(dist - sunR) / (0.08f * w));
                r += (255 - r) * glow;
                g += (245 - g) * glow;
                b += (215 - b) * glow * 0.8f;
            } else if (float(y) < nearRidge[size_t(x)]) {
                // Far mountains, bluish, with rock texture.
                const float n = fractal(u / 120.0f, fy / 120.0f, 5, 41);
                r = 85 + 60 * n;
                g = 100 + 55 * n;
                b = 125 + 50 * n;
            } else {
                // Meadow: greens and browns, fine grass texture.
                const float n = fractal(u / 300.0f, fy / 300.0f, 4, 53);
                const float grass = valueNoise(u / 3.0f, fy / 9.0f, 71);
                const float depth = (v - 0.45f) / 0.55f;
                r = 60 + 70 * n + 25 * grass;
                g = 100 + 70 * n + 35 * grass + 20 * depth;
                b = 30 + 25 * n;
            }
            row[3 * x] = clampByte(r);
            row[3 * x + 1] = clampByte(g);
            row[3 * x + 2] = clampByte(b);
        }
    }
    return image;
}

bool writeJpeg(const QImage &rgb, const QString &path, int quality, bool progressive, bool grayscale)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(rgb.width());
    cinfo.image_height = JDIMENSION(rgb.height());
    cinfo.input_components = grayscale ? 1 : 3;
    cinfo.in_color_space = grayscale ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const QImage source = grayscale ? rgb.convertToFormat(QImage::Format_Grayscale8) : rgb;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(source.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

void put16(QByteArray &b, quint16 v) { b.append(char(v & 0xff)).append(char(v >> 8)); }
void put32(QByteArray &b, quint32 v) { put16(b, quint16(v & 0xffff)); put16(b, quint16(v >> 16)); }

// BITMAPINFOHEADER (40 bytes).
void putInfoHeader(QByteArray &b, int w, int h, int bits, int colours, quint32 imageSize)
{
    put32(b, 40);
    put32(b, quint32(w));
    put32(b, quint32(h));
    put16(b, 1);
    put16(b, quint16(bits));
    put32(b, 0);
    put32(b, imageSize);
    put32(b, 3780);
    put32(b, 3780);
    put32(b, quint32(colours));
    put32(b, 0);
}

// A bitmap file: 8-bit with a 256-entry palette, or 24-bit.
QByteArray bmpFile(const QImage &rgb, bool eightBit)
{
    const int w = rgb.width(), h = rgb.height();
    QImage indexed;
    if (eightBit)
        indexed = rgb.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    const int bits = eightBit ? 8 : 24;
    const int stride = ((w * bits + 31) / 32) * 4;
    const int colours = eightBit ? 256 : 0;
    const quint32 offset = 14 + 40 + quint32(colours) * 4;
    QByteArray b;
    b.append("BM");
    put32(b, offset + quint32(stride * h));
    put32(b, 0);
    put32(b, offset);
    putInfoHeader(b, w, h, bits, colours, quint32(stride * h));
    if (eightBit) {
        const QList<QRgb> table = indexed.colorTable();
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < table.size() ? table.at(i) : 0;
            b.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(0));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            if (eightBit) {
                row[x] = char(indexed.pixelIndex(x, y));
            } else {
                const QRgb c = rgb.pixel(x, y);
                row[3 * x] = char(qBlue(c));
                row[3 * x + 1] = char(qGreen(c));
                row[3 * x + 2] = char(qRed(c));
            }
        }
        b.append(row);
    }
    return b;
}

// An icon drawn in code: a framed picture with a sun, at any size.
QImage iconPicture(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
            const bool inside = u > 0.06f && u < 0.94f && v > 0.16f && v < 0.84f;
            QRgb c = qRgba(0, 0, 0, 0);
            if (inside) {
                const bool frame = u < 0.12f || u > 0.88f || v < 0.22f || v > 0.78f;
                const float du = u - 0.68f, dv = v - 0.38f;
                if (frame)
                    c = qRgba(45, 62, 80, 255);
                else if (du * du + dv * dv < 0.01f)
                    c = qRgba(255, 213, 74, 255);
                else if (v > 0.62f - 0.3f * std::fabs(u - 0.4f))
                    c = qRgba(63, 143, 79, 255);
                else
                    c = qRgba(159, 211, 245, 255);
            }
            image.setPixel(x, y, c);
        }
    }
    return image;
}

// An icon with two entries: 16 x 16 as a 32-bit DIB with its AND mask, and
// 48 x 48 as PNG.
QByteArray icoFile()
{
    QByteArray dib;
    const QImage small = iconPicture(16);
    const int maskStride = 4;
    putInfoHeader(dib, 16, 32, 32, 0, 16 * 16 * 4 + maskStride * 16);
    for (int y = 15; y >= 0; --y)
        for (int x = 0; x < 16; ++x) {
            const QRgb c = small.pixel(x, y);
            dib.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(qAlpha(c)));
        }
    for (int y = 15; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < 16; ++x)
            if (qAlpha(small.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        dib.append(row);
    }

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    iconPicture(48).save(&buffer, "PNG");

    QByteArray ico;
    put16(ico, 0);
    put16(ico, 1);
    put16(ico, 2);
    const quint32 first = 6 + 2 * 16;
    const struct { int size; const QByteArray *data; quint32 offset; } entries[] = {
        {16, &dib, first}, {48, &png, first + quint32(dib.size())}};
    for (const auto &e : entries) {
        ico.append(char(e.size)).append(char(e.size)).append(char(0)).append(char(0));
        put16(ico, 1);
        put16(ico, 32);
        put32(ico, quint32(e.data->size()));
        put32(ico, e.offset);
    }
    ico.append(dib).append(png);
    return ico;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamsel-make-samples <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    const QImage big = landscape(6000, 4000);
    const QImage medium = big.scaled(1600, 1067, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage small = big.scaled(640, 427, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage tiny = landscape(320, 213);

    bool ok = writeJpeg(big, out.filePath("01-landscape-6000x4000.jpg"), 85, false, false);
    ok = writeJpeg(medium, out.filePath("02-progressive-1600x1067.jpg"), 85, true, false) && ok;
    ok = writeJpeg(medium, out.filePath("03-grayscale-1600x1067.jpg"), 85, false, true) && ok;
    ok = writeBytes(out.filePath("04-palette-8bit.bmp"), bmpFile(small, true)) && ok;
    ok = writeBytes(out.filePath("05-truecolour-24bit.bmp"), bmpFile(tiny, false)) && ok;
    ok = writeBytes(out.filePath("06-icon.ico"), icoFile()) && ok;
    if (!ok) {
        std::fprintf(stderr, "could not write the samples into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
