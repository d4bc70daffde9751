#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

// Std
#include <atomic>
#include <thread>

// Small file and picture helpers the suites share.

// A named pipe at path, watched while the object lives: whenever some code
// opens it for reading, the watch opens it for writing at once, which lets
// that reader go on (it reads end-of-file) instead of waiting for ever, and
// records that the pipe was opened. Code that never opens pipes leaves
// wasOpened() false.
class FifoWatch
{
public:
    explicit FifoWatch(const QString &path);
    ~FifoWatch();
    FifoWatch(const FifoWatch &) = delete;
    FifoWatch &operator=(const FifoWatch &) = delete;
    bool wasOpened() const { return FOpened; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<bool> FOpened{false};
    std::thread FThread;
};

// The whole content of a file; empty when it cannot be read.
QByteArray ReadAll(const QString &path);

// Writes data to path (making its folder), failing the running test when it
// cannot.
void WriteFile(const QString &path, const QByteArray &data);

// size bytes of a pattern that differs with seed, so that a file copied from
// the wrong source, or cut short, does not compare equal.
QByteArray PatternedBytes(int size, int seed);

// Every file below folder, hidden ones included, as sorted relative paths.
QStringList FilesBelow(const QString &folder);

// A 24-bit picture with detail at every scale, so that decoding or scaling
// at another size than the one expected gives other bytes.
QImage DetailedPicture(int width, int height);
