// The symbols the constellation shows, on their way from the demodulator's
// thread to the display's: the newest of them, and the constellation they
// belong to. The demodulator only copies a block's worth in; the display
// takes them when it refreshes and draws them on its own thread.
#pragma once

#include <atomic>
#include <complex>
#include <cstddef>
#include <mutex>
#include <vector>

class ConstellationObject;

class DisplaySymbols {
public:
    // What a display refreshing every 20 ms can take in: about 60 ms of a
    // 250 ksym/s signal, a few blocks of any.
    static constexpr size_t kCapacity = 16384;

    DisplaySymbols();
    // Demodulator's thread: one block's symbols and their constellation
    // (null: none known).
    void push(const std::vector<std::complex<float>>& symbols, const ConstellationObject* constellation);
    // Display's thread: the symbols pushed since the last take, oldest
    // first (only the newest kCapacity when more came), into `out`.
    void take(std::vector<std::complex<float>>& out);
    const ConstellationObject* constellation() const { return reference.load(std::memory_order_acquire); }

private:
    std::mutex mutex;
    std::vector<std::complex<float>> ring;   // kCapacity, written round
    size_t next = 0;    // where the next symbol goes
    size_t fresh = 0;   // symbols not yet taken, at most kCapacity
    std::atomic<const ConstellationObject*> reference{nullptr};
};
