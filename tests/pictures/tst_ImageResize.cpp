// Local
#include "AppError.h"
#include "ImageResize.h"

// Qt
#include <QRandomGenerator>
#include <QTest>

// Std
#include <cmath>
#include <vector>

// The plain versions below must sum as the scalers do: no fused multiply-add
// (which some processors have and compilers would otherwise use).
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

QImage RandomBitmap(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_BGR888);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < 3 * width; ++x)
            row[x] = uchar(random.bounded(256));
    }
    return image;
}

QImage FilledBitmap(int width, int height, uchar value)
{
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        memset(image.scanLine(y), value, size_t(width) * 3);
    return image;
}

int Byte(const QImage &image, int x, int y, int channel)
{
    return image.constScanLine(y)[3 * x + channel];
}

// The bilinear scaler written out plainly, one pixel and one byte at a time.
int ReferenceBlend(int p, int q, int w)
{
    if (w == 0)
        return q;
    if (w == 255)
        return p;
    return p * w / 256 + q * (255 - w) / 256;
}

QImage ReferenceBilinear(const QImage &src, int dw, int dh)
{
    const int sw = src.width();
    const int sh = src.height();
    QImage dst(dw, dh, QImage::Format_BGR888);
    const qint64 xstep = qint64(sw - 1) * 65536 / dw;
    const qint64 ystep = qint64(sh - 1) * 65536 / dh;
    qint64 py = 0;
    for (int y = 0; y < dh; ++y, py += ystep) {
        const int a = int(py / 65536);
        const int b = a + 1 < sh ? a + 1 : a;
        const int wy = 255 - int((py / 256) % 256);
        qint64 px = 0;
        for (int x = 0; x < dw; ++x, px += xstep) {
            const int c = int(px / 65536);
            const int d = c + 1 < sw ? c + 1 : c;
            const int wx = 255 - int((px / 256) % 256);
            for (int k = 0; k < 3; ++k) {
                const int t1 = ReferenceBlend(Byte(src, c, a, k), Byte(src, c, b, k), wy);
                const int t2 = ReferenceBlend(Byte(src, d, a, k), Byte(src, d, b, k), wy);
                dst.scanLine(y)[3 * x + k] = uchar(ReferenceBlend(t1, t2, wx));
            }
        }
    }
    return dst;
}

// The filter resampler written out plainly: a list of (index, weight) per
// destination position, a byte working bitmap, float sums in list order.
float Sinc(float x)
{
    if (x == 0)
        return 1;
    const float y = float(x * 3.14159265358979323846);
    return float(std::sin(double(y)) / double(y));
}

float Kernel(int kernel, float x)
{
    const double t = std::fabs(x);
    switch (kernel) {
    case kLanczos3:
        return t < 3 ? float(double(Sinc(float(t))) * double(Sinc(float(t) / 3))) : 0.0f;
    case kHermite:
        return t < 1 ? float((2 * t - 3) * t * t + 1) : 0.0f;
    default:
        if (t < 1)
            return float(0.5 * t * t * t - t * t + 2.0 / 3.0);
        return t < 2 ? float((2 - t) * (2 - t) * (2 - t) / 6) : 0.0f;
    }
}

float Support(int kernel)
{
    return kernel == kLanczos3 ? 3.0f : kernel == kHermite ? 1.0f : 2.0f;
}

struct Contributor
{
    int index;
    float weight;
};

int Reflect(int j, int size)
{
    while (j < 0 || j >= size)
        j = j < 0 ? -j : 2 * size - 1 - j;
    return j;
}

std::vector<std::vector<Contributor>> ReferenceContributors(int srcSize, int dstSize, int kernel)
{
    const float scale = srcSize == 1 ? float(dstSize) / float(srcSize) : float(dstSize - 1) / float(srcSize - 1);
    float width = Support(kernel);
    float fscale = 1;
    if (scale < 1) {
        width = Support(kernel) / scale;
        fscale = 1 / scale;
    }
    std::vector<std::vector<Contributor>> lists(dstSize);
    for (int i = 0; i < dstSize; ++i) {
        const float center = float(i) / scale;
        const int left = int(std::floor(center - width));
        const int right = int(std::ceil(center + width));
        for (int j = left; j <= right; ++j) {
            const float weight = Kernel(kernel, (center - float(j)) / fscale) / fscale;
            if (weight != 0)
                lists[i].push_back({Reflect(j, srcSize), weight});
        }
    }
    return lists;
}

