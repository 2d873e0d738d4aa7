// The publisher's queue and accounts, without a broker: what goes when the queue is full, the
// window of messages in flight, and what the end says of every reading.
#include <gtest/gtest.h>

#include <string>

#include "cli/PublishAccounts.h"
#include "cli/PublishQueue.h"

namespace {

QueuedMessage Reading(const std::string& payload) {
    QueuedMessage m;
    m.topic = "p/07/P0";
    m.payload = payload;
    return m;
}

QueuedMessage Status(int address, const std::string& payload) {
    QueuedMessage m;
    m.kind = QueuedMessage::Kind::Status;
    m.address = address;
    m.topic = "p/" + std::to_string(address) + "/status";
    m.payload = payload;
    return m;
}

std::string Payloads(const CPublishQueue& queue) {
    std::string text;
    for (const QueuedMessage& m : queue.Messages()) {
        text += (text.empty() ? "" : " ") + m.payload + (m.bInFlight ? "*" : "");
    }
    return text;
}

// Full, the oldest waiting reading goes: never one in flight (the broker may have it), never a
// status while a reading can go, and a newer status of a meter replaces its waiting one.
TEST(PublishQueue, AFullQueueDropsTheOldestWaitingReading) {
    CPublishQueue queue(4);
    EXPECT_FALSE(queue.Push(Reading("r1")));
    EXPECT_FALSE(queue.Push(Status(7, "ok")));
    EXPECT_FALSE(queue.Push(Reading("r2")));
    ASSERT_NE(queue.NextToSend(1), nullptr); // r1 in flight
    EXPECT_FALSE(queue.Push(Reading("r3")));
    const auto dropped = queue.Push(Reading("r4"));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->payload, "r2");
    EXPECT_EQ(Payloads(queue), "r1* ok r3 r4");
    EXPECT_FALSE(queue.Push(Status(7, "silent"))) << "takes the place of the waiting status";
    EXPECT_EQ(Payloads(queue), "r1* r3 r4 silent");
    EXPECT_TRUE(queue.HasStatusOf(7));
    EXPECT_FALSE(queue.HasStatusOf(12));
    EXPECT_EQ(queue.Readings(), 3U);

    // Everything in flight: the new reading is the one that cannot wait.
    CPublishQueue tiny(1);
    EXPECT_FALSE(tiny.Push(Reading("a")));
    ASSERT_NE(tiny.NextToSend(5), nullptr);
    const auto refused = tiny.Push(Reading("b"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->payload, "b");
    EXPECT_EQ(Payloads(tiny), "a*");
}

// Messages go out oldest first, no more than the window at once; one that could not be handed
// over goes first again; an acknowledgement takes its message out wherever it stands. Readings
// kept from an earlier run go before everything, and the numbering goes on after them.
TEST(PublishQueue, TheWindowHandsOutInOrder) {
    CPublishQueue queue(10);
    std::deque<QueuedMessage> spooled;
    spooled.push_back(Reading("old1"));
    spooled.back().nSeq = 41;
    spooled.push_back(Reading("old2"));
    spooled.back().nSeq = 42;
    queue.Restore(std::move(spooled));
    queue.Push(Reading("n1"));
    queue.Push(Reading("n2"));
    EXPECT_EQ(queue.Messages().back().nSeq, 44U);
    QueuedMessage* first = queue.NextToSend(2);
    QueuedMessage* second = queue.NextToSend(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(queue.NextToSend(2), nullptr) << "the window is full";
    EXPECT_EQ(Payloads(queue), "old1* old2* n1 n2");
    const uint64_t nSecond = second->nSeq;
    queue.Unsend(first->nSeq);
    const auto taken = queue.Take(nSecond);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->payload, "old2");
    EXPECT_EQ(queue.NextToSend(2)->payload, "old1");
    EXPECT_EQ(queue.NextToSend(2)->payload, "n1");
    EXPECT_EQ(queue.InFlight(), 2U);
    EXPECT_FALSE(queue.Take(999));
}

TEST(PublishAccounts, EveryReadingIsAccountedForAndEachTroubleSaidOnce) {
    CPublishAccounts accounts(100);
    accounts.Sent();
    accounts.Sent();
    EXPECT_EQ(accounts.Refused("p/07/P0", "not authorized (reason 0x87)", true),
              "the broker refused p/07/P0: not authorized (reason 0x87); its readings are "
              "counted as refused, not kept");
    EXPECT_EQ(accounts.Refused("p/07/P0", "not authorized (reason 0x87)", true), "");
    EXPECT_EQ(accounts.Dropped(true), "the broker takes readings slower than the bus gives them: "
                                      "the queue is full (100 readings), and the oldest are "
                                      "dropped");
    EXPECT_EQ(accounts.Dropped(true), "");
    EXPECT_EQ(accounts.Queued(), "2 readings dropped from the full queue; it has room again");
    EXPECT_EQ(accounts.Queued(), "");
    EXPECT_EQ(accounts.Dropped(false),
              "the broker is away and the queue is full (100 readings): the oldest are dropped");
    EXPECT_EQ(accounts.Summary(4, 0, ""),
              "2 readings sent, 2 refused by the broker (p/07/P0 (not authorized (reason 0x87)) "
              "2), 3 dropped from the full queue, 4 not sent");
    EXPECT_TRUE(accounts.Incomplete(0));

    CPublishAccounts whole(100);
    whole.Sent();
    EXPECT_EQ(whole.Summary(0, 5, "q.spool"), "1 reading sent, 0 refused by the broker, 0 dropped "
                                              "from the full queue, 5 kept in the spool q.spool "
                                              "for the next start");
    EXPECT_FALSE(whole.Incomplete(0)) << "kept in a spool is not lost";
    EXPECT_TRUE(whole.Incomplete(1));
    whole.NoteTrouble();
    EXPECT_TRUE(whole.Incomplete(0));
}

} // namespace
