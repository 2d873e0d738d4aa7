#include "cli/MqttWords.h"

#include <mosquitto.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

// MQTT 5.0, 2.4 "Reason Code": the names the standard gives, which brokers log too.
constexpr std::array<std::pair<int, std::string_view>, 36> kReasons = {{
    {0x00, "success"},
    {0x04, "disconnect with will message"},
    {0x10, "no matching subscribers"},
    {0x80, "unspecified error"},
    {0x81, "malformed packet"},
    {0x82, "protocol error"},
    {0x83, "implementation specific error"},
    {0x84, "unsupported protocol version"},
    {0x85, "client identifier not valid"},
    {0x86, "bad user name or password"},
    {0x87, "not authorized"},
    {0x88, "server unavailable"},
    {0x89, "server busy"},
    {0x8A, "banned"},
    {0x8B, "server shutting down"},
    {0x8C, "bad authentication method"},
    {0x8D, "keep alive timeout"},
    {0x8E, "session taken over"},
    {0x8F, "topic filter invalid"},
    {0x90, "topic name invalid"},
    {0x91, "packet identifier in use"},
    {0x92, "packet identifier not found"},
    {0x93, "receive maximum exceeded"},
    {0x94, "topic alias invalid"},
    {0x95, "packet too large"},
    {0x96, "message rate too high"},
    {0x97, "quota exceeded"},
    {0x98, "administrative action"},
    {0x99, "payload format invalid"},
    {0x9A, "retain not supported"},
    {0x9B, "QoS not supported"},
    {0x9C, "use another server"},
    {0x9D, "server moved"},
    {0x9E, "shared subscriptions not supported"},
    {0x9F, "connection rate exceeded"},
    {0xA0, "maximum connect time"},
}};

std::string Hex(int code) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(code) & 0xFFU);
    return text.data();
}

} // namespace

std::string ReasonText(int reason) {
    for (const auto& [code, name] : kReasons) {
        if (code == reason) {
            return std::string(name) + ", reason " + Hex(reason);
        }
    }
    return "reason " + Hex(reason);
}

std::string ConnackText311(int rc) {
    switch (rc) {
    case 1:
        return "it does not speak this version of MQTT";
    case 2:
        return "it does not take our client identifier";
    case 3:
        return "server unavailable";
    case 4:
        return "bad user name or password";
    case 5:
        return "not authorized";
    default:
        return "refusal " + std::to_string(rc);
    }
}

std::string MosquittoErrorText(int rc, int nErrno) {
    switch (rc) {
    case MOSQ_ERR_NOMEM:
        return "out of memory";
    case MOSQ_ERR_PROTOCOL:
        return "the broker broke the protocol";
    case MOSQ_ERR_NO_CONN:
        return "not connected";
    case MOSQ_ERR_CONN_REFUSED:
        return "the broker refused the connection";
    case MOSQ_ERR_CONN_LOST:
        return "the connection was closed";
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return "TLS failed";
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_OVERSIZE_PACKET:
        return "the message is larger than the broker takes";
    case MOSQ_ERR_NOT_SUPPORTED:
        return "the broker does not support what was asked";
    case MOSQ_ERR_AUTH:
        return "the login failed";
    case MOSQ_ERR_ACL_DENIED:
        return "not authorized";
    case MOSQ_ERR_ERRNO:
        return nErrno != 0 ? std::strerror(nErrno) : "a system call failed";
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return "the broker's name cannot be looked up";
    case MOSQ_ERR_MALFORMED_UTF8:
        return "a topic that is not UTF-8";
    case MOSQ_ERR_KEEPALIVE:
        return "no answer within the keep-alive time: the connection is taken as dead";
    case MOSQ_ERR_MALFORMED_PACKET:
        return "the broker sent a malformed packet";
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
        return "the broker does not take this QoS";
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED:
        return "the broker does not keep retained messages";
    case MOSQ_ERR_ADMINISTRATIVE_ACTION:
        return "the broker's administrator ended the connection";
    case MOSQ_ERR_TIMEOUT:
        return "no answer in time";
    default:
        return "libmosquitto error " + std::to_string(rc);
    }
}
