// The magnitudes of the last few transforms, averaged bin by bin: each new
// transform gives an average at once, over as many of the recent ones as
// there are, so that an estimate read from it steadies as they arrive
// instead of waiting for a whole batch.
#pragma once

#include <cstddef>
#include <vector>

class RecentTransforms {
public:
    explicit RecentTransforms(int depth);

    // One transform's magnitudes; one of another size than those held
    // starts again from it.
    void add(const std::vector<float>& magnitudes);
    // The bin-by-bin mean of the last `depth` added (fewer at first); how
    // many went into it (0: none held, `average` untouched).
    int mean(std::vector<float>& average) const;
    void clear();

private:
    std::vector<std::vector<float>> held;   // a ring of up to `depth`
    size_t next = 0;
    int depth;
};
