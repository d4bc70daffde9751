// Local
#include "ExifDetails.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QtTest>

namespace {

// A little-endian EXIF block put together entry by entry. Values longer
// than four bytes go into a data area after the directories.
class ExifBuilder
{
public:
    struct Field
    {
        quint16 tag;
        quint16 type;
        quint32 count;
        QByteArray value;   // the value's bytes; offsets are filled in
    };
    QList<Field> ifd0, exif, gps;

    static QByteArray Ascii(const char *s) { return QByteArray(s) + '\0'; }
    static QByteArray Rationals(std::initializer_list<std::pair<quint32, quint32>> values)
    {
        QByteArray b;
        for (auto [n, d] : values)
            b += U32(n) + U32(d);
        return b;
    }
    static QByteArray U16(quint16 v) { return QByteArray(1, char(v & 0xFF)) + char(v >> 8); }
    static QByteArray U32(quint32 v) { return U16(quint16(v)) + U16(quint16(v >> 16)); }

    QByteArray Block() const
    {
        // Layout: header, IFD0, EXIF IFD, GPS IFD, then the data area.
        const auto size = [](const QList<Field> &d) { return d.isEmpty() ? 0 : 2 + 12 * d.size() + 4; };
        const qint64 ifd0At = 8;
        const qint64 exifAt = ifd0At + size(ifd0) + 12 * 2;   // room for the two pointers
        const qint64 gpsAt = exifAt + size(exif);
        qint64 dataAt = gpsAt + size(gps);
        QByteArray data;
        QList<Field> first = ifd0;
        if (!exif.isEmpty())
            first.append({0x8769, 4, 1, U32(quint32(exifAt))});
        if (!gps.isEmpty())
            first.append({0x8825, 4, 1, U32(quint32(gpsAt))});
        const auto write = [&](const QList<Field> &fields) {
            if (fields.isEmpty())
                return QByteArray();
            QByteArray d = U16(quint16(fields.size()));
            for (const Field &f : fields) {
                d += U16(f.tag) + U16(f.type) + U32(f.count);
                if (f.value.size() <= 4) {
                    d += f.value.leftJustified(4, '\0');
                } else {
                    d += U32(quint32(dataAt + data.size()));
                    data += f.value;
                }
            }
            return d + U32(0);
        };
        QByteArray block = "II" + U16(42) + U32(quint32(ifd0At));
        block += write(first).leftJustified(exifAt - ifd0At, '\0');
        block += write(exif);
        block += write(gps);
        Q_ASSERT(block.size() == dataAt);
        return block + data;
    }
};

QByteArray JpegWithBlock(const QByteArray &block)
{
    QByteArray app1 = QByteArray("Exif", 4) + QByteArray(2, '\0') + block;
    const int length = int(app1.size()) + 2;
    return QByteArray("\xFF\xD8\xFF\xE1", 4) + char(length >> 8) + char(length & 0xFF) + app1
           + QByteArray("\xFF\xD9", 2);
}

QString Lines(const TExifDetails &d)
{
    QStringList out;
    for (const auto &[caption, value] : ExifDetailLines(d))
        out << caption + u'=' + value;
    return out.join(u'|');
}

ExifBuilder FullCamera()
{
    ExifBuilder b;
    b.ifd0 = {{0x010F, 2, 18, ExifBuilder::Ascii("NIKON CORPORATION")},
              {0x0110, 2, 11, ExifBuilder::Ascii("NIKON D800")},
              {0x0132, 2, 20, ExifBuilder::Ascii("2020:01:01 00:00:00")}};
    b.exif = {{0x829A, 5, 1, ExifBuilder::Rationals({{10, 2500}})},
              {0x829D, 5, 1, ExifBuilder::Rationals({{28, 10}})},
              {0x8827, 3, 1, ExifBuilder::U16(400)},
              {0x9003, 2, 20, ExifBuilder::Ascii("2013:09:11 16:45:13")},
              {0x920A, 5, 1, ExifBuilder::Rationals({{500, 10}})},
              {0xA405, 3, 1, ExifBuilder::U16(75)},
              {0xA434, 2, 15, ExifBuilder::Ascii("50mm f/1.8\tD\n")}};
    b.gps = {{1, 2, 2, ExifBuilder::Ascii("N")},
             {2, 5, 3, ExifBuilder::Rationals({{43, 1}, {15, 1}, {36, 1}})},
             {3, 2, 2, ExifBuilder::Ascii("W")},
             {4, 5, 3, ExifBuilder::Rationals({{4, 1}, {30, 1}, {0, 1}})},
             {5, 1, 1, QByteArray(1, '\0')},
             {6, 5, 1, ExifBuilder::Rationals({{12345, 10}})}};
    return b;
}

const char kFullLines[] = "Camera=NIKON D800|Lens=50mm f/1.8 D|Taken=2013-09-11 16:45:13|Exposure=1/250 s|"
                          "Aperture=f/2.8|ISO=400|Focal length=50 mm (75 mm in 35 mm film)|"
                          "Position=43.26° N, 4.5° W|Altitude=1235 m";

} // namespace

