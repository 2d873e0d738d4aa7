#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "cli/PublishSettings.h"

// The files --publish reads before anything is sent: the password and the CA certificates. Each
// is read up to a small bound, whatever it is (a regular file, a pipe, a device), so that a wrong
// name such as /dev/zero is an error at once, not memory eaten without end.

inline constexpr size_t kMaxPasswordBytes = 4096;
inline constexpr size_t kMaxCaFileBytes = 4 * 1024 * 1024;

// The password of the login: the first line of --password-file when one is named (it wins over
// the environment, and `note` then says so when $QD7_MQTT_PASSWORD is set as well), else
// $QD7_MQTT_PASSWORD, else none. False with `error` set when the file cannot be read, holds no
// line of text within kMaxPasswordBytes, or can be read by every user of the machine. `stop` ends
// a wait for a pipe that nobody writes to.
bool ReadPassword(const PublishSettings& settings, const std::atomic<bool>& stop,
                  std::optional<std::string>& password, std::string& note, std::string& error);

// --ca-file: a readable regular file of PEM certificates, one at least. False with `error` set.
bool CheckCaFile(const std::string& path, std::string& error);
