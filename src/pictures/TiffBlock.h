#pragma once

// Qt
#include <QtGlobal>

// Reads numbers within one TIFF-structured block (an EXIF block), in the
// block's own byte order. Callers check every offset with Has before reading.
class TiffReader
{
public:
    TiffReader(const uchar *data, qint64 size) : FData(data), FSize(size) {}

    // Reads the byte-order mark and the magic number 42.
    bool Start()
    {
        if (FSize < 8)
            return false;
        if (FData[0] == 'I' && FData[1] == 'I')
            FBigEndian = false;
        else if (FData[0] == 'M' && FData[1] == 'M')
            FBigEndian = true;
        else
            return false;
        return U16(2) == 42;
    }
    qint64 Size() const { return FSize; }
    const uchar *Data() const { return FData; }
    bool Has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= FSize && length <= FSize - offset;
    }
    quint16 U16(qint64 offset) const
    {
        const uchar *p = FData + offset;
        return FBigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
    }
    quint32 U32(qint64 offset) const
    {
        const uchar *p = FData + offset;
        return FBigEndian ? quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]
                          : quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
    }

private:
    const uchar *FData;
    qint64 FSize;
    bool FBigEndian = false;
};
