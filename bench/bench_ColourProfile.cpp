// Colour conversion to sRGB of a 24-megapixel bitmap (6000 x 4000) tagged
// with an Adobe RGB-like profile (Adobe RGB primaries, gamma 2.2), and of the
// 3000 x 2000 bitmap the viewer gets from the 1/2 decode of such a photo.
// For scale: the 1/2 decode of the first 24-megapixel photo itself. The
// summary gives the conversions' medians and their share of that decode.
// An sRGB-tagged bitmap is measured too: it must cost next to nothing (the
// transform is known to change nothing and the bytes are left alone).

// Local
#include "ColourProfile.h"
#include "JpegCodec.h"
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
#include <string>
#include <vector>

// Little CMS
#include <lcms2.h>

#include "TestProfiles.h"

#include <benchmark/benchmark.h>

namespace {


// Smooth gradients with some noise, so that neighbouring pixels differ.
QImage TestBitmap(int width, int height)
{
    QImage image(width, height, QImage::Format_BGR888);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        uchar *p = image.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            p[0] = uchar(x * 255 / width);
            p[1] = uchar(y * 255 / height);
            p[2] = uchar(seed >> 24);
        }
    }
    return image;
}

QString PhotoPath()
{
    const QDir photos(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    const QStringList names = photos.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString() : photos.filePath(names.first());
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::map<std::string, double> gMedians;

template<typename Work>
void Timed(benchmark::State &state, const std::string &name, Work work)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    gMedians[name] = Median(times);
    state.counters["median_ms"] = gMedians[name];
}

void BM_Convert(benchmark::State &state, const std::string &name, int width, int height, const QByteArray &profile)
{
    QImage image = TestBitmap(width, height);
    image.bits();  // detached before timing
    ConvertToSrgb(image, profile);  // the transform is built and cached once
    Timed(state, name, [&] {
        ConvertToSrgb(image, profile);
        benchmark::DoNotOptimize(image.constBits());
    });
    state.counters["Mpixel_per_s"] = benchmark::Counter(double(width) * height * state.iterations() / 1e6,
                                                        benchmark::Counter::kIsRate);
}

void BM_DecodeHalf(benchmark::State &state, const QString &path)
{
    const JpegDecoder decoder(ReadPictureFile(path));
    Timed(state, "decode 1/2", [&] {
        const QImage image = decoder.Decode(2, false);
        benchmark::DoNotOptimize(image.constBits());
    });
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    const QByteArray adobe = RgbProfile();
    const QByteArray srgb = SrgbProfile();
    const struct
    {
        const char *name;
        int width, height;
        QByteArray profile;
    } cases[] = {
        {"Adobe RGB 6000x4000", 6000, 4000, adobe},
        {"Adobe RGB 3000x2000", 3000, 2000, adobe},
        {"sRGB 6000x4000", 6000, 4000, srgb},
    };
    for (const auto &c : cases) {
        const std::string name = c.name;
        benchmark::RegisterBenchmark(("ConvertToSrgb/" + name).c_str(),
                                     [=](benchmark::State &state) { BM_Convert(state, name, c.width, c.height, c.profile); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(15);
    }
    const QString photo = PhotoPath();
    if (!photo.isEmpty())
        benchmark::RegisterBenchmark("Decode/1:2", [=](benchmark::State &state) { BM_DecodeHalf(state, photo); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(15);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto decode = gMedians.find("decode 1/2");
    std::printf("\n%-24s %10s %16s\n", "conversion", "median ms", "share of decode");
    for (const auto &c : cases) {
        const auto it = gMedians.find(c.name);
        if (it == gMedians.end())
            continue;
        if (decode != gMedians.end() && decode->second > 0)
            std::printf("%-24s %10.2f %15.1f%%\n", c.name, it->second, 100 * it->second / decode->second);
        else
            std::printf("%-24s %10.2f %16s\n", c.name, it->second, "-");
    }
    if (decode != gMedians.end())
        std::printf("1/2 decode of %s: %.2f ms\n", qPrintable(QFileInfo(photo).fileName()), decode->second);
    return 0;
}
