// Qt
#include <QtEndian>
#include <QtTest>

// Std
#include <thread>
#include <vector>

// Little CMS
#include <lcms2.h>

// Local
#include "ColourProfile.h"
#include "DibTestData.h"
#include "TestPaths.h"
#include "TestProfiles.h"

namespace {

// What Little CMS itself makes of the pixels (perceptual, to its sRGB).
QByteArray Reference(const QByteArray &profile, const QByteArray &pixels, cmsUInt32Number inputFormat)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, inputFormat, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    const int channels = int(T_CHANNELS(inputFormat));
    QByteArray out(pixels.size() / channels * 3, '\0');
    cmsDoTransform(t, pixels.constData(), out.data(), cmsUInt32Number(pixels.size() / channels));
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(in);
    return out;
}

// A bitmap whose rows hold the pixels (blue, green, red) in turn, width 3 so
// that each row is padded.
QImage Picture(const QByteArray &pixels, int width = 3)
{
    const int count = int(pixels.size() / 3);
    QImage image(width, (count + width - 1) / width, QImage::Format_BGR888);
    image.fill(Qt::black);
    for (int i = 0; i < count; ++i)
        memcpy(image.scanLine(i / width) + i % width * 3, pixels.constData() + i * 3, 3);
    return image;
}

QByteArray Pixels(const QImage &image, int count)
{
    QByteArray b;
    for (int i = 0; i < count; ++i)
        b.append(reinterpret_cast<const char *>(image.constScanLine(i / image.width()) + i % image.width() * 3), 3);
    return b;
}

// The largest difference between two byte strings of the same size (256
// when the sizes differ). Little CMS's 8-bit conversion of a matrix profile
// and the program's own may differ by one level in rounding.
int MaxDifference(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return 256;
    int most = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        most = std::max(most, std::abs(int(uchar(a[i])) - int(uchar(b[i]))));
    return most;
}

const QByteArray kSamples = Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 128, 128, 128, 32, 64, 128,
                                   20, 180, 200, 250, 250, 250, 5, 5, 5, 90, 200, 40, 0, 0, 0});

// JPEG pieces: a segment, an APP2 profile chunk, a frame header.
QByteArray Segment(int marker, const QByteArray &payload)
{
    QByteArray b = Bytes({0xFF, marker});
    const int length = int(payload.size()) + 2;
    b += Bytes({length >> 8, length & 0xFF});
    return b + payload;
}

QByteArray Chunk(int sequence, int count, const QByteArray &data)
{
    return Segment(0xE2, QByteArray("ICC_PROFILE", 12) + Bytes({sequence, count}) + data);
}

const QByteArray kSoi = Bytes({0xFF, 0xD8});
const QByteArray kSof = Segment(0xC0, Bytes({8, 0, 1, 0, 1, 1, 1, 0x11, 0}));
const QByteArray kSos = Segment(0xDA, Bytes({1, 1, 0, 0, 63, 0})) + "scan";

// A bitmap file with a version 5 header whose profile fields are given and
// whose data after the header is the profile bytes.
QByteArray V5Bitmap(quint32 csType, quint32 offset, quint32 size, const QByteArray &after, int headerSize = 124)
{
    QByteArray info;
    Put32(info, headerSize);
    Put32(info, 1);
    Put32(info, 1);
    Put16(info, 1);
    Put16(info, 24);
    info.append(QByteArray(56 - info.size(), '\0'));
    Put32(info, csType);
    info.append(QByteArray(112 - info.size(), '\0'));
    Put32(info, offset);
    Put32(info, size);
    info.append(QByteArray(headerSize - info.size(), '\0'));
    QByteArray file("BM");
    Put32(file, quint32(14 + info.size() + after.size()));
    Put32(file, 0);
    Put32(file, 14 + headerSize);
    return file + info + after;
}

constexpr quint32 kEmbedded = 0x4D424544;  // 'MBED'
constexpr quint32 kLinked = 0x4C494E4B;    // 'LINK'

