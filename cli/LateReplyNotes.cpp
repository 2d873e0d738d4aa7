#include "cli/LateReplyNotes.h"

#include <algorithm>

#include "protocol/Address.h"

namespace {

// What the suggestion adds to the delay seen: the turnaround of the same meter varies, and a USB
// adapter may hold the reply for its latency timer.
constexpr std::chrono::milliseconds kSuggestMargin{25};
constexpr std::chrono::milliseconds kSuggestStep{50};
// The longest --timeout the command line takes.
constexpr std::chrono::milliseconds kMaxSuggestion{600'000};

} // namespace

std::chrono::milliseconds SuggestedTimeout(std::chrono::milliseconds delay) {
    const auto wanted = std::max(delay, std::chrono::milliseconds{0}) + kSuggestMargin;
    const auto steps = (wanted + kSuggestStep - std::chrono::milliseconds{1}) / kSuggestStep;
    return std::min(steps * kSuggestStep, kMaxSuggestion);
}

void CLateReplyNotes::Note(const LateReply& late) {
    if (!IsAddress(late.address)) {
        return;
    }
    const std::chrono::milliseconds suggestion = SuggestedTimeout(late.delay);
    auto& said = m_aSaid[static_cast<size_t>(late.address)];
    if (suggestion <= said) {
        return;
    }
    said = suggestion;
    std::fprintf(m_pErr,
                 "qd7-bus: %s answered %lld ms after its request%s; --timeout %lld waits for it\n",
                 FormatAddress(late.address).c_str(), static_cast<long long>(late.delay.count()),
                 late.bBeyondWindow ? ", beyond its reply window" : "",
                 static_cast<long long>(suggestion.count()));
    std::fflush(m_pErr);
}
