#include "TestFiles.h"

// Qt
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// Std
#include <chrono>

// System
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(data), data.size());
}

QStringList FilesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray PatternedBytes(int size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + i / 251) & 0xff);
    return data;
}

QImage DetailedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uchar((x * 7 + y * 3) & 0xFF);
            row[3 * x + 1] = uchar(((x / 5) ^ (y / 3)) * 37);
            row[3 * x + 2] = uchar(x * 255 / width);
        }
    }
    return image;
}

FifoWatch::FifoWatch(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (::mkfifo(native.constData(), 0600) != 0)
        qFatal("Cannot make the pipe %s", native.constData());
    FThread = std::thread([this, native] {
        while (!FStop) {
            // Succeeds only while a reader has the pipe open.
            const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                FOpened = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

FifoWatch::~FifoWatch()
{
    FStop = true;
    FThread.join();
}
