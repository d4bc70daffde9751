// The viewer's load of a 24-megapixel photo for a 1920 x 1080 window (box
// 1914 x 1074) against libjpeg alone decoding the same file at the same
// scale (1/2) into a buffer. Both read the file the same way. The two run
// alternately in each iteration so that the machine's drift hits both; the
// summary gives per photo the medians and their ratio, and the median ratio
// over the photos (target: at most 1.15).

// Local
#include "AppError.h"
#include "PictureLoader.h"

// Qt
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

// Std
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

// libjpeg
#include <jpeglib.h>

#include <benchmark/benchmark.h>

namespace {

constexpr int kBoxWidth = 1914;
constexpr int kBoxHeight = 1074;
constexpr double kTarget = 1.15;

struct Result
{
    double readPictureMs = 0;
    double decodeMs = 0;
};

std::map<QString, Result> gResults;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Plain libjpeg: read the file, decode at 1/2 to BGR with the accurate
// IDCT, rows straight into one buffer.
size_t DecodeAlone(const QString &path)
{
    const QByteArray data = ReadPictureFile(path);
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 2;
    info.out_color_space = JCS_EXT_BGR;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    const size_t stride = (size_t(info.output_width) * 3 + 3) & ~size_t(3);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[stride * info.output_height]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[4];
        const int n = std::min<int>(std::clamp(info.rec_outbuf_height, 1, 4), int(info.output_height - info.output_scanline));
        for (int i = 0; i < n; ++i)
            rows[i] = buffer.get() + stride * (info.output_scanline + i);
        jpeg_read_scanlines(&info, rows, JDIMENSION(n));
    }
    const size_t height = info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(buffer.get());
    return height;
}

void ReadForViewer(const QString &path)
{
    QImage bitmap;
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(path, bitmap, kBoxWidth, kBoxHeight, width, height, scale);
    benchmark::DoNotOptimize(bitmap.constBits());
}

void BM_ReadPictureVsDecode(benchmark::State &state, const QString &path)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> readPicture;
    std::vector<double> decode;
    bool readFirst = true;
    for (auto _ : state) {
        double times[2];
        for (int k = 0; k < 2; ++k) {
            const bool doRead = (k == 0) == readFirst;
            const auto start = Clock::now();
            if (doRead)
                ReadForViewer(path);
            else
                DecodeAlone(path);
            times[doRead ? 0 : 1] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        readPicture.push_back(times[0]);
        decode.push_back(times[1]);
        readFirst = !readFirst;
    }
    Result &r = gResults[QFileInfo(path).fileName()];
    r.readPictureMs = Median(readPicture);
    r.decodeMs = Median(decode);
    state.counters["ReadPicture_ms"] = r.readPictureMs;
    state.counters["decode_ms"] = r.decodeMs;
    state.counters["ratio"] = r.decodeMs > 0 ? r.readPictureMs / r.decodeMs : 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    const QDir photos(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    const QStringList names = photos.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        std::fprintf(stderr, "No photos in %s\n", qPrintable(photos.path()));
        return 1;
    }
    for (const QString &name : names) {
        const QString path = photos.filePath(name);
        benchmark::RegisterBenchmark(("ReadPicture_vs_decode/" + name).toUtf8().constData(),
                                     [path](benchmark::State &state) { BM_ReadPictureVsDecode(state, path); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(21);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (gResults.empty())
        return 0;
    std::printf("\n%-32s %14s %12s %8s\n", "photo (box 1914x1074)", "ReadPicture ms", "decode ms", "ratio");
    std::vector<double> ratios;
    for (const auto &[name, r] : gResults) {
        const double ratio = r.readPictureMs / r.decodeMs;
        ratios.push_back(ratio);
        std::printf("%-32s %14.2f %12.2f %8.3f\n", qPrintable(name), r.readPictureMs, r.decodeMs, ratio);
    }
    const double median = Median(ratios);
    std::printf("median ratio %.3f (target at most %.2f): %s\n", median, kTarget, median <= kTarget ? "met" : "NOT MET");
    return 0;
}