uchar ClampByte(float v)
{
    if (v < 0)
        return 0;
    if (v >= 255)
        return 255;
    return uchar(int(v));
}

QImage ReferenceFilter(const QImage &src, int dw, int dh, int kernel)
{
    const int sh = src.height();
    const auto columns = ReferenceContributors(src.width(), dw, kernel);
    const auto rows = ReferenceContributors(sh, dh, kernel);
    QImage work(dw, sh, QImage::Format_BGR888);
    for (int k = 0; k < sh; ++k)
        for (int i = 0; i < dw; ++i)
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (const Contributor &t : columns[i])
                    sum = sum + t.weight * float(Byte(src, t.index, k, c));
                work.scanLine(k)[3 * i + c] = ClampByte(sum);
            }
    QImage dst(dw, dh, QImage::Format_BGR888);
    for (int i = 0; i < dw; ++i)
        for (int r = 0; r < dh; ++r)
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (const Contributor &t : rows[r])
                    sum = sum + t.weight * float(Byte(work, i, t.index, c));
                dst.scanLine(r)[3 * i + c] = ClampByte(sum);
            }
    return dst;
}

// Every path of the scalers this build has on this processor, slowest first.
QList<TResizePath> Paths()
{
    QList<TResizePath> paths;
    for (int path = rpPortable; path <= FastestResizePath(); ++path)
        paths << TResizePath(path);
    return paths;
}

QString PathName(TResizePath path)
{
    return path == rpAvx2 ? QStringLiteral("AVX2") : path == rpSse2 ? QStringLiteral("SSE2") : QStringLiteral("portable");
}

// Runs the scaler under test on one path, then restores the limit.
template<typename Scale>
void OnPath(TResizePath path, Scale scale)
{
    const TResizePath previous = SetResizePathLimit(path);
    scale();
    SetResizePathLimit(previous);
}

// Names the first differing byte, so a failure says where.
QString FirstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width()).arg(actual.height()).arg(expected.width()).arg(expected.height());
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < 3 * actual.width(); ++x)
            if (actual.constScanLine(y)[x] != expected.constScanLine(y)[x])
                return QStringLiteral("pixel (%1, %2) byte %3: %4, expected %5")
                    .arg(x / 3).arg(y).arg(x % 3)
                    .arg(actual.constScanLine(y)[x]).arg(expected.constScanLine(y)[x]);
    return QString();
}

} // namespace

class tst_ImageResize : public QObject
{
    Q_OBJECT

private slots:
    void bilinearWorkedExamples_data();
    void bilinearWorkedExamples();
    void bilinearMatchesReference_data();
    void bilinearMatchesReference();
    void bilinearRowScalerMatches_data();
    void bilinearRowScalerMatches();
    void bilinearEmptyDestinationIsUntouched();
    void filterMatchesReference_data();
    void filterMatchesReference();
    void filterReflectsAtEdges_data();
    void filterReflectsAtEdges();
    void filterClampsOvershoot();
    void filterTruncates();
    void filterEdgeSizes_data();
    void filterEdgeSizes();
    void filterEmptySourceLeavesDestination();
    void filterUnknownKernelFails();
    void buildHasTheVectorPaths();
    void fitSize_data();
    void fitSize();
};

void tst_ImageResize::bilinearWorkedExamples_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("c");   // source column and row the pixel starts at
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("wx");
    QTest::addColumn<int>("wy");

    // 4x4 -> 2x2: steps of 1.5; (1, 1) samples (1.5, 1.5).
    QTest::newRow("4x4 (0,0) exact") << 4 << 4 << 2 << 2 << 0 << 0 << 0 << 0 << 255 << 255;
    QTest::newRow("4x4 (1,1) halves") << 4 << 4 << 2 << 2 << 1 << 1 << 1 << 1 << 127 << 127;
    QTest::newRow("4x4 (1,0)") << 4 << 4 << 2 << 2 << 1 << 0 << 1 << 0 << 127 << 255;
    // 10x10 -> 3x3: steps of exactly 3 copy source columns/rows 0, 3, 6.
    QTest::newRow("10x10 (1,2)") << 10 << 10 << 3 << 3 << 1 << 2 << 3 << 6 << 255 << 255;
    QTest::newRow("10x10 (2,2)") << 10 << 10 << 3 << 3 << 2 << 2 << 6 << 6 << 255 << 255;
}

