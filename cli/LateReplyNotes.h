#pragma once

#include <array>
#include <chrono>
#include <cstdio>

#include "cli/BusExchange.h"

// The --timeout that waits for a reply `delay` after its request, with room for the jitter of a
// meter and an adapter: the delay plus 25 ms, rounded up to a multiple of 50 ms.
std::chrono::milliseconds SuggestedTimeout(std::chrono::milliseconds delay);

// Says on stderr that a meter answered after its request had timed out, and the --timeout that
// would wait for it: "07 answered 150 ms after its request; --timeout 200 waits for it" (and
// "..., beyond its reply window; ..." for a reply later than the window). Once per
// meter, and again only when a later reply needs a longer timeout than the one already named, so
// that a watch left running for a day does not fill its log with the same line.
class CLateReplyNotes {
public:
    explicit CLateReplyNotes(FILE* err) : m_pErr(err) {}

    void Note(const LateReply& late);

private:
    FILE* m_pErr;
    std::array<std::chrono::milliseconds, kAddressCount> m_aSaid{}; // 0: nothing said yet
};
