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
    file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
    if (file == nullptr) {
        LogLine() << "Recording file could not be opened for writing!";
        return false;
    }
    opened.store(true);
    return true;
}

void RecordFile::close()
{
    std::lock_guard<std::mutex> lock(fileMutex);
    opened.store(false);
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void RecordFile::write(RecordType kind, const uint8_t* bytes, size_t length)
{
    if (!opened.load() || int(kind) != chosen.load() || length == 0)
        return;
    std::lock_guard<std::mutex> lock(fileMutex);
    if (file == nullptr)
        return;
    written.fetch_add(std::fwrite(bytes, 1, length, file));
}
