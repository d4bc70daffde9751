// Qt
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QtTest>

// Std
#include <cmath>

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "Metafile.h"
#include "MetafileBuilder.h"
#include "TestFiles.h"
#include "TestPaths.h"

using namespace MetafileBuilder;

namespace {

const QString kInvalid = QStringLiteral("Metafile is not valid");

MetafileKind KindOf(const QString &path)
{
    return path.endsWith(QLatin1String(".wmf"), Qt::CaseInsensitive) ? MetafileKind::Wmf : MetafileKind::Emf;
}

// The picture as grey levels on a grid a quarter of the reference's size
// (at least 8 x 8), transparent parts on white.
QVector<double> GreyGrid(const QImage &image, QSize grid)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter p(&flat);
    p.drawImage(0, 0, image);
    p.end();
    const QImage small = flat.scaled(grid, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVector<double> grey;
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            const QRgb c = small.pixel(x, y);
            grey << 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
        }
    }
    return grey;
}

// Normalised cross-correlation of the two grids: 1 for the same picture,
// about 0 for unrelated ones and for a blank one. It looks at where the
// drawing is, not at how dark it is, so font weights, hairline widths and
// the hatches the references leave out cost little.
double Similarity(const QImage &picture, const QImage &reference)
{
    const QSize grid(std::max(8, reference.width() / 4), std::max(8, reference.height() / 4));
    const QVector<double> a = GreyGrid(picture, grid), b = GreyGrid(reference, grid);
    double ma = 0, mb = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= a.size();
    mb /= b.size();
    double ab = 0, aa = 0, bb = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return aa > 1e-9 && bb > 1e-9 ? ab / std::sqrt(aa * bb) : 0;
}

// The picture moved by a quarter of its size: a badly misplaced drawing.
QImage Misplaced(const QImage &image)
{
    QImage moved(image.size(), QImage::Format_RGB32);
    moved.fill(Qt::white);
    QPainter p(&moved);
    p.drawImage(image.width() / 4, image.height() / 4, image);
    return moved;
}

bool AllWhite(const QImage &image)
{
    return Ink(image).isEmpty();
}

// The reference sizes: index.tsv lists source, png, LibreOffice's size,
// its default pixels and the output size.
QHash<QString, QSize> ReferenceSizes()
{
    QHash<QString, QSize> sizes;
    const QList<QByteArray> lines = ReadAll(CorpusDir() + QStringLiteral("/refs/libreoffice/index.tsv")).split('\n');
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() < 5)
            continue;
        const QList<QByteArray> wh = f[4].split('x');
        if (wh.size() == 2)
            sizes.insert(QFileInfo(QString::fromUtf8(f[0])).fileName(), QSize(wh[0].toInt(), wh[1].toInt()));
    }
    return sizes;
}

} // namespace

class tst_Metafile : public QObject
{
    Q_OBJECT

private slots:
    void unusableHeader_data();
    void unusableHeader();
    void canvasSize_data();
    void canvasSize();
    void pictureLargerThanTheLimitIsDrawnSmaller();
    void goodFiles_data();
    void goodFiles();
    void badFiles_data();
    void badFiles();
};

