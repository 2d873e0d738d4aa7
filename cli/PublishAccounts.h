#pragma once

#include <cstddef>
#include <map>
#include <string>

// What became of every reading given to the publisher: sent (acknowledged by the broker),
// refused by the broker (with its reason, per topic), dropped from the full queue (counted as it
// happens), or left at the end (not sent, or kept in the spool for the next start). It also
// words what happens for stderr, once for each run of the same trouble. No locking of its own.
class CPublishAccounts {
public:
    explicit CPublishAccounts(size_t nQueue) : m_nQueue(nQueue) {}

    void Sent() { ++m_nSent; }
    // The broker refused a message on `topic` for `reason`: the words to say the first time for
    // this topic and reason, empty after that. Readings are counted.
    std::string Refused(const std::string& topic, const std::string& reason, bool bReading);
    // A reading dropped from the full queue: the words for the first drop of a run, else empty.
    std::string Dropped(bool bConnected);
    // A reading queued without a drop: the words that end a run of drops, else empty.
    std::string Queued();
    // Publishing went wrong for a while after a good start (the login refused, TLS failed).
    void NoteTrouble() { m_bTrouble = true; }

    size_t SentCount() const { return m_nSent; }
    size_t RefusedCount() const { return m_nRefused; }
    size_t DroppedCount() const { return m_nDropped; }
    // The line at the end: the four counts. Of the readings left at the end, `nUnsent` are
    // lost and `nSpooled` are kept in `spoolFile` (when there is one) for the next start.
    std::string Summary(size_t nUnsent, size_t nSpooled, const std::string& spoolFile) const;
    // Whether the end must say, by its exit code, that not every reading reached the broker:
    // readings held in a spool do not count.
    bool Incomplete(size_t nUnsent) const;

private:
    size_t m_nQueue;
    size_t m_nSent = 0;
    size_t m_nRefused = 0;
    size_t m_nDropped = 0;
    size_t m_nDroppedInRun = 0;
    bool m_bTrouble = false;
    std::map<std::string, size_t> m_mapRefusedByTopic; // topic and reason -> readings
};
