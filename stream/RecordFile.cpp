#include "stream/RecordFile.h"

#include "core/Log.h"

#include <QFile>

bool RecordFile::open(const QString& fileName)
{
    std::lock_guard<std::mutex> lock(fileMutex);
    if (file != nullptr) {
        opened.store(false);
        std::fclose(file);
        file = nullptr;
    }
    written.store(0);
    writeFailed.store(false);
    lost.store(0);
    firstPosition.store(-1);
    file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
    if (file == nullptr) {
        LogLine() << "Recording file could not be opened for writing!";
        return false;
    }
    // Each block is one write of its own: a failure shows at the block that
    // met it, not at some later flush.
    std::setvbuf(file, nullptr, _IONBF, 0);
    opened.store(true);
    return true;
}

void RecordFile::close()
{
    std::lock_guard<std::mutex> lock(fileMutex);
    opened.store(false);
    if (file != nullptr) {
        // What the stream still buffers goes out now; it may fail too.
        const bool flushed = std::fflush(file) == 0;
        std::fclose(file);
        file = nullptr;
        if (!flushed && !writeFailed.load()) {
            writeFailed.store(true);
            LogLine() << "Recording file could not be written, recording stopped.";
        }
    }
}

void RecordFile::stopAfterFailure()
{
    opened.store(false);
    writeFailed.store(true);
    std::fclose(file);
    file = nullptr;
    LogLine() << "Recording file could not be written, recording stopped.";
}

void RecordFile::write(RecordType kind, const uint8_t* bytes, size_t length, int64_t position)
{
    if (int(kind) != chosen.load() || length == 0)
        return;
    if (!opened.load()) {
        if (writeFailed.load())
            lost.fetch_add(length);
        return;
    }
    std::lock_guard<std::mutex> lock(fileMutex);
    if (file == nullptr)
        return;
    if (written.load() == 0)
        firstPosition.store(position);
    const size_t n = std::fwrite(bytes, 1, length, file);
    written.fetch_add(n);
    if (n != length) {
        lost.fetch_add(length - n);
        stopAfterFailure();
    }
}
