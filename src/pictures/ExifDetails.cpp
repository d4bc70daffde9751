#include "ExifDetails.h"
#include "ExifOrientation.h"
#include "TiffBlock.h"

// Std
#include <cmath>

namespace {

enum : int {
    kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5,
    kTypeUndefined = 7, kTypeSLong = 9, kTypeSRational = 10,
};

// IFD0
constexpr int kTagMake = 0x010F;
constexpr int kTagModel = 0x0110;
constexpr int kTagDateTime = 0x0132;
constexpr int kTagExifIfd = 0x8769;
constexpr int kTagGpsIfd = 0x8825;
// The EXIF sub-IFD
constexpr int kTagExposureTime = 0x829A;
constexpr int kTagFNumber = 0x829D;
constexpr int kTagIso = 0x8827;
constexpr int kTagDateTimeOriginal = 0x9003;
constexpr int kTagFocalLength = 0x920A;
constexpr int kTagFocalLength35 = 0xA405;
constexpr int kTagLensMake = 0xA433;
constexpr int kTagLensModel = 0xA434;
// The GPS IFD
constexpr int kTagLatitudeRef = 1;
constexpr int kTagLatitude = 2;
constexpr int kTagLongitudeRef = 3;
constexpr int kTagLongitude = 4;
constexpr int kTagAltitudeRef = 5;
constexpr int kTagAltitude = 6;

// No text field is shown longer than this.
constexpr qint64 kMaxText = 256;

int TypeSize(int type)
{
    switch (type) {
    case kTypeByte: case kTypeAscii: case kTypeUndefined: return 1;
    case kTypeShort: return 2;
    case kTypeLong: case kTypeSLong: return 4;
    case kTypeRational: case kTypeSRational: return 8;
    default: return 0;
    }
}

// One directory entry whose value lies wholly inside the block.
struct Entry
{
    int Tag = 0;
    int Type = 0;
    qint64 Count = 0;
    qint64 Value = 0;   // offset of the value's first byte
};

class ExifWalker
{
public:
    ExifWalker(const uchar *data, qint64 size, TExifDetails &details) : FTiff(data, size), FOut(details) {}

    void Read()
    {
        if (!FTiff.Start()) {
            FOut.Damaged = true;
            return;
        }
        qint64 exifIfd = -1;
        qint64 gpsIfd = -1;
        QString dateTime;
        Walk(FTiff.U32(4), [&](const Entry &e) {
            switch (e.Tag) {
            case kTagMake: FOut.Make = Text(e); break;
            case kTagModel: FOut.Model = Text(e); break;
            case kTagDateTime: dateTime = Text(e); break;
            case kTagExifIfd: exifIfd = Offset(e); break;
            case kTagGpsIfd: gpsIfd = Offset(e); break;
            default: break;
            }
        });
        // The sub-directories are followed once each, from IFD0 only, so a
        // block whose offsets point back at themselves cannot loop.
        if (exifIfd >= 0)
            Walk(exifIfd, [&](const Entry &e) { ReadExifEntry(e); });
        if (FOut.DateTaken.isEmpty())
            FOut.DateTaken = dateTime;
        if (gpsIfd >= 0)
            ReadGps(gpsIfd);
    }

private:
    template <class F>
    void Walk(qint64 ifd, F &&visit)
    {
        if (!FTiff.Has(ifd, 2)) {
            FOut.Damaged = true;
            return;
        }
        qint64 entries = FTiff.U16(ifd);
        const qint64 room = (FTiff.Size() - ifd - 2) / 12;
        if (entries > room) {
            // A cut-off directory: the entries that are there still count.
            FOut.Damaged = true;
            entries = room;
        }
        for (qint64 i = 0; i < entries; ++i) {
            const qint64 at = ifd + 2 + i * 12;
            Entry e;
            e.Tag = FTiff.U16(at);
            e.Type = FTiff.U16(at + 2);
            e.Count = FTiff.U32(at + 4);
            const int unit = TypeSize(e.Type);
            if (unit == 0 || e.Count == 0 || e.Count > FTiff.Size() / unit) {
                // An unknown type or an impossible count spoils this entry only.
                if (unit != 0)
                    FOut.Damaged = true;
                continue;
            }
            const qint64 bytes = e.Count * unit;
            e.Value = bytes <= 4 ? at + 8 : qint64(FTiff.U32(at + 8));
            if (!FTiff.Has(e.Value, bytes)) {
                FOut.Damaged = true;
                continue;
            }
            visit(e);
        }
    }

