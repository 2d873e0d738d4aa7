#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

// Tasks of RunUntil still running, given up by their callers or not. While a name server does not
// answer, a port that is opened again at every poll tick would otherwise pile up a thread a tick.
inline std::atomic<int>& RunningBoundedTasks() {
    static std::atomic<int> running{0};
    return running;
}
inline constexpr int kMaxRunningBoundedTasks = 4;

// Runs a call that may block for longer than the caller can wait (the system's name lookup waits
// for name servers as long as its own configuration says) in a thread of its own, and waits for it
// until `deadline`. Nothing when the deadline passed first, no thread could be started, or too
// many earlier calls have not ended yet: the call then finishes on its own and its result is
// dropped. The task must own everything it uses.
template <typename Task>
auto RunUntil(Task task, std::chrono::steady_clock::time_point deadline)
    -> std::optional<decltype(task())> {
    using Result = decltype(task());
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
    };
    std::atomic<int>& running = RunningBoundedTasks();
    if (running.fetch_add(1) >= kMaxRunningBoundedTasks) {
        running.fetch_sub(1);
        return std::nullopt;
    }
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, task = std::move(task), &running]() mutable {
            Result result = task();
            const std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->done.notify_all();
            running.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        running.fetch_sub(1);
        return std::nullopt; // out of threads: no lookup rather than one without a bound
    }
    std::unique_lock lock(shared->mutex);
    shared->done.wait_until(lock, deadline, [&] { return shared->result.has_value(); });
    return std::move(shared->result);
}
