// Local
#include "AppError.h"
#include "FuzzSupport.h"
#include "Metafile.h"

// Qt
#include <QByteArray>

// Std
#include <cstddef>
#include <cstdint>

namespace {

void Put32(QByteArray &b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char(v >> (8 * i)));
}

// A 100 x 100 pixel picture (96 dpi) whose only record is one comment
// holding an EMF+ header (dual when the first byte is odd) and the input's
// EMF+ records.
QByteArray Wrap(const uint8_t *data, size_t size)
{
    QByteArray plus;
    Put32(plus, 0x4001 | ((size > 0 && (data[0] & 1)) ? 0x10000u : 0u));
    Put32(plus, 28);
    Put32(plus, 16);
    for (quint32 v : {0xDBC01002u, 1u, 96u, 96u})
        Put32(plus, v);
    if (size > 1)
        plus.append(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    while (plus.size() % 4)
        plus.append('\0');

    QByteArray records;
    Put32(records, 70);
    Put32(records, quint32(16 + plus.size()));
    Put32(records, quint32(4 + plus.size()));
    Put32(records, 0x2B464D45);
    records += plus;
    for (quint32 v : {14u, 20u, 0u, 16u, 20u})
        Put32(records, v);

    QByteArray file;
    for (quint32 v : {1u, 88u, 0u, 0u, 100u, 100u, 0u, 0u, 2645u, 2645u, 0x464D4520u, 0x10000u})
        Put32(file, v);
    Put32(file, quint32(88 + records.size()));
    Put32(file, 3);
    Put32(file, 16);   // handles, reserved
    Put32(file, 0);
    Put32(file, 0);
    Put32(file, 0);
    for (quint32 v : {960u, 960u, 254u, 254u})
        Put32(file, v);
    return file + records;
}

quint32 U32(const uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The EMF+ records of an enhanced metafile's comments, after a flag byte.
QByteArray PlusRecordsOf(const uint8_t *data, size_t size)
{
    QByteArray records(1, '\0');
    size_t off = size >= 8 ? U32(data + 4) : size;
    while (off + 16 <= size) {
        const size_t length = U32(data + off + 4);
        if (length < 8 || length > size - off)
            break;
        if (U32(data + off) == 70 && length >= 16 && U32(data + off + 12) == 0x2B464D45)
            records.append(reinterpret_cast<const char *>(data) + off + 16, qsizetype(length - 16));
        off += length;
    }
    return records;
}

} // namespace

// A flag byte and a run of EMF+ records, put into a small metafile. Input
// that starts like an enhanced metafile (the seeds are real files with EMF+
// records) gives its EMF+ records.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const bool whole = size >= 8 && U32(data) == 1;
    const QByteArray records = whole ? PlusRecordsOf(data, size) : QByteArray();
    const QByteArray file = whole ? Wrap(reinterpret_cast<const uint8_t *>(records.constData()), size_t(records.size()))
                                  : Wrap(data, size);
    RunOnPoolThread([&] {
        try {
            RenderMetafile(file, MetafileKind::Emf);
        } catch (const AppError &) {
        }
    });
    return 0;
}