cmsColorSpaceSignature ColourSpaceOf(const QByteArray &profile)
{
    cmsHPROFILE h = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    if (!h)
        return cmsColorSpaceSignature(0);
    const cmsColorSpaceSignature space = cmsGetColorSpace(h);
    cmsCloseProfile(h);
    return space;
}

} // namespace

class tst_ColourProfile : public QObject
{
    Q_OBJECT

private slots:
    void corpusProfiles_data();
    void corpusProfiles();
    void jpegChunks_data();
    void jpegChunks();
    void bmpProfile_data();
    void bmpProfile();
    void srgbLeavesBytes_data();
    void srgbLeavesBytes();
    void wideGamutMatchesLittleCms_data();
    void wideGamutMatchesLittleCms();
    void largePictureMatchesLittleCms();
    void unusableProfileLeavesPicture_data();
    void unusableProfileLeavesPicture();
    void cacheKeepsProfilesApart();
    void cmykThroughProfile();
};

void tst_ColourProfile::corpusProfiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");  // 0: no profile
    QTest::addColumn<QString>("name");  // as the details panel shows it

    QTest::newRow("jpeg sRGB") << "jpeg/pillow/pil_sample_rgb.jpg" << 3144 << "sRGB IEC61966-2.1";
    QTest::newRow("jpeg arithmetic") << "jpeg/libjpeg-turbo/monkey12.jpg" << 3024 << "sRGB2014";
    QTest::newRow("jpeg progressive") << "jpeg/image-rs/progressive/cat.jpg" << 3048 << "sRGB IEC61966-2-1 black scaled";
    // Two chunks, before and after the frame header, both numbered 1 of 1
    // (and holding the word "profile"): duplicates, so no profile.
    QTest::newRow("jpeg duplicate chunk after SOF") << "jpeg/pillow/icc-after-SOF.jpg" << 0 << "";
    // Adobe CMYK without profile chunks.
    QTest::newRow("jpeg cmyk untagged") << "jpeg/pillow/pil_sample_cmyk.jpg" << 0 << "";
    QTest::newRow("bmp embedded") << "bmp/bmpsuite/q/rgb24prof.bmp" << 3048 << "sRGB IEC61966-2-1 black scaled";
    QTest::newRow("bmp embedded 2") << "bmp/bmpsuite/q/rgb24prof2.bmp" << 540 << "Custom RGB";
    QTest::newRow("bmp linked") << "bmp/bmpsuite/q/rgb24lprof.bmp" << 0 << "";
    QTest::newRow("bmp untagged") << "bmp/bmpsuite/g/rgb24.bmp" << 0 << "";
}

void tst_ColourProfile::corpusProfiles()
{
    QFETCH(QString, file);
    QFETCH(int, size);
    QFETCH(QString, name);
    if (!HaveCorpus())
        QSKIP("no corpus");
    const QByteArray data = ReadAll(CorpusDir() + '/' + file);
    QVERIFY(!data.isEmpty());
    const QByteArray profile = file.endsWith(".bmp") ? BmpIccProfile(data) : JpegIccProfile(data);
    QCOMPARE(profile.size(), size);
    QCOMPARE(IccProfileName(profile), name);
    if (size == 0)
        return;
    QCOMPARE(qFromBigEndian<quint32>(profile.constData()), quint32(size));
    QCOMPARE(ColourSpaceOf(profile), cmsSigRgbData);
}