void tst_ImageResize::bilinearWorkedExamples()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, dw);
    QFETCH(int, dh);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, c);
    QFETCH(int, a);
    QFETCH(int, wx);
    QFETCH(int, wy);

    const QImage src = RandomBitmap(sw, sh, 7);
    QImage dst(dw, dh, QImage::Format_BGR888);
    BilinearResize(src, dst);
    for (int k = 0; k < 3; ++k) {
        // Written out with the blend's own rule: each product divided
        // separately, exact at weight 255.
        const auto blend = [](int p, int q, int w) { return w == 255 ? p : p * w / 256 + q * (255 - w) / 256; };
        const int t1 = blend(Byte(src, c, a, k), Byte(src, c, a + 1, k), wy);
        const int t2 = blend(Byte(src, c + 1, a, k), Byte(src, c + 1, a + 1, k), wy);
        QCOMPARE(Byte(dst, x, y, k), blend(t1, t2, wx));
    }

    // All white: 255 on a source pixel, 253 with one fraction, 251 or 252
    // with two.
    const QImage white = FilledBitmap(sw, sh, 255);
    BilinearResize(white, dst);
    const int fractions = (wx != 255) + (wy != 255);
    const int value = Byte(dst, x, y, 0);
    if (fractions == 0)
        QCOMPARE(value, 255);
    else if (fractions == 1)
        QCOMPARE(value, 253);
    else
        QVERIFY2(value == 251 || value == 252, qPrintable(QString::number(value)));
}

void tst_ImageResize::bilinearMatchesReference_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");

    QTest::newRow("shrink 1.86") << 300 << 200 << 161 << 107;
    QTest::newRow("shrink 8") << 400 << 80 << 50 << 10;
    QTest::newRow("enlarge") << 17 << 9 << 70 << 33;
    QTest::newRow("same size") << 33 << 21 << 33 << 21;
    QTest::newRow("one column source") << 1 << 40 << 7 << 13;
    QTest::newRow("one row source") << 40 << 1 << 13 << 7;
    QTest::newRow("one pixel source") << 1 << 1 << 5 << 4;
    QTest::newRow("to one pixel") << 50 << 40 << 1 << 1;
    QTest::newRow("two columns") << 2 << 5 << 9 << 3;
    QTest::newRow("three columns") << 3 << 3 << 2 << 2;
    QTest::newRow("width multiple of 4") << 64 << 16 << 40 << 10;
    QRandomGenerator random(42);
    for (int i = 0; i < 40; ++i) {
        const int sw = 1 + random.bounded(120);
        const int sh = 1 + random.bounded(60);
        QTest::newRow(qPrintable(QStringLiteral("random %1").arg(i)))
            << sw << sh << 1 + random.bounded(150) << 1 + random.bounded(80);
    }
}

void tst_ImageResize::bilinearMatchesReference()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, dw);
    QFETCH(int, dh);
    const QImage src = RandomBitmap(sw, sh, quint32(sw * 1000 + sh));
    const QImage expected = ReferenceBilinear(src, dw, dh);
    for (const TResizePath path : Paths()) {
        QImage dst(dw, dh, QImage::Format_BGR888);
        dst.fill(Qt::black);
        OnPath(path, [&] { BilinearResize(src, dst); });
        const QString difference = FirstDifference(dst, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(PathName(path) + ": " + difference));
    }
}

void tst_ImageResize::bilinearRowScalerMatches_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");
    QTest::addColumn<int>("batch");

    QTest::newRow("shrink, one row at a time") << 300 << 200 << 161 << 107 << 1;
    QTest::newRow("shrink, four rows") << 301 << 199 << 160 << 100 << 4;
    QTest::newRow("enlarge, two rows") << 20 << 10 << 45 << 31 << 2;
    QTest::newRow("one row") << 30 << 1 << 10 << 3 << 4;
    QTest::newRow("to one row") << 30 << 17 << 10 << 1 << 3;
}

