#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "cli/PublishSettings.h"
#include "cli/ReadingFormat.h"

// Readings to a place beyond the output, for the plant's systems: watch --publish. Publish()
// never waits for the network: a reading is queued and sent by the publisher's own thread, in
// order, and kept while the broker is away, up to the queue's bound.
class IRowPublisher {
public:
    virtual ~IRowPublisher() = default;
    virtual void Publish(const Reading& reading) = 0;
    // True once publishing cannot go on (the broker refused the login, TLS failed): the watch
    // ends, and Failure() says why.
    virtual bool Failed() const = 0;
    virtual std::string Failure() const = 0;
    // At the end: what is queued is sent while the broker is there (for a few seconds at most),
    // availability goes to offline, and the connection is closed.
    virtual void Finish() = 0;
};

// The publisher of this build: through libmosquitto where the build has it. Nothing, with `error`
// set, when it cannot start (no MQTT in this build, the password file unreadable).
std::unique_ptr<IRowPublisher> CreateRowPublisher(const PublishSettings& settings, FILE* err,
                                                  std::string& error);
