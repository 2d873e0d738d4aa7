#pragma once

#include <string>

// Our own words for what libmosquitto and the broker say: its return codes (its own texts
// include "Unknown error." and "Invalid function arguments provided.", which tell a user
// nothing) and MQTT 5 reason codes, with the code for a search.

// A libmosquitto return code (MOSQ_ERR_*); `nErrno` is errno at the time, for MOSQ_ERR_ERRNO.
std::string MosquittoErrorText(int rc, int nErrno);
// An MQTT 5 reason code (CONNACK, PUBACK, PUBREC, DISCONNECT): "not authorized, reason 0x87".
std::string ReasonText(int reason);
// A refusal of the connection by an MQTT 3.1.1 broker (CONNACK return code 1 to 5).
std::string ConnackText311(int rc);

// MQTT 5 reason codes that matter here.
inline constexpr int kReasonSuccess = 0x00;
inline constexpr int kReasonFailure = 0x80; // from here on, a reason code says no
inline constexpr int kReasonUnsupportedProtocol = 0x84;
inline constexpr int kReasonBadLogin = 0x86;
inline constexpr int kReasonNotAuthorized = 0x87;
inline constexpr int kReasonBanned = 0x8A;
inline constexpr int kReasonBadAuthMethod = 0x8C;
// PUBCOMP's answer to a PUBREL the broker no longer knows: its session was lost after it had
// acknowledged the message with PUBREC, so it has it.
inline constexpr int kReasonPacketIdNotFound = 0x92;
