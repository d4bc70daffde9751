// Repainting a zoomed 24-megapixel photo in a 1600 x 1000 picture area, as
// the viewer does on each pan step and zoom step: the full-size picture is
// read once (not timed), then each iteration moves or zooms the view and
// paints it at once (QWidget::render, the widget's own paintEvent). Target: every case within 16 ms, one
// frame at 60 Hz. The paint goes into an image of the area's size, as the
// window's backing store receives it.

// Local
#include "PicList.h"

// Qt
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>

// Std
#include <cstdio>
#include <cstdlib>

#include <benchmark/benchmark.h>

namespace {

void Paint(TPicList &area)
{
    static QImage canvas(area.size(), QImage::Format_RGB32);
    area.render(&canvas);
    benchmark::DoNotOptimize(canvas.constBits());
}

QString FirstPhoto()
{
    const QDir dir(QStringLiteral(TAMSEL_SHARED_DIR "/photos/24mp"));
    const QStringList photos = dir.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    return photos.isEmpty() ? QString() : dir.filePath(photos.first());
}

// One picture area over the first photo, zoomed to the wanted step.
TPicList &Area()
{
    static TPicList *area = [] {
        auto *list = new TPicList;
        list->resize(1600, 1000);
        list->show();
        const QString photo = FirstPhoto();
        list->OpenFolder(QFileInfo(photo).absolutePath(), photo);
        QApplication::processEvents();
        list->ActualSize();
        if (!list->IsZoomed()) {
            fprintf(stderr, "the photo could not be shown zoomed\n");
            std::exit(1);
        }
        return list;
    }();
    return *area;
}

void Zoom(TPicList &area, double factor)
{
    area.FitToArea();
    while (area.ZoomFactor() < factor * 0.999)
        area.ZoomIn();
}

// Pans to and fro across the photo at a zoom, painting each step.
void BM_Pan(benchmark::State &state)
{
    TPicList &area = Area();
    Zoom(area, double(state.range(0)) / 100);
    int direction = 1;
    for (auto _ : state) {
        const QPointF before = area.ViewCentre();
        area.Pan({200.0 * direction, 120.0 * direction});
        if (area.ViewCentre() == before)
            direction = -direction;
        Paint(area);
    }
    state.SetLabel(QStringLiteral("zoom %1%").arg(state.range(0)).toStdString());
}

// A zoom step in and back out around the area's centre, painting each.
void BM_ZoomStep(benchmark::State &state)
{
    TPicList &area = Area();
    Zoom(area, double(state.range(0)) / 100);
    for (auto _ : state) {
        area.ZoomIn();
        Paint(area);
        area.ZoomOut();
        Paint(area);
    }
    state.SetLabel(QStringLiteral("%1% and the next step, two paints an iteration").arg(state.range(0)).toStdString());
}

} // namespace

BENCHMARK(BM_Pan)->Arg(33)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomStep)->Arg(33)->Arg(100)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (FirstPhoto().isEmpty()) {
        fprintf(stderr, "no photos in %s/photos/24mp\n", TAMSEL_SHARED_DIR);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
