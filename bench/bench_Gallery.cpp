// What a gallery costs per photo, over the 24-megapixel photos: an update
// run into an empty folder (thumbnail fitted into 120 x 120 at quality 70,
// photo resized into 800 x 600 at quality 80), on one thread and on two,
// beside its floor: libjpeg-turbo alone, through plain libjpeg calls,
// decoding each file at 1/8 and at 1/4 (the scales the gallery decodes at)
// and encoding two progressive JPEGs of the gallery's output sizes.
//
// The gallery dialog's runs (its own host: the progress dialog, kept alive
// while photos are made on other threads) are timed the same way.
//
// The summary at the end gives the best time per photo of each, the
// gallery's share over the floor and the speed-up of two jobs.

// Local
#include "DialogPublishHost.h"
#include "ImageResize.h"
#include "PublishUtils.h"

// Qt
#include <QDir>
#include <QApplication>
#include <QTemporaryDir>

// Std
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

namespace {

// CPU time of the whole process, all threads: on a busy machine it tells
// more about the work done than the wall clock does.
double ProcessCpuSeconds()
{
    timespec t = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void SetPerPhotoCounters(benchmark::State &state, qsizetype photos, double cpuSeconds)
{
    const double count = double(state.iterations()) * double(photos);
    state.counters["s/photo"] = benchmark::Counter(count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["cpu_s/photo"] = cpuSeconds / count;
}

QStringList Photos()
{
    const QDir folder(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    QStringList photos;
    for (const QString &name : folder.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        photos << folder.filePath(name);
    return photos;
}

class BenchHost : public PublishHost
{
public:
    QString failure;
    void Information(const QString &text) override { failure = text; }
    bool Confirm(const QString &) override { return true; }
    std::unique_ptr<TPublishProgress> StartProgress(const QString &, const QString &) override { return nullptr; }
    void OpenDocument(const QString &) override {}
    QString SchemesFolder() const override { return {}; }
};

// The dialog's host, without opening the finished gallery in a browser.
class DialogBenchHost : public DialogPublishHost
{
public:
    DialogBenchHost() : DialogPublishHost(nullptr) {}
    QString failure;
    void Information(const QString &text) override { failure = text; }
    void OpenDocument(const QString &) override {}
};

void BM_Gallery(benchmark::State &state)
{
    const int jobs = int(state.range(0));
    const bool dialog = state.range(1) != 0;
    TGallerySettings settings;
    settings.Photos = Photos();
    if (settings.Photos.isEmpty()) {
        state.SkipWithError("no photos in " TAMSEL_SHARED_DIR "/photos/24mp");
        return;
    }
    settings.ResizePhotos = true;   // the rest are the defaults: 120 x 120 q70, 800 x 600 q80
    QTemporaryDir temp;
    BenchHost engineHost;
    DialogBenchHost dialogHost;
    PublishHost &host = dialog ? static_cast<PublishHost &>(dialogHost) : engineHost;
    int run = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        settings.DestFolder = temp.filePath(QStringLiteral("web%1").arg(run++));
        QDir().mkpath(settings.DestFolder);
        state.ResumeTiming();
        const double start = ProcessCpuSeconds();
        PublishGallery(settings, pmUpdate, host, jobs);
        cpu += ProcessCpuSeconds() - start;
        state.PauseTiming();
        QDir(settings.DestFolder).removeRecursively();
        state.ResumeTiming();
    }
    const QString failure = dialog ? dialogHost.failure : engineHost.failure;
    if (!failure.isEmpty())
        state.SkipWithError(qPrintable(failure));
    SetPerPhotoCounters(state, settings.Photos.size(), cpu);
}

// Reads the whole file and decodes it at 1/denom into rows of RGB.
std::vector<JSAMPLE> DecodeScaled(const char *fileName, int denom, int &width, int &height)
{
    FILE *file = fopen(fileName, "rb");
    if (!file)
        return {};
    std::vector<unsigned char> data;
    unsigned char chunk[1 << 16];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    fclose(file);

    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = unsigned(denom);
    jpeg_start_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    const size_t stride = size_t(width) * info.output_components;
    std::vector<JSAMPLE> pixels(stride * height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

// Encodes width x height pixels picked from the decoded picture as a
// progressive JPEG in memory; returns its size.
unsigned long EncodeProgressive(const std::vector<JSAMPLE> &pixels, int srcWidth, int srcHeight, int width,
                                int height, int quality)
{
    std::vector<JSAMPLE> picked(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const JSAMPLE *srcRow = pixels.data() + size_t(y) * srcHeight / height * srcWidth * 3;
        for (int x = 0; x < width; ++x)
            std::copy_n(srcRow + size_t(x) * srcWidth / width * 3, 3, picked.data() + (size_t(y) * width + x) * 3);
    }
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = picked.data() + size_t(info.next_scanline) * width * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    free(buffer);
    return size;
}

void BM_Floor(benchmark::State &state)
{
    std::vector<QByteArray> photos;
    for (const QString &photo : Photos())
        photos.push_back(QFile::encodeName(photo));
    if (photos.empty()) {
        state.SkipWithError("no photos in " TAMSEL_SHARED_DIR "/photos/24mp");
        return;
    }
    const double start = ProcessCpuSeconds();
    for (auto _ : state) {
        for (const QByteArray &photo : photos) {
            int width = 0;
            int height = 0;
            std::vector<JSAMPLE> eighth = DecodeScaled(photo.constData(), 8, width, height);
            QSize thumb = FitSize(width, height, 120, 120);
            benchmark::DoNotOptimize(EncodeProgressive(eighth, width, height, thumb.width(), thumb.height(), 70));
            std::vector<JSAMPLE> quarter = DecodeScaled(photo.constData(), 4, width, height);
            QSize resized = FitSize(width, height, 800, 600);
            benchmark::DoNotOptimize(EncodeProgressive(quarter, width, height, resized.width(), resized.height(), 80));
        }
    }
    SetPerPhotoCounters(state, qsizetype(photos.size()), ProcessCpuSeconds() - start);
}

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(3);
BENCHMARK(BM_Gallery)->ArgNames({"jobs", "dialog"})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(3);

// Keeps the best (least disturbed) time per photo of every benchmark.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> best;      // "name counter" -> seconds

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            for (const char *counter : {"s/photo", "cpu_s/photo"}) {
                const auto it = run.counters.find(counter);
                if (it == run.counters.end())
                    continue;
                const std::string key = run.run_name.str() + ' ' + counter;
                if (!best.count(key) || it->second.value < best[key])
                    best[key] = it->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto find = [&](const char *name, const char *counter) {
        const auto it = reporter.best.find(std::string(name) + ' ' + counter);
        return it == reporter.best.end() ? 0.0 : it->second;
    };
    const char floorName[] = "BM_Floor/iterations:2/repeats:3/real_time";
    const auto gallery = [](int jobs, bool dialog) {
        return "BM_Gallery/jobs:" + std::to_string(jobs) + "/dialog:" + (dialog ? "1" : "0")
               + "/iterations:2/repeats:3/real_time";
    };
    for (const char *counter : {"s/photo", "cpu_s/photo"}) {
        const bool wall = counter[0] == 's';
        for (const bool dialog : {false, true}) {
            const double floor = find(floorName, counter);
            const double one = find(gallery(1, dialog).c_str(), counter);
            const double two = find(gallery(2, dialog).c_str(), counter);
            if (floor <= 0 || one <= 0 || two <= 0)
                continue;
            const char *who = dialog ? "gallery dialog" : "gallery";
            std::printf("\nBest %s per photo: floor %.1f ms, %s %.1f ms (one job), %.1f ms (two jobs)\n",
                        wall ? "wall time" : "process CPU time", floor * 1e3, who, one * 1e3, two * 1e3);
            std::printf("  %s on one thread: %.3f x the floor (target at most 1.15)\n", who, one / floor);
            if (wall)
                std::printf("  two jobs: %.2f x the one-job throughput (target at least 1.8 on two idle cores)\n",
                            one / two);
            else
                std::printf("  two jobs: %.3f x the CPU time of one job\n", two / one);
        }
    }
    return 0;
}
