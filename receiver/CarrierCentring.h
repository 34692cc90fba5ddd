// Keeps the carrier in the middle of the matched filter. The framing finds a
// carrier anywhere within a quarter of the symbol rate and its loop follows
// it, but the filter ahead, centred on the mixer's frequency, passes a
// carrier far from it only in part. Once the loop stands far off, the mixer
// moves by as much; the move travels down the chain with the block it
// begins in, and the loop steps back by the same amount where that block's
// symbols reach it, so that the oscillator follows the carrier through.
#pragma once

#include "core/WorkBuffer.h"

#include <mutex>

class CarrierCentring {
public:
    // How far off (cycles per symbol) the loop may stand before the mixer
    // moves: while the framing acquires, and once it holds the lock (where
    // each move risks a slip, and a drift should not set off a move a minute).
    static constexpr double kAcquiringLimit = 0.05;
    static constexpr double kLockedLimit = 0.12;
    // Beyond this the loop is not on a carrier at all (a mirrored spectrum
    // read the wrong way round reads as one a quarter of Rs off, and a
    // header read so can pull the loop anywhere): no move.
    static constexpr double kPlausible = 0.3;
    // The move (cycles per symbol) for a loop standing at `cycles`; 0: none.
    static double moveFor(double cycles, bool locked);

    void setEnabled(bool on);
    bool enabled() const;

    // No move is asked for, on its way or in the mixer: another may be asked.
    bool idle() const;
    // A move of `cycles` per symbol was asked of the mixer; with `restart`
    // the loop starts again where it arrives instead of following.
    void requested(double cycles, bool restart = false);
    // The mixer began `block` with it, or set another frequency instead.
    void applied(const WorkBuffer* block);
    void replaced();
    // `from` went on as `to` (nullptr: dropped, the move is forgotten).
    void passed(const WorkBuffer* from, const WorkBuffer* to);
    // True (with the move) when `block` carries it, about to be demodulated.
    bool arrives(const WorkBuffer* block, double& cycles, bool& restart);
    // `block` has been demodulated: when it carried the move, the loop has
    // stepped, and the next move may be asked for.
    void demodulated(const WorkBuffer* block);

private:
    mutable std::mutex mutex;
    bool on = true;
    bool busy = false;
    const WorkBuffer* at = nullptr;
    double move = 0;
    bool restartLoop = false;
};