void tst_Metafile::unusableHeader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kind");
    const int wmf = int(MetafileKind::Wmf), emf = int(MetafileKind::Emf);

    QTest::newRow("emf: empty") << QByteArray() << emf;
    QTest::newRow("emf: shorter than its header") << Emf().Finish().left(80) << emf;
    QByteArray signature = Emf().Finish();
    signature[40] = 'X';
    QTest::newRow("emf: wrong signature") << signature << emf;
    QByteArray headerSize = Emf().Finish();
    headerSize[4] = char(0xF0);
    QTest::newRow("emf: header larger than the file") << headerSize << emf;
    QTest::newRow("emf: no device pixels") << Emf(QRect(0, 0, 2541, 2541), QSize(0, 960)).Finish() << emf;
    QTest::newRow("emf: no device millimetres") << Emf(QRect(0, 0, 2541, 2541), QSize(960, 960), QSize(254, 0)).Finish() << emf;
    QTest::newRow("emf: inverted frame") << Emf(QRect(QPoint(1000, 1000), QPoint(0, 0))).Finish() << emf;
    QTest::newRow("emf: empty frame") << Emf(QRect(QPoint(100, 0), QPoint(100, 500))).Finish() << emf;
    QTest::newRow("emf: frame of kilometres") << Emf(QRect(QPoint(0, 0), QPoint(0x7FFFFFFF, 0x7FFFFFFF))).Finish() << emf;
    QTest::newRow("emf: a placeable wmf") << Wmf().Finish() << emf;

    QTest::newRow("wmf: empty") << QByteArray() << wmf;
    QTest::newRow("wmf: placeable header cut") << Wmf().Finish().left(20) << wmf;
    QTest::newRow("wmf: metafile header cut") << Wmf().Finish().left(30) << wmf;
    QTest::newRow("wmf: zero units per inch") << Wmf(96, 96, 0).Finish() << wmf;
    QTest::newRow("wmf: empty box") << Wmf(0, 96).Finish() << wmf;
    QTest::newRow("wmf: box of hundreds of metres") << Wmf(32767, 32767, 1).Finish() << wmf;
    QByteArray type = Wmf().Finish();
    type[22] = 7;
    QTest::newRow("wmf: unknown metafile type") << type << wmf;
    QTest::newRow("wmf: no window extent without placeable header") << Wmf(1, 1, 1, false).MoveTo(1, 1).Finish() << wmf;
    QTest::newRow("wmf: an emf") << Emf().Finish() << wmf;
}

void tst_Metafile::unusableHeader()
{
    QFETCH(QByteArray, file);
    QFETCH(int, kind);
    try {
        RenderMetafile(file, MetafileKind(kind));
        QFAIL("no error");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), kInvalid);
    }
}

void tst_Metafile::canvasSize_data()
{
    QTest::addColumn<QSizeF>("natural");
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("rounded") << QSizeF(110.3, 110.6) << QSize(110, 111);
    QTest::newRow("halves to even") << QSizeF(100.5, 101.5) << QSize(100, 102);
    QTest::newRow("at least a pixel") << QSizeF(0.3, 0.2) << QSize(1, 1);
}

void tst_Metafile::canvasSize()
{
    QFETCH(QSizeF, natural);
    QFETCH(QSize, canvas);
    const QSize size = MetafileCanvasSize(natural);
    QCOMPARE(size, canvas);
    CheckBitmapSize(size.width(), size.height());
}

// A picture whose natural size needs more than the 512 MiB limit at 24 bits
// (12047 x 15591 pixels, about 563 MB) is drawn whole at the largest size
// within the limit, its proportions kept, instead of failing.
void tst_Metafile::pictureLargerThanTheLimitIsDrawnSmaller()
{
    const QSize size = MetafileCanvasSize(QSizeF(12047, 15591));
    CheckBitmapSize(size.width(), size.height());
    QVERIFY(qint64(size.width() + 2) * (size.height() + 2) * 3 > kMaxBitmapBytes);
    QVERIFY(std::fabs(double(size.width()) / size.height() - 12047.0 / 15591) < 0.001);

    // Frame 3187.44 mm x 4125.12 mm: 12047 x 15591 pixels at 96 dpi. A black
    // square of 1270 mm from the top left corner scales with the rest.
    const QRect frame(QPoint(0, 0), QPoint(318744, 412512));
    const QByteArray file = Emf(frame, QSize(9600, 9600), QSize(2540, 2540))
                                .Rec(37, {0x80000008})
                                .Rec(37, {0x80000004})
                                .Rectangle(0, 0, 4800, 4800)
                                .Finish();
    const QImage image = RenderMetafile(file, MetafileKind::Emf);
    QCOMPARE(image.size(), size);
    const int right = int(std::lround(127000.0 / 318744 * size.width()));
    const int bottom = int(std::lround(127000.0 / 412512 * size.height()));
    QCOMPARE(At(image, right - 3, bottom - 3), QRgb(0));
    QCOMPARE(At(image, right + 3, bottom - 3), QRgb(0xFFFFFF));
    QCOMPARE(At(image, right - 3, bottom + 3), QRgb(0xFFFFFF));
}

