// The scalers alone, on real photo content: FilterResize with Lanczos-3 as
// the gallery uses it (a 1/4 decode of a 24-megapixel photo to the 800 x 600
// photo box, a 1/8 decode to the 120 x 120 thumbnail box), and the viewer's
// BilinearResize. Rates are in megapixels per second of destination and of
// source. GalleryShare puts the two FilterResize calls of one gallery photo
// beside the rest of its work (the two decodes and the two encodes).
//
// --resize-path=portable|sse2|avx2 caps the scalers' code path, to measure
// the slower ones on a processor that has the faster.

// Local
#include "ImageResize.h"
#include "JpegCodec.h"
#include "PictureLoader.h"

// Qt
#include <QDir>
#include <QGuiApplication>
#include <QImage>

// Std
#include <chrono>
#include <cstdio>
#include <cstring>

#include <benchmark/benchmark.h>

namespace {

QString PhotoPath()
{
    const QDir photos(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    const QStringList names = photos.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString() : photos.filePath(names.first());
}

const JpegDecoder &Photo()
{
    static const JpegDecoder decoder(ReadPictureFile(PhotoPath()));
    return decoder;
}

const QImage &Decoded(int denom)
{
    static const QImage quarter = Photo().Decode(4, false);
    static const QImage eighth = Photo().Decode(8, false);
    static const QImage half = Photo().Decode(2, false);
    return denom == 4 ? quarter : denom == 8 ? eighth : half;
}

void SetRates(benchmark::State &state, const QImage &src, const QImage &dst)
{
    const double iterations = double(state.iterations());
    state.counters["dst_MP/s"] = benchmark::Counter(iterations * dst.width() * dst.height() / 1e6, benchmark::Counter::kIsRate);
    state.counters["src_MP/s"] = benchmark::Counter(iterations * src.width() * src.height() / 1e6, benchmark::Counter::kIsRate);
}

void BM_FilterResize(benchmark::State &state, int denom, int maxWidth, int maxHeight)
{
    const QImage &src = Decoded(denom);
    const QSize size = FitSize(src.width(), src.height(), maxWidth, maxHeight);
    QImage dst(size, QImage::Format_BGR888);
    for (auto _ : state) {
        FilterResize(src, dst, kLanczos3);
        benchmark::DoNotOptimize(dst.constBits());
    }
    state.SetLabel(QStringLiteral("%1x%2 -> %3x%4").arg(src.width()).arg(src.height()).arg(dst.width()).arg(dst.height()).toStdString());
    SetRates(state, src, dst);
}

void BM_BilinearResize(benchmark::State &state)
{
    const QImage &src = Decoded(2);
    const QSize size = FitSize(src.width(), src.height(), 1914, 1074);
    QImage dst(size, QImage::Format_BGR888);
    for (auto _ : state) {
        BilinearResize(src, dst);
        benchmark::DoNotOptimize(dst.constBits());
    }
    state.SetLabel(QStringLiteral("%1x%2 -> %3x%4").arg(src.width()).arg(src.height()).arg(dst.width()).arg(dst.height()).toStdString());
    SetRates(state, src, dst);
}

void BM_GalleryShare(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    double rest = 0;
    double resize = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const QImage eighth = Photo().Decode(8, false);
        const QImage quarter = Photo().Decode(4, false);
        const auto t1 = Clock::now();
        QImage thumb(FitSize(eighth.width(), eighth.height(), 120, 120), QImage::Format_BGR888);
        FilterResize(eighth, thumb, kLanczos3);
        QImage photo(FitSize(quarter.width(), quarter.height(), 800, 600), QImage::Format_BGR888);
        FilterResize(quarter, photo, kLanczos3);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(EncodeJpeg(thumb, 70).size());
        benchmark::DoNotOptimize(EncodeJpeg(photo, 80).size());
        const auto t3 = Clock::now();
        rest += ms(t0, t1) + ms(t2, t3);
        resize += ms(t1, t2);
    }
    const double n = double(state.iterations());
    state.counters["decodes+encodes_ms"] = rest / n;
    state.counters["two_resizes_ms"] = resize / n;
    state.counters["resize_share_%"] = 100 * resize / rest;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--resize-path=portable") == 0)
            SetResizePathLimit(rpPortable);
        else if (std::strcmp(argv[i], "--resize-path=sse2") == 0)
            SetResizePathLimit(rpSse2);
        else if (std::strcmp(argv[i], "--resize-path=avx2") == 0)
            SetResizePathLimit(rpAvx2);
    }
    if (PhotoPath().isEmpty()) {
        std::fprintf(stderr, "No photos in %s/photos/24mp\n", TAMSEL_SHARED_DIR);
        return 1;
    }
    benchmark::RegisterBenchmark("FilterResize/gallery_photo", BM_FilterResize, 4, 800, 600)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FilterResize/thumbnail", BM_FilterResize, 8, 120, 120)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BilinearResize/viewer", BM_BilinearResize)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GalleryShare", BM_GalleryShare)->Unit(benchmark::kMillisecond)->Iterations(20);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
