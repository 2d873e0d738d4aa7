#include "cli/PublishFiles.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "serial/UniqueFd.h"

namespace {

constexpr mode_t kPermissionBits = 07777;

// Opens `path` for reading; a FIFO nobody writes to is waited for until `stop`.
CUniqueFd OpenForReading(const std::string& path, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 || errno != EINTR) {
            return CUniqueFd(fd);
        }
    }
    errno = EINTR;
    return CUniqueFd();
}

// Up to `limit` bytes of `fd`, or to the first newline when `bLine`; more than `limit` without
// one sets `bTooLong`. False with errno set on a read error or an interruption.
bool ReadBounded(int fd, size_t limit, bool bLine, const std::atomic<bool>& stop, std::string& text,
                 bool& bTooLong) {
    std::array<char, 4096> chunk{};
    bTooLong = false;
    while (text.size() <= limit) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR && !stop.load()) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(chunk.data(), static_cast<size_t>(n));
        if (bLine && text.find('\n') != std::string::npos) {
            text.resize(text.find('\n'));
            break;
        }
    }
    bTooLong = text.size() > limit;
    return true;
}

std::string Mode(mode_t mode) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & kPermissionBits));
    return text.data();
}

} // namespace

bool ReadPassword(const PublishSettings& settings, const std::atomic<bool>& stop,
                  std::optional<std::string>& password, std::string& note, std::string& error) {
    password.reset();
    note.clear();
    const char* pszFromEnvironment = std::getenv("QD7_MQTT_PASSWORD");
    if (settings.passwordFile.empty()) {
        if (pszFromEnvironment != nullptr) {
            password = pszFromEnvironment;
        }
        return true;
    }
    const std::string& path = settings.passwordFile;
    const std::string where = "--password-file " + path + ": ";
    const CUniqueFd fd = OpenForReading(path, stop);
    struct stat status {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &status) != 0) {
        error = where + (errno == EINTR ? std::string("interrupted while waiting for it")
                                        : std::strerror(errno));
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        error = where + "is a directory";
        return false;
    }
    // As ssh does with keys: a secret every user of the machine can read is no secret.
    if (S_ISREG(status.st_mode) && (status.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        error = where + "every user of the machine can read or change it (mode " +
                Mode(status.st_mode) + "); make it yours alone: chmod 600 " + path;
        return false;
    }
    std::string line;
    bool bTooLong = false;
    if (!ReadBounded(fd.Get(), kMaxPasswordBytes, true, stop, line, bTooLong)) {
        error = where + (errno == EINTR ? std::string("interrupted while reading it")
                                        : std::strerror(errno));
        return false;
    }
    if (bTooLong) {
        error = where + "its first line is longer than " + std::to_string(kMaxPasswordBytes) +
                " bytes: not a password file";
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (std::any_of(line.begin(), line.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        error = where + "its first line holds control characters or NUL bytes: not a password "
                        "file";
        return false;
    }
    if (line.empty()) {
        error = where + "its first line is empty";
        return false;
    }
    if (pszFromEnvironment != nullptr) {
        note = "the password comes from --password-file, not from $QD7_MQTT_PASSWORD";
    }
    password = std::move(line);
    return true;
}

bool CheckCaFile(const std::string& path, std::string& error) {
    const std::string where = "--ca-file " + path + ": ";
    const std::atomic<bool> never{false};
    const CUniqueFd fd = OpenForReading(path, never);
    struct stat status {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &status) != 0) {
        error = where + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = where + (S_ISDIR(status.st_mode) ? "is a directory" : "is not a regular file") +
                "; a file of PEM certificates is needed";
        return false;
    }
    std::string text;
    bool bTooLong = false;
    if (!ReadBounded(fd.Get(), kMaxCaFileBytes, false, never, text, bTooLong)) {
        error = where + std::strerror(errno);
        return false;
    }
    if (bTooLong) {
        error = where + "larger than " + std::to_string(kMaxCaFileBytes / (1024 * 1024)) +
                " MiB: not a file of certificates";
        return false;
    }
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), &BIO_free);
    int nCertificates = 0;
    while (bio) {
        X509* pCertificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (pCertificate == nullptr) {
            break;
        }
        X509_free(pCertificate);
        ++nCertificates;
    }
    ERR_clear_error(); // the end of the text is a "no start line" error to OpenSSL
    if (nCertificates == 0) {
        error = where + "holds no PEM certificate (-----BEGIN CERTIFICATE-----)";
        return false;
    }
    return true;
}