void tst_ColourProfile::jpegChunks_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QByteArray>("profile");

    const QByteArray app0 = Segment(0xE0, "JFIF");
    QTest::newRow("one chunk") << kSoi + app0 + Chunk(1, 1, "abc") + kSof + kSos << QByteArray("abc");
    QTest::newRow("after frame header") << kSoi + kSof + Chunk(1, 1, "abc") + kSos << QByteArray("abc");
    QTest::newRow("out of order, fill bytes")
        << kSoi + Chunk(2, 2, "def") + Bytes({0xFF}) + Chunk(1, 2, "abc") + kSof + kSos << QByteArray("abcdef");
    QTest::newRow("after start of scan") << kSoi + kSof + kSos + Chunk(1, 1, "abc") << QByteArray();
    QTest::newRow("counts disagree")
        << kSoi + Chunk(1, 2, "abc") + Chunk(2, 2, "def") + Chunk(3, 3, "ghi") + kSos << QByteArray();
    QTest::newRow("sequence 0") << kSoi + Chunk(0, 1, "xyz") + Chunk(1, 1, "abc") + kSos << QByteArray();
    QTest::newRow("sequence past count") << kSoi + Chunk(1, 2, "abc") + Chunk(3, 2, "def") + kSos << QByteArray();
    QTest::newRow("count 0") << kSoi + Chunk(1, 0, "abc") + kSos << QByteArray();
    QTest::newRow("duplicate") << kSoi + Chunk(1, 2, "abc") + Chunk(1, 2, "abc") + Chunk(2, 2, "d") + kSos
                               << QByteArray();
    QTest::newRow("chunk missing") << kSoi + Chunk(2, 2, "def") + kSof + kSos << QByteArray();
    QTest::newRow("chunk past the end") << kSoi + Chunk(1, 1, "abcdef").chopped(2) << QByteArray();
    QTest::newRow("chunk without numbers") << kSoi + Segment(0xE2, QByteArray("ICC_PROFILE", 12) + "\x01") + kSos
                                           << QByteArray();
    QTest::newRow("in APP1") << kSoi + Segment(0xE1, QByteArray("ICC_PROFILE", 12) + Bytes({1, 1}) + "abc") + kSos
                             << QByteArray();
    QTest::newRow("no SOI") << Chunk(1, 1, "abc") + kSos << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_ColourProfile::jpegChunks()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(QByteArray, profile);
    QCOMPARE(JpegIccProfile(jpeg), profile);
}

void tst_ColourProfile::bmpProfile_data()
{
    QTest::addColumn<QByteArray>("bmp");
    QTest::addColumn<QByteArray>("profile");

    const QByteArray pixel = Bytes({1, 2, 3, 0});
    QTest::newRow("embedded") << V5Bitmap(kEmbedded, 128, 5, pixel + "ICCPR") << QByteArray("ICCPR");
    QTest::newRow("larger header") << V5Bitmap(kEmbedded, 132, 3, pixel + "abc", 128) << QByteArray("abc");
    QTest::newRow("linked") << V5Bitmap(kLinked, 128, 5, pixel + "ICCPR") << QByteArray();
    QTest::newRow("version 4 header") << V5Bitmap(kEmbedded, 112, 5, pixel + "ICCPR", 108) << QByteArray();
    QTest::newRow("size past the end") << V5Bitmap(kEmbedded, 128, 6, pixel + "ICCPR") << QByteArray();
    QTest::newRow("offset past the end") << V5Bitmap(kEmbedded, 134, 1, pixel + "ICCPR") << QByteArray();
    QTest::newRow("huge size") << V5Bitmap(kEmbedded, 128, 0xFFFFFFFF, pixel + "ICCPR") << QByteArray();
    QTest::newRow("huge offset") << V5Bitmap(kEmbedded, 0xFFFFFFFE, 5, pixel + "ICCPR") << QByteArray();
    QTest::newRow("inside the header") << V5Bitmap(kEmbedded, 100, 5, pixel + "ICCPR") << QByteArray();
    QTest::newRow("size 0") << V5Bitmap(kEmbedded, 128, 0, pixel + "ICCPR") << QByteArray();
    QTest::newRow("cut header") << V5Bitmap(kEmbedded, 128, 5, pixel + "ICCPR").left(130) << QByteArray();
}

void tst_ColourProfile::bmpProfile()
{
    QFETCH(QByteArray, bmp);
    QFETCH(QByteArray, profile);
    QCOMPARE(BmpIccProfile(bmp), profile);
}

void tst_ColourProfile::srgbLeavesBytes_data()
{
    QTest::addColumn<QString>("file");  // empty: Little CMS's own sRGB profile

    QTest::newRow("Little CMS") << QString();
    // Profiles that differ from Little CMS's sRGB by one level in places.
    QTest::newRow("HP sRGB") << "jpeg/pillow/pil_sample_rgb.jpg";
    QTest::newRow("sRGB2014") << "jpeg/libjpeg-turbo/monkey12.jpg";
}

