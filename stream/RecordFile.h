// The recording file: a plain concatenation of the blocks of one kind (no
// header, no framing), written from the stage threads that produce them.
#pragma once

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

// What a recording holds; the values are the indices of the type chooser.
enum class RecordType : int {
    TransportStream = 0,   // TS blocks and GSE PDUs, as sent to the network
    Symbols = 1,           // the demodulator's input blocks, unchanged
    Samples = 2,           // the device's raw blocks: int16 I, Q
};

// One lock covers every write and the closing of the file, so the file is
// never closed while a stage writes to it. Blocks of a type other than the
// chosen one are ignored without taking the lock.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile() { close(); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Closes any open file, then creates or truncates `fileName` (taken in
    // the local 8-bit encoding). On failure logs "Recording file could not
    // be opened for writing!" and returns false; nothing is recorded then.
    bool open(const QString& fileName);
    void close();
    bool isOpen() const { return opened.load(); }

    void setType(RecordType t) { chosen.store(int(t)); }
    RecordType type() const { return RecordType(chosen.load()); }

    // Appends the block with one write when a file is open and `kind` is the
    // chosen type. A write that fails (disk full, file system gone) ends the
    // recording: "Recording file could not be written, recording stopped."
    // once, the file closed, and what was not written counted as lost.
    // `position` says where the block begins in its source (the caller's
    // count, e.g. samples since the input began); the first block written
    // to a file gives the file's origin().
    void write(RecordType kind, const uint8_t* bytes, size_t length, int64_t position = -1);

    // Bytes written to the current file (the status display's counter).
    uint64_t bytesWritten() const { return written.load(); }
    // True once a write to the current file failed; the bytes that were
    // meant for it since.
    bool failed() const { return writeFailed.load(); }
    uint64_t bytesLost() const { return lost.load(); }
    // The position of the current file's first block; −1 before one is
    // written or when the writer gave none.
    int64_t origin() const { return firstPosition.load(); }

private:
    std::mutex fileMutex;   // guards `file`
    std::FILE* file = nullptr;
    std::atomic<bool> opened{false};
    std::atomic<int> chosen{int(RecordType::TransportStream)};
    std::atomic<uint64_t> written{0};
    std::atomic<bool> writeFailed{false};
    std::atomic<uint64_t> lost{0};
    std::atomic<int64_t> firstPosition{-1};

    void stopAfterFailure();   // with fileMutex held
};