class tst_ExifDetails : public QObject
{
    Q_OBJECT

private slots:
    void corpusPhotos_data();
    void corpusPhotos();
    void everyField();
    void damagedBlocks_data();
    void damagedBlocks();
    void exposureTexts_data();
    void exposureTexts();
};

void tst_ExifDetails::corpusPhotos_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("Olympus") << "photos/originals/onestandsout.jpg"
                             << "Camera=OLYMPUS IMAGING CORP. E-M1|Taken=2015-09-06 12:01:47|Exposure=1/30 s|"
                                "Aperture=f/8|ISO=200|Focal length=14 mm"
                             << false;
    QTest::newRow("Nikon, make repeated in the model")
        << "corpus/jpeg/pillow/broken_exif_dpi.jpg"
        << "Camera=NIKON D800|Taken=2013-09-11 16:45:13|Exposure=1/250 s|Aperture=f/8|ISO=400|Focal length=14 mm"
        << false;
    QTest::newRow("date only") << "corpus/jpeg/pillow/exif-ifd-offset.jpg" << "Taken=2017-03-13 23:03:09" << false;
    QTest::newRow("no EXIF") << "corpus/jpeg/pillow/hopper.jpg" << "" << false;
    // Broken blocks give what can be read and say so; the picture is not failed.
    QTest::newRow("bad block") << "corpus/jpeg/pillow/hopper_bad_exif.jpg" << "" << true;
    QTest::newRow("invalid block") << "corpus/jpeg/pillow/invalid-exif.jpg" << "" << true;
}

void tst_ExifDetails::corpusPhotos()
{
    QFETCH(QString, file);
    QFETCH(QString, lines);
    QFETCH(bool, damaged);
    const QString path = SharedDir() + u'/' + file;
    if (!QFile::exists(path))
        QSKIP(qPrintable(QStringLiteral("missing shared test data: %1").arg(path)));
    const TExifDetails d = ReadJpegExifDetails(ReadAll(path));
    QCOMPARE(Lines(d), lines);
    QCOMPARE(d.Damaged, damaged);
}

void tst_ExifDetails::everyField()
{
    const TExifDetails d = ReadJpegExifDetails(JpegWithBlock(FullCamera().Block()));
    QCOMPARE(Lines(d), QString::fromUtf8(kFullLines));
    QVERIFY(!d.Damaged);
    QCOMPARE(d.Latitude, 43.26);
    QCOMPARE(d.Longitude, -4.5);
}