void tst_ImageResize::bilinearRowScalerMatches()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, dw);
    QFETCH(int, dh);
    QFETCH(int, batch);
    const QImage src = RandomBitmap(sw, sh, 99);
    const QImage expected = ReferenceBilinear(src, dw, dh);

    for (const TResizePath path : Paths()) {
        QImage streamed(dw, dh, QImage::Format_BGR888);
        streamed.fill(Qt::black);
        OnPath(path, [&] {
            BilinearRowScaler scaler(sw, sh, streamed);
            for (int y = 0; y < sh; y += batch) {
                const int n = std::min(batch, sh - y);
                for (int i = 0; i < n; ++i)
                    memcpy(scaler.RowBuffer(y + i), src.constScanLine(y + i), size_t(sw) * 3);
                scaler.RowsDone(y, n);
            }
        });
        const QString difference = FirstDifference(streamed, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(PathName(path) + ": " + difference));
    }
}

void tst_ImageResize::bilinearEmptyDestinationIsUntouched()
{
    const QImage src = RandomBitmap(10, 10, 1);
    QImage noWidth(0, 5, QImage::Format_BGR888);
    BilinearResize(src, noWidth);
    QVERIFY(noWidth.isNull());

    QImage dst = FilledBitmap(4, 4, 77);
    BilinearResize(QImage(), dst);
    QCOMPARE(Byte(dst, 3, 3, 2), 77);
}

void tst_ImageResize::filterMatchesReference_data()
{
    QTest::addColumn<int>("kernel");
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");

    for (const int kernel : {int(kLanczos3), int(kHermite), int(kBSpline)}) {
        const QString k = QStringLiteral("kernel %1 ").arg(kernel);
        QTest::newRow(qPrintable(k + "gallery photo shape")) << kernel << 150 << 100 << 80 << 53;
        QTest::newRow(qPrintable(k + "thumbnail shape")) << kernel << 75 << 50 << 12 << 8;
        QTest::newRow(qPrintable(k + "same size")) << kernel << 31 << 17 << 31 << 17;
        QTest::newRow(qPrintable(k + "enlarge")) << kernel << 9 << 7 << 23 << 19;
        QTest::newRow(qPrintable(k + "narrower than the reach")) << kernel << 3 << 40 << 2 << 9;
        QTest::newRow(qPrintable(k + "one column source")) << kernel << 1 << 12 << 5 << 6;
        QTest::newRow(qPrintable(k + "one row source")) << kernel << 12 << 1 << 6 << 5;
        QTest::newRow(qPrintable(k + "one pixel source")) << kernel << 1 << 1 << 3 << 2;
        QTest::newRow(qPrintable(k + "two columns out")) << kernel << 40 << 30 << 2 << 2;
    }
    QRandomGenerator random(4242);
    for (int i = 0; i < 30; ++i) {
        QTest::newRow(qPrintable(QStringLiteral("random %1").arg(i)))
            << int(random.bounded(3)) << 1 + random.bounded(90) << 1 + random.bounded(50)
            << 2 + random.bounded(100) << 2 + random.bounded(50);
    }
}

void tst_ImageResize::filterMatchesReference()
{
    QFETCH(int, kernel);
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, dw);
    QFETCH(int, dh);
    const QImage src = RandomBitmap(sw, sh, quint32(sw * 77 + sh + kernel));
    const QImage expected = ReferenceFilter(src, dw, dh, kernel);
    for (const TResizePath path : Paths()) {
        QImage dst(dw, dh, QImage::Format_BGR888);
        OnPath(path, [&] { FilterResize(src, dst, std::uint8_t(kernel)); });
        const QString difference = FirstDifference(dst, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(PathName(path) + ": " + difference));
    }
}

