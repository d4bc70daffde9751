// The viewer's load of a 24-megapixel photo for a 1920 x 1080 window (box
// 1914 x 1074), as stored and with a wide-gamut colour profile (Adobe RGB's
// primaries) spliced in, so that its display is converted to sRGB. The two
// run alternately in each iteration; the summary gives the median ratio
// tagged / untagged over the photos (target: at most 1.15).

// Local
#include "PictureLoader.h"

// Qt
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// Std
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "TestProfiles.h"

#include <benchmark/benchmark.h>

namespace {

std::vector<double> gRatios;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double LoadMs(const QString &path)
{
    const auto start = std::chrono::steady_clock::now();
    QImage bitmap;
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(path, bitmap, 1914, 1074, width, height, scale);
    benchmark::DoNotOptimize(bitmap.constBits());
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_TaggedVsUntagged(benchmark::State &state, const QString &plain, const QString &tagged)
{
    std::vector<double> plainMs;
    std::vector<double> taggedMs;
    bool plainFirst = true;
    for (auto _ : state) {
        if (plainFirst) {
            plainMs.push_back(LoadMs(plain));
            taggedMs.push_back(LoadMs(tagged));
        } else {
            taggedMs.push_back(LoadMs(tagged));
            plainMs.push_back(LoadMs(plain));
        }
        plainFirst = !plainFirst;
    }
    const double ratio = Median(taggedMs) / Median(plainMs);
    state.counters["untagged_ms"] = Median(plainMs);
    state.counters["tagged_ms"] = Median(taggedMs);
    state.counters["ratio"] = ratio;
    gRatios.push_back(ratio);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QTemporaryDir temp;
    const QByteArray profile = RgbProfile();
    const QByteArray chunk = QByteArray("ICC_PROFILE\0\x01\x01", 14) + profile;
    const QByteArray segment = QByteArray("\xFF\xE2", 2) + char((chunk.size() + 2) >> 8)
                               + char((chunk.size() + 2) & 0xFF) + chunk;
    const QDir photos(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    for (const QFileInfo &info : photos.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        QFile in(info.filePath());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = in.readAll();
        const QString tagged = temp.filePath(info.fileName());
        QFile out(tagged);
        if (!out.open(QIODevice::WriteOnly) || out.write(data.left(2) + segment + data.mid(2)) < 0)
            continue;
        out.close();
        benchmark::RegisterBenchmark(("TaggedVsUntagged/" + info.fileName()).toUtf8().constData(),
                                     BM_TaggedVsUntagged, info.filePath(), tagged)
            ->Iterations(11)
            ->Unit(benchmark::kMillisecond);
    }
    if (photos.entryList({QStringLiteral("*.jpg")}).isEmpty()) {
        std::fprintf(stderr, "No photos in %s\n", qPrintable(photos.path()));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    std::printf("median ratio tagged / untagged over %zu photos: %.3f (target <= 1.15)\n", gRatios.size(),
                Median(gRatios));
    return 0;
}