// Every good file renders at the size of its reference and looks like it.
void tst_Metafile::goodFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("threshold");
    QTest::addColumn<QString>("note");
    if (!HaveCorpus())
        QSKIP("no corpus");

    // Files that need another bar, and why.
    struct TException
    {
        const char *Name;
        double Threshold;
        const char *Note;
    };
    const TException exceptions[] = {
        // The pen maps to less than a pixel: Windows draws it one pixel wide, the reference leaves it out.
        {"libemf2svg-emf__test-012.emf", 0.1, ""},
        // A table of Wingdings signs: the reference draws other signs in other places.
        {"libemf2svg-emf__test-174.emf", 0.2, ""},
        // The reference draws the icon (many clip regions) broken.
        {"dtformats__Memo.emf", 0.4, ""},
        // A dual file whose text is drawn by plain records as glyph numbers: ours stays white.
        {"libemf2svg-emf__test-185.emf", 0, "blank"},
        // The Windows rendering fits the drawing's own bounds (the circle
        // reaches past the header's box), not the box: compared by size.
        {"pillow__drawing.wmf", 0, "size"},
    };
    const QHash<QString, QSize> sizes = ReferenceSizes();
    const QString refs = CorpusDir() + QStringLiteral("/refs/");
    for (const char *folder : {"wmf", "emf"}) {
        const QDir dir(CorpusDir() + QStringLiteral("/%1/good").arg(QLatin1String(folder)));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QString reference = refs + QStringLiteral("libreoffice/%1/%2.png").arg(QLatin1String(folder), name);
            if (!QFile::exists(reference)) {
                // The Windows rendering (at 72 dpi) stands in where there is one.
                const QString windows = refs + QStringLiteral("windows/") + QFileInfo(name).completeBaseName()
                                        + QStringLiteral("_%1_ref.png").arg(QLatin1String(folder));
                reference = QFile::exists(windows) ? windows : QString();
            }
            double threshold = 0.5;
            QString note;
            for (const TException &e : exceptions) {
                if (name == QLatin1String(e.Name)) {
                    threshold = e.Threshold;
                    note = QLatin1String(e.Note);
                }
            }
            QTest::newRow(qPrintable(name)) << dir.filePath(name) << reference << sizes.value(name) << threshold << note;
        }
    }
}

void tst_Metafile::goodFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, reference);
    QFETCH(QSize, size);
    QFETCH(double, threshold);
    QFETCH(QString, note);
    QVERIFY(size.isValid());
    const QImage picture = RenderMetafile(ReadAll(path), KindOf(path));
    QCOMPARE(picture.size(), size);
    QCOMPARE(picture.format(), QImage::Format_BGR888);
    if (note == QLatin1String("blank")) {
        QVERIFY(AllWhite(picture));
        return;
    }
    QVERIFY2(!AllWhite(picture), "nothing drawn");
    if (reference.isEmpty() || note == QLatin1String("size"))
        return;
    const QImage ref(reference);
    QVERIFY(!ref.isNull());
    const double similarity = Similarity(picture, ref);
    qInfo("%s: similarity %.3f", qPrintable(QFileInfo(path).fileName()), similarity);
    QVERIFY2(similarity >= threshold, qPrintable(QString::number(similarity)));
    // The measure tells a blank or badly misplaced picture apart.
    QImage white(picture.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    QVERIFY(Similarity(white, ref) < threshold);
    QVERIFY2(Similarity(Misplaced(picture), ref) < threshold, "the measure does not see a misplaced picture");
}

// Every damaged file gives the clear error or a (partial) picture.
void tst_Metafile::badFiles_data()
{
    QTest::addColumn<QString>("path");
    if (!HaveCorpus())
        QSKIP("no corpus");
    for (const char *folder : {"wmf/bad", "emf/bad"}) {
        const QDir dir(CorpusDir() + QLatin1Char('/') + QLatin1String(folder));
        for (const QString &name : dir.entryList({QStringLiteral("*.wmf"), QStringLiteral("*.emf")}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
}

void tst_Metafile::badFiles()
{
    QFETCH(QString, path);
    const QByteArray data = ReadAll(path);
    try {
        const QImage picture = RenderMetafile(data, KindOf(path));
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.format(), QImage::Format_BGR888);
    } catch (const AppError &e) {
        QCOMPARE(e.message(), kInvalid);
    }
}

QTEST_MAIN(tst_Metafile)
#include "tst_Metafile.moc"
