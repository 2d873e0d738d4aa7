#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

// One message for the broker: a reading's row, or a meter's status.
struct QueuedMessage {
    enum class Kind { Reading, Status };
    uint64_t nSeq = 0; // in the order of publishing; a spool's records name it
    Kind kind = Kind::Reading;
    int address = -1; // the meter of a status message
    std::string topic;
    std::string payload;
    bool bRetain = false;
    bool bInFlight = false; // handed to the broker, not yet acknowledged
    bool bSpooled = false;  // written to the spool
};

// The messages not yet acknowledged by the broker, in the order they were published: those in
// flight (the oldest, handed out in order) and those waiting. At most `nBound` messages, status
// messages included: when it is full, the oldest waiting reading goes, as the newest matter most
// to a plant. A newer status of a meter takes the place of one still waiting, so that status
// messages never crowd out readings. No locking of its own: its owner's lock covers it.
class CPublishQueue {
public:
    explicit CPublishQueue(size_t nBound) : m_nBound(nBound) {}

    // Appends `message` (its nSeq is given here, after the last); what had to go to make room,
    // if anything: the oldest waiting reading, or `message` itself when nothing else can go.
    std::optional<QueuedMessage> Push(QueuedMessage message);
    // Adds messages kept from an earlier run (a spool) before everything else, in their order,
    // keeping their sequence numbers; the next pushed comes after them.
    void Restore(std::deque<QueuedMessage> messages);
    // The oldest waiting message, now in flight; nullptr when none waits or `nWindow` are in
    // flight already.
    QueuedMessage* NextToSend(size_t nWindow);
    // A message in flight that could not be handed over after all: waiting again, in its place.
    void Unsend(uint64_t nSeq);
    // The message with this sequence number, taken out (acknowledged or refused).
    std::optional<QueuedMessage> Take(uint64_t nSeq);
    // Whether a status message of this meter is waiting or in flight.
    bool HasStatusOf(int address) const;

    size_t Size() const { return m_queue.size(); }
    size_t InFlight() const { return m_nInFlight; }
    size_t Readings() const { return m_nReadings; }
    bool Empty() const { return m_queue.empty(); }
    // The newest message; the queue must not be empty.
    QueuedMessage& Back() { return m_queue.back(); }
    const std::deque<QueuedMessage>& Messages() const { return m_queue; }

private:
    std::deque<QueuedMessage>::iterator Find(uint64_t nSeq);
    QueuedMessage Erase(std::deque<QueuedMessage>::iterator where);

    size_t m_nBound;
    std::deque<QueuedMessage> m_queue; // nSeq ascending
    uint64_t m_nNextSeq = 1;
    size_t m_nInFlight = 0;
    size_t m_nReadings = 0;
};