void tst_ImageResize::filterReflectsAtEdges_data()
{
    QTest::addColumn<int>("lit");        // the one bright source pixel of a 5-pixel row
    QTest::addColumn<int>("column");     // destination column (of 3) looked at
    QTest::addColumn<int>("expected");

    // B-spline, 5 -> 3 pixels: column 0 centres on source 0 and reads -3..3,
    // column 2 centres on source 4 and reads 1..7 (weights 1/3, 0.2396,
    // 1/12, 1/96 at distances 0..3). A wrong reflection reads other pixels.
    QTest::newRow("-1 reads 1") << 1 << 0 << 115;          // 2 x 0.2396 x 240
    QTest::newRow("-2 reads 2") << 2 << 0 << 40;           // 2 x 1/12 x 240
    QTest::newRow("sw reads sw-1") << 4 << 2 << 137;       // (1/3 + 0.2396) x 240
    QTest::newRow("sw+1 reads sw-2") << 3 << 2 << 77;      // (0.2396 + 1/12) x 240
}

void tst_ImageResize::filterReflectsAtEdges()
{
    QFETCH(int, lit);
    QFETCH(int, column);
    QFETCH(int, expected);
    QImage src = FilledBitmap(5, 1, 0);
    memset(src.scanLine(0) + 3 * lit, 240, 3);
    QImage dst(3, 1, QImage::Format_BGR888);
    FilterResize(src, dst, kBSpline);
    // Float sums land a hair either side of the exact value; a wrong
    // reflection is far off.
    const int value = Byte(dst, column, 0, 1);
    QVERIFY2(qAbs(value - expected) <= 1, qPrintable(QString::number(value)));
}

void tst_ImageResize::filterClampsOvershoot()
{
    // A hard black-to-white edge rings under Lanczos: below 0 on the dark
    // side, above 255 on the bright side. Both must clamp, not wrap.
    QImage src(20, 4, QImage::Format_BGR888);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 20; ++x)
            memset(src.scanLine(y) + 3 * x, x < 10 ? 0 : 255, 3);
    QImage dst(15, 4, QImage::Format_BGR888);
    FilterResize(src, dst, kLanczos3);

    // Where the ringing falls: the unclamped sums of the plain version.
    const auto columns = ReferenceContributors(20, 15, kLanczos3);
    bool sawUnder = false;
    bool sawOver = false;
    for (int i = 0; i < 15; ++i) {
        float sum = 0;
        for (const Contributor &t : columns[i])
            sum = sum + t.weight * (t.index < 10 ? 0.0f : 255.0f);
        const int value = Byte(dst, i, 1, 0);
        if (sum < 0) {
            sawUnder = true;
            QCOMPARE(value, 0);
        } else if (sum >= 255) {
            sawOver = true;
            QCOMPARE(value, 255);
        }
    }
    QVERIFY(sawUnder);
    QVERIFY(sawOver);
}

void tst_ImageResize::filterTruncates()
{
    // B-spline at the same size: column 0 sums 2/3 x 255 + 1/3 x 254
    // (index -1 reads 1) = 254.67, which is stored as 254, not rounded up.
    QImage src(3, 1, QImage::Format_BGR888);
    const uchar row[9] = {255, 255, 255, 254, 254, 254, 255, 255, 255};
    memcpy(src.scanLine(0), row, 9);
    QImage dst(3, 1, QImage::Format_BGR888);
    FilterResize(src, dst, kBSpline);
    QCOMPARE(Byte(dst, 0, 0, 0), 254);
    QCOMPARE(Byte(dst, 2, 0, 0), 254);
}

void tst_ImageResize::filterEdgeSizes_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");
    QTest::addColumn<QSize>("expectedSize");

    QTest::newRow("to one pixel") << 60 << 40 << 1 << 1 << QSize(1, 1);
    QTest::newRow("to one column") << 60 << 40 << 1 << 20 << QSize(1, 20);
    QTest::newRow("to one row") << 60 << 40 << 30 << 1 << QSize(30, 1);
    // A QImage with a side of 0 has no size at all.
    QTest::newRow("no size becomes one pixel") << 60 << 40 << 0 << 20 << QSize(1, 1);
}