void tst_ColourProfile::srgbLeavesBytes()
{
    QFETCH(QString, file);
    if (!file.isEmpty() && !HaveCorpus())
        QSKIP("no corpus");
    const QByteArray profile = file.isEmpty() ? SrgbProfile() : JpegIccProfile(ReadAll(CorpusDir() + '/' + file));
    QVERIFY(!profile.isEmpty());
    // Every value of every channel, and mixtures.
    QByteArray pixels;
    for (int v = 0; v < 256; ++v)
        pixels += Bytes({v, (v * 7) & 0xFF, (v * 13 + 5) & 0xFF, v, v, v});
    QImage image = Picture(pixels, 17);
    const QImage before = image.copy();
    QVERIFY(ConvertToSrgb(image, profile));
    QCOMPARE(image, before);
}

void tst_ColourProfile::wideGamutMatchesLittleCms_data()
{
    QTest::addColumn<QByteArray>("profile");

    QTest::newRow("Adobe RGB primaries") << RgbProfile();
    QTest::newRow("gamma 1.8, wider red") << RgbProfile(1.8, 0.73);
    QTest::newRow("gamma 1.0") << RgbProfile(1.0);
    if (HaveCorpus())
        QTest::newRow("bitmap's own") << BmpIccProfile(ReadAll(CorpusDir() + "/bmp/bmpsuite/q/rgb24prof2.bmp"));
}

void tst_ColourProfile::wideGamutMatchesLittleCms()
{
    QFETCH(QByteArray, profile);
    QVERIFY(!profile.isEmpty());
    QImage image = Picture(kSamples);
    QVERIFY(ConvertToSrgb(image, profile));
    const QByteArray converted = Pixels(image, int(kSamples.size() / 3));
    QVERIFY(converted != kSamples);
    QVERIFY(MaxDifference(converted, Reference(profile, kSamples, TYPE_BGR_8)) <= 1);
    // Every colour there is, as Little CMS makes it, give or take a level.
    QImage cube(4096, 4096, QImage::Format_BGR888);
    for (int y = 0; y < 4096; ++y) {
        uchar *p = cube.scanLine(y);
        for (int x = 0; x < 4096; ++x, p += 3) {
            const int colour = y * 4096 + x;
            p[0] = uchar(colour);
            p[1] = uchar(colour >> 8);
            p[2] = uchar(colour >> 16);
        }
    }
    const QByteArray all(reinterpret_cast<const char *>(cube.constBits()), cube.sizeInBytes());
    QVERIFY(ConvertToSrgb(cube, profile));
    const QByteArray mine(reinterpret_cast<const char *>(cube.constBits()), cube.sizeInBytes());
    QVERIFY(MaxDifference(mine, Reference(profile, all, TYPE_BGR_8)) <= 1);
}

void tst_ColourProfile::largePictureMatchesLittleCms()
{
    // Large enough to be shared out over threads; every row differs, and
    // the rows (1001 pixels) are padded.
    QImage image(1001, 2301, QImage::Format_BGR888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width() * 3; ++x)
            image.scanLine(y)[x] = uchar(x * 7 + y * 13);
    QByteArray pixels;
    for (int y = 0; y < image.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 3);
    const QByteArray adobe = RgbProfile();
    const QByteArray expected = Reference(adobe, pixels, TYPE_BGR_8);
    QVERIFY(ConvertToSrgb(image, adobe));
    for (int y = 0; y < image.height(); ++y) {
        const QByteArray row(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 3);
        QVERIFY2(MaxDifference(row, expected.mid(y * image.width() * 3, image.width() * 3)) <= 1,
                 qPrintable(QString("row %1").arg(y)));
    }
}