void tst_ExifDetails::damagedBlocks_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<bool>("damaged");

    const QByteArray full = FullCamera().Block();
    QTest::newRow("cut in the data area") << full.left(full.size() - 40)
                                          << "Camera=NIKON D800|Lens=50mm f/1.8 D|Taken=2013-09-11 16:45:13|"
                                             "Exposure=1/250 s|Aperture=f/2.8|ISO=400|Focal length=50 mm (75 mm in 35 mm film)"
                                          << true;
    ExifBuilder small = FullCamera();   // make and model short enough to stand in their entries
    small.ifd0[0] = {0x010F, 2, 4, ExifBuilder::Ascii("Sig")};
    small.ifd0[1] = {0x0110, 2, 3, ExifBuilder::Ascii("fp")};
    QTest::newRow("cut inside IFD0") << small.Block().left(8 + 2 + 12 * 2) << "Camera=Sig fp" << true;
    QTest::newRow("header only") << full.left(8) << "" << true;
    QTest::newRow("not TIFF") << QByteArray("XX*\0\0\0\0\0", 8) << "" << true;

    ExifBuilder b = FullCamera();
    b.exif[0].count = 0x20000000;   // a count past any block
    b.exif[1].value = ExifBuilder::Rationals({{28, 0}});   // "unknown" aperture
    b.gps[0].value = ExifBuilder::Ascii("Q");   // no such hemisphere: no position at all
    QTest::newRow("impossible count, zero denominator, bad reference")
        << b.Block()
        << "Camera=NIKON D800|Lens=50mm f/1.8 D|Taken=2013-09-11 16:45:13|ISO=400|"
           "Focal length=50 mm (75 mm in 35 mm film)"
        << true;

    ExifBuilder loop = FullCamera();
    loop.exif.clear();
    loop.gps.clear();
    loop.ifd0.append({0x8769, 4, 1, ExifBuilder::U32(8)});   // the EXIF IFD is IFD0 itself
    loop.ifd0.append({0x8825, 4, 1, ExifBuilder::U32(0xFFFFFFF0)});
    QTest::newRow("sub-directory pointing back, and out of the block")
        << loop.Block() << "Camera=NIKON D800|Taken=2020-01-01 00:00:00" << true;

    ExifBuilder wrongTypes = FullCamera();
    wrongTypes.exif[2].type = 5;   // ISO as a rational
    wrongTypes.exif[2].value = ExifBuilder::Rationals({{400, 1}});
    wrongTypes.gps[1].count = 2;   // latitude without seconds
    wrongTypes.gps[1].value.chop(8);
    QTest::newRow("wrong types") << wrongTypes.Block()
                                 << "Camera=NIKON D800|Lens=50mm f/1.8 D|Taken=2013-09-11 16:45:13|"
                                    "Exposure=1/250 s|Aperture=f/2.8|Focal length=50 mm (75 mm in 35 mm film)"
                                 << true;
}

void tst_ExifDetails::damagedBlocks()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, lines);
    QFETCH(bool, damaged);
    const TExifDetails d = ReadJpegExifDetails(JpegWithBlock(block));
    QCOMPARE(Lines(d), lines);
    QCOMPARE(d.Damaged, damaged);
    // Every shorter cut reads without fault as well.
    for (qsizetype n = 0; n < block.size(); ++n)
        ReadExifBlock(reinterpret_cast<const uchar *>(block.constData()), n);
}

void tst_ExifDetails::exposureTexts_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("1/250") << 0.004 << "1/250 s";
    QTest::newRow("1/3") << 1.0 / 3 << "1/3 s";
    QTest::newRow("0.3 is not a fraction of one") << 0.3 << "0.3 s";
    QTest::newRow("half") << 0.5 << "0.5 s";
    QTest::newRow("2.5") << 2.5 << "2.5 s";
    QTest::newRow("30") << 30.0 << "30 s";
    QTest::newRow("none") << 0.0 << "";
}

void tst_ExifDetails::exposureTexts()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(ExposureText(seconds), text);
}

QTEST_APPLESS_MAIN(tst_ExifDetails)
#include "tst_ExifDetails.moc"