void tst_ImageResize::filterEdgeSizes()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, dw);
    QFETCH(int, dh);
    QFETCH(QSize, expectedSize);
    // A uniform grey stays close to its grey whatever the shape: a one-pixel
    // side is the average of its line. (The weights are not normalised, so
    // each pass may lose a level.)
    const QImage src = FilledBitmap(sw, sh, 100);
    QImage dst(dw, dh, QImage::Format_BGR888);
    FilterResize(src, dst, kLanczos3);
    QCOMPARE(dst.size(), expectedSize);
    QCOMPARE(dst.format(), QImage::Format_BGR888);
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 0; x < dst.width(); ++x)
            QVERIFY2(qAbs(Byte(dst, x, y, 2) - 99) <= 1, qPrintable(QStringLiteral("(%1, %2) = %3").arg(x).arg(y).arg(Byte(dst, x, y, 2))));

    // The average of a ramp: a one-pixel-wide result of 0..59 is about 29.5.
    QImage ramp(sw, sh, QImage::Format_BGR888);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            memset(ramp.scanLine(y) + 3 * x, x, 3);
    QImage column(1, 1, QImage::Format_BGR888);
    FilterResize(ramp, column, kLanczos3);
    QVERIFY(qAbs(Byte(column, 0, 0, 0) - 29) <= 1);
}

void tst_ImageResize::filterEmptySourceLeavesDestination()
{
    QImage dst = FilledBitmap(3, 2, 9);
    FilterResize(QImage(0, 5, QImage::Format_BGR888), dst, kLanczos3);
    FilterResize(QImage(), dst, kLanczos3);
    QCOMPARE(dst.size(), QSize(3, 2));
    QCOMPARE(Byte(dst, 2, 1, 2), 9);
}

void tst_ImageResize::filterUnknownKernelFails()
{
    QImage dst(2, 2, QImage::Format_BGR888);
    QVERIFY_THROWS_EXCEPTION(AppError, FilterResize(FilledBitmap(4, 4, 1), dst, 3));
}

void tst_ImageResize::buildHasTheVectorPaths()
{
    // A wrong architecture check would quietly leave x86 with the slow path
    // alone; a portable build must have nothing else.
#if defined(TAMSEL_PORTABLE_SIMD) || !(defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__)))
    QCOMPARE(FastestResizePath(), rpPortable);
#else
    QVERIFY(FastestResizePath() >= rpSse2);
    QCOMPARE(FastestResizePath() == rpAvx2, __builtin_cpu_supports("avx2") != 0);
#endif
}

void tst_ImageResize::fitSize_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("4000x3000 into 160x120") << QSize(4000, 3000) << QSize(160, 120) << QSize(160, 120);
    QTest::newRow("1/8 decode 125x19 into 100x100") << QSize(125, 19) << QSize(100, 100) << QSize(100, 15);
    QTest::newRow("1000x150 into 100x100") << QSize(1000, 150) << QSize(100, 100) << QSize(100, 15);
    QTest::newRow("300x200 into 100x100") << QSize(300, 200) << QSize(100, 100) << QSize(100, 67);
    QTest::newRow("equal to the box") << QSize(640, 480) << QSize(640, 480) << QSize(640, 480);
    QTest::newRow("never enlarged") << QSize(200, 100) << QSize(640, 480) << QSize(200, 100);
    QTest::newRow("2.5 rounds to 2") << QSize(10, 5) << QSize(5, 100) << QSize(5, 2);
    QTest::newRow("3.5 rounds to 4") << QSize(10, 7) << QSize(5, 100) << QSize(5, 4);
    QTest::newRow("1500x1000 into 800x600") << QSize(1500, 1000) << QSize(800, 600) << QSize(800, 533);
    QTest::newRow("750x500 into 120x120") << QSize(750, 500) << QSize(120, 120) << QSize(120, 80);
    QTest::newRow("thin side keeps a pixel") << QSize(1000, 1) << QSize(100, 100) << QSize(100, 1);
    QTest::newRow("zero box") << QSize(300, 200) << QSize(0, 0) << QSize(1, 1);
    QTest::newRow("negative box side") << QSize(300, 200) << QSize(-5, 100) << QSize(1, 1);
}

void tst_ImageResize::fitSize()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(QSize, expected);
    QCOMPARE(FitSize(picture.width(), picture.height(), box.width(), box.height()), expected);
}



QTEST_GUILESS_MAIN(tst_ImageResize)
#include "tst_ImageResize.moc"