    QString Text(const Entry &e)
    {
        if (e.Type != kTypeAscii && e.Type != kTypeUndefined && e.Type != kTypeByte)
            return Bad();
        const char *p = reinterpret_cast<const char *>(FTiff.Data() + e.Value);
        qint64 n = 0;
        while (n < e.Count && n < kMaxText && p[n] != 0)
            ++n;
        QString text = QString::fromUtf8(p, n);
        // Control characters would break the panel's one-line fields.
        for (QChar &c : text) {
            if (c.category() == QChar::Other_Control)
                c = u' ';
        }
        return text.trimmed();
    }

    // A sub-directory's offset: one LONG (some writers use a SHORT).
    qint64 Offset(const Entry &e)
    {
        if (e.Count != 1 || (e.Type != kTypeLong && e.Type != kTypeShort)) {
            Bad();
            return -1;
        }
        return Integer(e);
    }

    // An unsigned integer (BYTE, SHORT or LONG); -1 when the type is another.
    qint64 Integer(const Entry &e)
    {
        switch (e.Type) {
        case kTypeByte: return FTiff.Data()[e.Value];
        case kTypeShort: return FTiff.U16(e.Value);
        case kTypeLong: return FTiff.U32(e.Value);
        default: Bad(); return -1;
        }
    }

    // The i-th rational of the entry; NaN when it cannot be one.
    double Rational(const Entry &e, qint64 i = 0)
    {
        if ((e.Type != kTypeRational && e.Type != kTypeSRational) || i >= e.Count) {
            Bad();
            return std::nan("");
        }
        const qint64 at = e.Value + i * 8;
        const quint32 num = FTiff.U32(at);
        const quint32 den = FTiff.U32(at + 4);
        if (den == 0)
            return std::nan("");   // "unknown", as cameras write it; not damage
        if (e.Type == kTypeSRational)
            return double(qint32(num)) / double(qint32(den));
        return double(num) / double(den);
    }

    void ReadExifEntry(const Entry &e)
    {
        switch (e.Tag) {
        case kTagExposureTime: FOut.ExposureSeconds = Positive(Rational(e)); break;
        case kTagFNumber: FOut.FNumber = Positive(Rational(e)); break;
        case kTagIso: FOut.Iso = int(std::max<qint64>(0, Integer(e))); break;
        case kTagDateTimeOriginal: FOut.DateTaken = Text(e); break;
        case kTagFocalLength: FOut.FocalLength = Positive(Rational(e)); break;
        case kTagFocalLength35: FOut.FocalLength35 = int(std::max<qint64>(0, Integer(e))); break;
        case kTagLensMake: FOut.LensMake = Text(e); break;
        case kTagLensModel: FOut.LensModel = Text(e); break;
        default: break;
        }
    }

    // Degrees from the three rationals degrees, minutes, seconds.
    double Degrees(const Entry &e)
    {
        if (e.Count < 3)
            return Bad(), std::nan("");
        return Rational(e, 0) + Rational(e, 1) / 60 + Rational(e, 2) / 3600;
    }

    void ReadGps(qint64 ifd)
    {
        QString latRef, lonRef;
        double lat = std::nan(""), lon = std::nan(""), alt = std::nan("");
        bool below = false;
        Walk(ifd, [&](const Entry &e) {
            switch (e.Tag) {
            case kTagLatitudeRef: latRef = Text(e); break;
            case kTagLatitude: lat = Degrees(e); break;
            case kTagLongitudeRef: lonRef = Text(e); break;
            case kTagLongitude: lon = Degrees(e); break;
            case kTagAltitudeRef: below = Integer(e) == 1; break;
            case kTagAltitude: alt = Rational(e); break;
            default: break;
            }
        });
        const bool latOk = (latRef == u"N" || latRef == u"S") && std::isfinite(lat) && lat >= 0 && lat <= 90;
        const bool lonOk = (lonRef == u"E" || lonRef == u"W") && std::isfinite(lon) && lon >= 0 && lon <= 180;
        if (latOk && lonOk) {
            FOut.HasPosition = true;
            FOut.Latitude = latRef == u"S" ? -lat : lat;
            FOut.Longitude = lonRef == u"W" ? -lon : lon;
            if (std::isfinite(alt) && alt >= 0 && alt < 1e6) {
                FOut.HasAltitude = true;
                FOut.Altitude = below ? -alt : alt;
            }
        }
    }

