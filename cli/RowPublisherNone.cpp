#include "cli/RowPublisher.h"

// A build without an MQTT client library (the Windows build): --publish is refused.
std::unique_ptr<IRowPublisher> CreateRowPublisher(const PublishSettings&, FILE*,
                                                  const std::atomic<bool>&, std::string& error) {
    error = "--publish: this qd7-bus was built without MQTT";
    return nullptr;
}
