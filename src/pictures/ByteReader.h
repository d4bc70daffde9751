#pragma once

// Qt
#include <QByteArrayView>
#include <QtGlobal>

// Std
#include <algorithm>
#include <cstring>

// A view over bytes of a file with checked reads, little-endian unless the
// name says otherwise. A read outside the view throws TError (default
// constructed), so a decoder never looks past what it holds; each decoder
// names the error that fits it (a bad metafile record, a bitmap that is not
// valid). The view does not own its bytes.
template <class TError>
class TByteReader
{
public:
    TByteReader(const char *data, qint64 size) : FData(reinterpret_cast<const uchar *>(data)), FSize(size) {}
    explicit TByteReader(QByteArrayView v) : TByteReader(v.data(), v.size()) {}

    qint64 Size() const { return FSize; }
    const uchar *Data() const { return FData; }

    bool Has(qint64 offset, qint64 count) const
    {
        return offset >= 0 && count >= 0 && offset <= FSize && count <= FSize - offset;
    }
    void Need(qint64 offset, qint64 count) const
    {
        if (!Has(offset, count))
            throw TError();
    }

    // The bytes from offset on (none when offset lies beyond the end).
    TByteReader From(qint64 offset) const
    {
        TByteReader b = *this;
        offset = std::clamp<qint64>(offset, 0, FSize);
        b.FData += offset;
        b.FSize -= offset;
        return b;
    }

    quint8 U8(qint64 off) const { Need(off, 1); return FData[off]; }
    quint16 U16(qint64 off) const
    {
        Need(off, 2);
        return quint16(FData[off] | FData[off + 1] << 8);
    }
    qint16 S16(qint64 off) const { return qint16(U16(off)); }
    quint32 U32(qint64 off) const
    {
        Need(off, 4);
        return quint32(FData[off]) | quint32(FData[off + 1]) << 8 | quint32(FData[off + 2]) << 16
               | quint32(FData[off + 3]) << 24;
    }
    qint32 S32(qint64 off) const { return qint32(U32(off)); }
    // Big-endian, as PNG stores its numbers.
    quint32 U32Be(qint64 off) const
    {
        Need(off, 4);
        return quint32(FData[off]) << 24 | quint32(FData[off + 1]) << 16 | quint32(FData[off + 2]) << 8
               | quint32(FData[off + 3]);
    }
    float F32(qint64 off) const
    {
        const quint32 bits = U32(off);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    QByteArrayView View(qint64 off, qint64 count) const
    {
        Need(off, count);
        return QByteArrayView(reinterpret_cast<const char *>(FData + off), count);
    }

private:
    const uchar *FData;
    qint64 FSize;
};
