#pragma once

#include <atomic>
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
    // True once publishing cannot even start (the broker refused the login at the first connect,
    // TLS failed): the watch ends, and Failure() says why. Trouble after a good start never ends
    // the watch: its rows go on, and Incomplete() tells at the end.
    virtual bool Failed() const = 0;
    virtual std::string Failure() const = 0;
    // At the end: what is queued is sent while the broker is there (connecting at once when it
    // was away), availability goes to offline, the connection is closed, and one line on stderr
    // says what became of the readings.
    virtual void Finish() = 0;
    // After Finish: readings were refused, dropped or left unsent (those kept in a spool do not
    // count), or the broker refused the login or TLS failed on the way.
    virtual bool Incomplete() const = 0;
};

// The publisher of this build: through libmosquitto where the build has it. Nothing, with `error`
// set, when it cannot start (no MQTT in this build, the password or CA file cannot be used, the
// spool cannot be opened): a usage error. `stop` ends a wait for a password that does not come.
std::unique_ptr<IRowPublisher> CreateRowPublisher(const PublishSettings& settings, FILE* err,
                                                  const std::atomic<bool>& stop,
                                                  std::string& error);
