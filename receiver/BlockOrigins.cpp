#include "receiver/BlockOrigins.h"

#include <algorithm>

void BlockOrigins::entered(const WorkBuffer* block, uint64_t origin)
{
    std::lock_guard<std::mutex> lock(mutex);
    // A buffer is in one place at a time: one that comes back from the pool
    // holding an old entry (a stage that released it without passing it
    // on) starts afresh.
    auto it = std::find_if(entries.begin(), entries.end(), [block](const Entry& e) { return e.block == block; });
    if (it != entries.end())
        it->origin = origin;
    else
        entries.push_back({block, origin});
}

void BlockOrigins::passed(const WorkBuffer* from, const WorkBuffer* to)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = std::find_if(entries.begin(), entries.end(), [from](const Entry& e) { return e.block == from; });
    if (it == entries.end())
        return;
    if (to == nullptr) {
        entries.erase(it);
        return;
    }
    const uint64_t origin = it->origin;
    entries.erase(it);
    auto stale = std::find_if(entries.begin(), entries.end(), [to](const Entry& e) { return e.block == to; });
    if (stale != entries.end())
        stale->origin = origin;
    else
        entries.push_back({to, origin});
}

std::optional<uint64_t> BlockOrigins::take(const WorkBuffer* block)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = std::find_if(entries.begin(), entries.end(), [block](const Entry& e) { return e.block == block; });
    if (it == entries.end())
        return std::nullopt;
    const uint64_t origin = it->origin;
    entries.erase(it);
    return origin;
}

void BlockOrigins::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    entries.clear();
}