    static double Positive(double v) { return std::isfinite(v) && v > 0 ? v : 0; }

    QString Bad()
    {
        FOut.Damaged = true;
        return {};
    }

    TiffReader FTiff;
    TExifDetails &FOut;
};

QString Number(double v, int decimals)
{
    // No trailing zeros: "2.8", "4", "0.5".
    QString s = QString::number(v, 'f', decimals);
    if (s.contains(u'.')) {
        while (s.endsWith(u'0'))
            s.chop(1);
        if (s.endsWith(u'.'))
            s.chop(1);
    }
    return s;
}

QString Coordinate(double degrees, QChar positive, QChar negative)
{
    return QStringLiteral("%1° %2").arg(Number(std::abs(degrees), 5), degrees < 0 ? negative : positive);
}

} // namespace

bool TExifDetails::IsEmpty() const
{
    return Make.isEmpty() && Model.isEmpty() && LensMake.isEmpty() && LensModel.isEmpty() && DateTaken.isEmpty()
           && ExposureSeconds == 0 && FNumber == 0 && Iso == 0 && FocalLength == 0 && FocalLength35 == 0
           && !HasPosition;
}

TExifDetails ReadExifBlock(const uchar *data, qint64 size)
{
    TExifDetails details;
    ExifWalker(data, size, details).Read();
    return details;
}

TExifDetails ReadJpegExifDetails(const QByteArray &jpeg)
{
    const QByteArrayView block = JpegExifBlock(jpeg);
    if (block.isEmpty())
        return {};
    return ReadExifBlock(reinterpret_cast<const uchar *>(block.data()), block.size());
}

QString ExposureText(double seconds)
{
    if (seconds <= 0)
        return {};
    // Below half a second cameras mean a fraction of one: 0.004 is 1/250.
    if (seconds < 0.5) {
        const double denominator = 1 / seconds;
        if (std::abs(denominator - std::round(denominator)) < 0.05 * denominator)
            return QStringLiteral("1/%1 s").arg(qint64(std::round(denominator)));
    }
    return QStringLiteral("%1 s").arg(Number(seconds, seconds < 10 ? 1 : 0));
}

QList<QPair<QString, QString>> ExifDetailLines(const TExifDetails &d)
{
    QList<QPair<QString, QString>> lines;
    const auto add = [&](const char *caption, const QString &value) {
        if (!value.isEmpty())
            lines.append({QString::fromLatin1(caption), value});
    };
    // Many cameras repeat the make at the start of the model.
    QString camera = d.Model;
    if (!d.Make.isEmpty() && !d.Model.startsWith(d.Make.section(u' ', 0, 0), Qt::CaseInsensitive))
        camera = (d.Make + u' ' + d.Model).trimmed();
    add("Camera", camera.isEmpty() ? d.Make : camera);
    QString lens = d.LensModel;
    if (!d.LensMake.isEmpty() && !lens.startsWith(d.LensMake, Qt::CaseInsensitive))
        lens = (d.LensMake + u' ' + lens).trimmed();
    add("Lens", lens);
    // "2024:06:01 14:03:22" reads better with the date's dashes.
    QString taken = d.DateTaken;
    if (taken.size() >= 10 && taken[4] == u':' && taken[7] == u':') {
        taken[4] = u'-';
        taken[7] = u'-';
    }
    add("Taken", taken);
    add("Exposure", ExposureText(d.ExposureSeconds));
    add("Aperture", d.FNumber > 0 ? QStringLiteral("f/%1").arg(Number(d.FNumber, 1)) : QString());
    add("ISO", d.Iso > 0 ? QString::number(d.Iso) : QString());
    QString focal;
    if (d.FocalLength > 0)
        focal = QStringLiteral("%1 mm").arg(Number(d.FocalLength, 1));
    if (d.FocalLength35 > 0 && qRound(d.FocalLength) != d.FocalLength35)
        focal += (focal.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(%1 mm in 35 mm film)").arg(d.FocalLength35);
    add("Focal length", focal);
    if (d.HasPosition) {
        add("Position", Coordinate(d.Latitude, u'N', u'S') + QStringLiteral(", ") + Coordinate(d.Longitude, u'E', u'W'));
        if (d.HasAltitude)
            add("Altitude", QStringLiteral("%1 m").arg(Number(d.Altitude, 0)));
    }
    return lines;
}