void tst_ColourProfile::unusableProfileLeavesPicture_data()
{
    QTest::addColumn<QByteArray>("profile");

    const QByteArray good = RgbProfile();
    QByteArray noTags = good.left(132);
    qToBigEndian<quint32>(132, noTags.data());
    qToBigEndian<quint32>(0x7FFFFFFF, noTags.data() + 128);  // tag count
    QByteArray cutTags = good.left(good.size() / 2);  // the tag table points past the end
    qToBigEndian<quint32>(quint32(cutTags.size()), cutTags.data());
    QByteArray noSignature = good;
    noSignature[36] = 'x';

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short") << good.left(127);
    QTest::newRow("size field differs") << good.left(good.size() - 1);
    QTest::newRow("no signature") << noSignature;
    QTest::newRow("huge tag count") << noTags;
    QTest::newRow("tags past the end") << cutTags;
    QTest::newRow("Lab profile") << SavedProfile(cmsCreateLab4Profile(nullptr));
    QTest::newRow("gray profile") << [] {
        cmsToneCurve *curve = cmsBuildGamma(nullptr, 2.2);
        const QByteArray p = SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
        cmsFreeToneCurve(curve);
        return p;
    }();
}

void tst_ColourProfile::unusableProfileLeavesPicture()
{
    QFETCH(QByteArray, profile);
    QImage image = Picture(kSamples);
    const QImage before = image.copy();
    QVERIFY(!ConvertToSrgb(image, profile));
    QCOMPARE(image, before);
    const QImage rgb32 = image.convertToFormat(QImage::Format_RGB32);
    QImage other = rgb32;
    QVERIFY(!ConvertToSrgb(other, RgbProfile()));  // only 24-bit bitmaps
    QCOMPARE(other, rgb32);
}

void tst_ColourProfile::cacheKeepsProfilesApart()
{
    // More profiles than the cache holds, used in turn from several threads:
    // each picture must come out as its own profile makes it.
    std::vector<QByteArray> profiles;
    std::vector<QByteArray> expected;
    for (int i = 0; i < 7; ++i) {
        profiles.push_back(RgbProfile(1.6 + 0.2 * i, 0.60 + 0.01 * i));
        expected.push_back(Reference(profiles.back(), kSamples, TYPE_BGR_8));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (size_t i = 0; i < profiles.size(); ++i) {
                    const size_t k = (i + size_t(t)) % profiles.size();
                    QImage image = Picture(kSamples);
                    if (!ConvertToSrgb(image, profiles[k])
                        || MaxDifference(Pixels(image, int(kSamples.size() / 3)), expected[k]) > 1)
                        ++wrong;
                }
        });
    for (auto &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

void tst_ColourProfile::cmykThroughProfile()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    const QByteArray profile = ReadAll(CorpusDir() + "/jpeg/libjpeg-turbo/test1.icc");  // a CMYK printer profile
    QVERIFY(!profile.isEmpty());

    // Two rows of three pixels, four bytes of padding after each row.
    const QByteArray inks = Bytes({0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255,
                                   40, 80, 120, 10, 255, 255, 255, 255});
    const int stride = 16;
    QByteArray rows(2 * stride, '\x55');
    QByteArray inverted = rows;
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < 4; ++c) {
            rows[i / 3 * stride + i % 3 * 4 + c] = inks[i * 4 + c];
            inverted[i / 3 * stride + i % 3 * 4 + c] = char(255 - uchar(inks[i * 4 + c]));
        }
    const QByteArray expected = Reference(profile, inks, TYPE_CMYK_8);
    QVERIFY(expected.left(3) != expected.mid(3, 3));

    for (const bool adobe : {false, true}) {
        const ColourTransform transform = ColourTransform::ForCmyk(profile, adobe);
        QVERIFY(transform.IsValid());
        QByteArray out(2 * 9, '\0');
        transform.Convert(reinterpret_cast<const uchar *>((adobe ? inverted : rows).constData()), stride,
                          reinterpret_cast<uchar *>(out.data()), 9, 3, 2);
        QCOMPARE(out, expected);
    }

    // An RGB profile is not a CMYK one, nor a CMYK profile an RGB one: the
    // caller keeps its own conversion.
    QVERIFY(!ColourTransform::ForCmyk(RgbProfile(), true).IsValid());
    QVERIFY(!ColourTransform::ForCmyk(QByteArray(), false).IsValid());
    QVERIFY(!ColourTransform::ForRgb(profile).IsValid());
}

QTEST_GUILESS_MAIN(tst_ColourProfile)
#include "tst_ColourProfile.moc"
