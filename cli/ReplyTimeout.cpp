#include "cli/ReplyTimeout.h"

#include <algorithm>

#include "protocol/FrameCodec.h"
#include "serial/LineTiming.h"

std::chrono::milliseconds DefaultReplyTimeout(const LineSettings& line) {
    const std::chrono::microseconds onLine{LineTimeUs(line, kWireFrameLength + kMinResponseLength)};
    return std::chrono::ceil<std::chrono::milliseconds>(onLine) + kReplyStartMargin +
           kAdapterLatency;
}

std::chrono::milliseconds NetworkMargin(const LineSettings& line) {
    constexpr std::chrono::microseconds kNetworkDelay{5000};
    constexpr int kGatheredCharacters = 2;
    return std::chrono::ceil<std::chrono::milliseconds>(
        kNetworkDelay + std::chrono::microseconds{LineTimeUs(line, kGatheredCharacters)});
}

std::chrono::microseconds CharacterTime(const LineSettings& line) {
    return std::chrono::microseconds{LineTimeUs(line, 1)};
}

std::chrono::milliseconds ReplyTimeout(const BusOptions& options, bool bNetwork) {
    if (options.timeout.count() > 0) {
        return options.timeout;
    }
    return DefaultReplyTimeout(options.line) + options.rtsDelayBefore + options.rtsDelayAfter +
           (bNetwork ? NetworkMargin(options.line) : std::chrono::milliseconds{0});
}

std::optional<std::chrono::microseconds> FirstByteLimit(const BusOptions& options, bool bNetwork) {
    if (options.timeout.count() > 0) {
        return std::nullopt;
    }
    const std::chrono::microseconds request{LineTimeUs(options.line, kWireFrameLength)};
    return request + kScanListenMargin + options.rtsDelayBefore + options.rtsDelayAfter +
           (bNetwork ? NetworkMargin(options.line) : std::chrono::milliseconds{0});
}

std::chrono::milliseconds ReplyWindow(const BusOptions& options, bool bNetwork) {
    const std::chrono::milliseconds window =
        options.replyWindow.count() > 0 ? options.replyWindow : kDefaultReplyWindow;
    return std::max(window, ReplyTimeout(options, bNetwork));
}
