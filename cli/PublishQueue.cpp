#include "cli/PublishQueue.h"

#include <algorithm>
#include <utility>

std::deque<QueuedMessage>::iterator CPublishQueue::Find(uint64_t nSeq) {
    const auto where =
        std::lower_bound(m_queue.begin(), m_queue.end(), nSeq,
                         [](const QueuedMessage& m, uint64_t seq) { return m.nSeq < seq; });
    return where != m_queue.end() && where->nSeq == nSeq ? where : m_queue.end();
}

QueuedMessage CPublishQueue::Erase(std::deque<QueuedMessage>::iterator where) {
    QueuedMessage message = std::move(*where);
    m_queue.erase(where);
    m_nInFlight -= message.bInFlight ? 1 : 0;
    m_nReadings -= message.kind == QueuedMessage::Kind::Reading ? 1 : 0;
    return message;
}

std::optional<QueuedMessage> CPublishQueue::Push(QueuedMessage message) {
    message.nSeq = m_nNextSeq++;
    message.bInFlight = false;
    const auto waiting = [](const QueuedMessage& m) { return !m.bInFlight; };
    if (message.kind == QueuedMessage::Kind::Status) {
        const int address = message.address;
        const auto older = std::find_if(m_queue.begin(), m_queue.end(), [&](const auto& m) {
            return waiting(m) && m.kind == QueuedMessage::Kind::Status && m.address == address;
        });
        if (older != m_queue.end()) {
            Erase(older); // superseded: the broker keeps only the newest status anyway
        }
    }
    std::optional<QueuedMessage> dropped;
    if (m_queue.size() >= m_nBound) {
        auto victim = std::find_if(m_queue.begin(), m_queue.end(), [&](const auto& m) {
            return waiting(m) && m.kind == QueuedMessage::Kind::Reading;
        });
        if (victim == m_queue.end()) {
            victim = std::find_if(m_queue.begin(), m_queue.end(), waiting);
        }
        if (victim == m_queue.end()) {
            return message; // all of it in flight: the newest is the one that cannot wait
        }
        dropped = Erase(victim);
    }
    m_nReadings += message.kind == QueuedMessage::Kind::Reading ? 1 : 0;
    m_queue.push_back(std::move(message));
    return dropped;
}

void CPublishQueue::Restore(std::deque<QueuedMessage> messages) {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        it->bInFlight = false;
        m_nReadings += it->kind == QueuedMessage::Kind::Reading ? 1 : 0;
        m_nNextSeq = std::max(m_nNextSeq, it->nSeq + 1);
        m_queue.push_front(std::move(*it));
    }
}

QueuedMessage* CPublishQueue::NextToSend(size_t nWindow) {
    if (m_nInFlight >= nWindow) {
        return nullptr;
    }
    // In flight are the oldest, so the next waits right behind them (or among them, handed back
    // by Unsend: it is older, and goes first).
    const auto next = std::find_if(m_queue.begin(), m_queue.end(),
                                   [](const QueuedMessage& m) { return !m.bInFlight; });
    if (next == m_queue.end()) {
        return nullptr;
    }
    next->bInFlight = true;
    ++m_nInFlight;
    return &*next;
}

void CPublishQueue::Unsend(uint64_t nSeq) {
    const auto where = Find(nSeq);
    if (where != m_queue.end() && where->bInFlight) {
        where->bInFlight = false;
        --m_nInFlight;
    }
}

std::optional<QueuedMessage> CPublishQueue::Take(uint64_t nSeq) {
    const auto where = Find(nSeq);
    if (where == m_queue.end()) {
        return std::nullopt;
    }
    return Erase(where);
}

bool CPublishQueue::HasStatusOf(int address) const {
    return std::any_of(m_queue.begin(), m_queue.end(), [address](const QueuedMessage& m) {
        return m.kind == QueuedMessage::Kind::Status && m.address == address;
    });
}
