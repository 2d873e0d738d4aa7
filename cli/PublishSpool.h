#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "cli/PublishQueue.h"
#include "serial/UniqueFd.h"

// The readings not yet acknowledged by the broker, on disk (--spool), so that a restart, SIGTERM
// or a crash while the broker is away loses none: the next start sends them first, in order.
//
// The file is a log, only ever appended to: a header line, then "M SEQ TOPIC-LENGTH
// PAYLOAD-LENGTH RETAIN" records followed by their topic and payload, and "D SEQ" records for those
// done with (acknowledged, refused or dropped). A record cut off by a crash is left out when the
// file is read again. Opening it rewrites it with the pending readings alone (written aside,
// synced, then renamed over it), and so does the run whenever done records take up most of it.
// The file is locked for the run: two watches never write one spool.
//
// Append and Done may be called from two threads; Sync (fdatasync) runs outside the lock.
class CPublishSpool {
public:
    CPublishSpool() = default;
    CPublishSpool(const CPublishSpool&) = delete;
    CPublishSpool& operator=(const CPublishSpool&) = delete;

    // Opens (or makes) the spool, reads what an earlier run left in it, and rewrites it with
    // that alone. False with `error` set: it cannot be opened or locked, or is no spool.
    // `note` says when a torn last record was left out.
    bool Open(const std::string& path, std::deque<QueuedMessage>& pending, std::string& note,
              std::string& error);
    const std::string& Path() const { return m_strPath; }

    // A reading queued: on disk once Sync has run (in the kernel's hands at once, so a crash of
    // the program loses none). False once the spool cannot be written (Failure says why).
    bool Append(const QueuedMessage& message);
    // A reading done with; the file is rewritten with `pending` (the readings still spooled)
    // when the done ones take up most of it.
    void Done(const QueuedMessage& message, const std::deque<QueuedMessage>& pending);
    // The records written so far, to the disk.
    void Sync();
    // Records were written since the last Sync.
    bool Dirty() const;
    bool Failed() const;
    std::string Failure() const;

private:
    bool Write(const std::string& record);
    bool Rewrite(const std::deque<QueuedMessage>& pending, std::string& error);
    void SetFailure(const std::string& why);

    std::string m_strPath;
    mutable std::mutex m_mutex;
    std::shared_ptr<CUniqueFd> m_pFd; // Sync holds it while a rewrite may swap in another
    bool m_bDirty = false;
    std::string m_strFailure;
    size_t m_nFileBytes = 0;
    size_t m_nLiveBytes = 0;
};
