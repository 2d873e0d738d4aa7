#include "cli/PublishSpool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_set>

namespace {

constexpr std::string_view kHeader = "qd7-bus spool 1\n";
// A topic or payload longer than this is no record of ours: the file ends there.
constexpr size_t kMaxField = 64 * 1024;
// The file is rewritten when done records take up more than this, and more than what is live.
constexpr size_t kCompactBytes = 1024 * 1024;

std::string Record(const QueuedMessage& message) {
    return "M " + std::to_string(message.nSeq) + " " + std::to_string(message.topic.size()) + " " +
           std::to_string(message.payload.size()) + " " + (message.bRetain ? "1" : "0") + "\n" +
           message.topic + message.payload + "\n";
}

std::string DoneRecord(uint64_t nSeq) {
    return "D " + std::to_string(nSeq) + "\n";
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The records of `text` after the header: the pending readings in order; false when the text
// ends in a record cut off (or spoiled), which is left out.
bool Parse(std::string_view text, std::deque<QueuedMessage>& pending) {
    std::unordered_set<uint64_t> done;
    bool bWhole = true;
    size_t offset = 0;
    while (offset < text.size()) {
        const size_t end = text.find('\n', offset);
        if (end == std::string_view::npos) {
            bWhole = false;
            break;
        }
        std::istringstream fields{std::string(text.substr(offset, end - offset))};
        char kind = 0;
        uint64_t nSeq = 0;
        fields >> kind >> nSeq;
        if (!fields || (kind != 'M' && kind != 'D')) {
            bWhole = false;
            break;
        }
        if (kind == 'D') {
            done.insert(nSeq);
            offset = end + 1;
            continue;
        }
        size_t nTopic = 0;
        size_t nPayload = 0;
        int nRetain = 0;
        fields >> nTopic >> nPayload >> nRetain;
        const size_t start = end + 1;
        if (!fields || nTopic == 0 || nTopic > kMaxField || nPayload > kMaxField ||
            text.size() - start < nTopic + nPayload + 1 ||
            text[start + nTopic + nPayload] != '\n') {
            bWhole = false;
            break;
        }
        QueuedMessage message;
        message.nSeq = nSeq;
        message.topic = text.substr(start, nTopic);
        message.payload = text.substr(start + nTopic, nPayload);
        message.bRetain = nRetain != 0;
        message.bSpooled = true;
        pending.push_back(std::move(message));
        offset = start + nTopic + nPayload + 1;
    }
    std::erase_if(pending, [&done](const QueuedMessage& m) { return done.count(m.nSeq) != 0; });
    return bWhole;
}

} // namespace

bool CPublishSpool::Open(const std::string& path, std::deque<QueuedMessage>& pending,
                         std::string& note, std::string& error) {
    m_strPath = path;
    const std::string where = "--spool " + path + ": ";
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644));
    struct stat status {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &status) != 0) {
        error = where + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = where + "is not a regular file";
        return false;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = where + (errno == EWOULDBLOCK ? std::string("in use by another qd7-bus")
                                              : std::strerror(errno));
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (!text.empty() && text.compare(0, kHeader.size(), kHeader) != 0) {
        error = where + "not a spool of qd7-bus; it is left as it is";
        return false;
    }
    pending.clear();
    if (!text.empty() && !Parse(std::string_view(text).substr(kHeader.size()), pending)) {
        note = "the spool " + path + " ends in a record cut off (the program ended while " +
               "writing it); the readings before it are kept";
    }
    m_pFd = std::make_shared<CUniqueFd>(std::move(fd));
    return Rewrite(pending, error);
}

bool CPublishSpool::Rewrite(const std::deque<QueuedMessage>& pending, std::string& error) {
    const std::string aside = m_strPath + ".new";
    CUniqueFd fd(::open(aside.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    std::string text(kHeader);
    size_t nLive = 0;
    for (const QueuedMessage& message : pending) {
        if (message.bSpooled) {
            const std::string record = Record(message);
            nLive += record.size();
            text += record;
        }
    }
    // Locked before it takes the name: a second watch that opens the spool now finds it taken.
    if (!fd.IsValid() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || !WriteAll(fd.Get(), text) ||
        ::fdatasync(fd.Get()) != 0 || ::rename(aside.c_str(), m_strPath.c_str()) != 0) {
        error = "--spool " + m_strPath + ": cannot be rewritten: " + std::strerror(errno);
        ::unlink(aside.c_str());
        return false;
    }
    const size_t slash = m_strPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_strPath.substr(0, slash + 1);
    const CUniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.IsValid()) {
        ::fsync(folderFd.Get()); // the new name, too, survives a power cut
    }
    m_pFd = std::make_shared<CUniqueFd>(std::move(fd));
    m_nFileBytes = text.size();
    m_nLiveBytes = nLive;
    m_bDirty = false;
    return true;
}

bool CPublishSpool::Write(const std::string& record) {
    if (!m_strFailure.empty() || !m_pFd) {
        return false;
    }
    if (!WriteAll(m_pFd->Get(), record)) {
        SetFailure(std::strerror(errno != 0 ? errno : EIO));
        return false;
    }
    m_nFileBytes += record.size();
    m_bDirty = true;
    return true;
}

void CPublishSpool::SetFailure(const std::string& why) {
    m_strFailure = "the spool " + m_strPath + " cannot be written (" + why +
                   "); readings not yet on the broker are kept in memory only";
}

bool CPublishSpool::Append(const QueuedMessage& message) {
    const std::lock_guard lock(m_mutex);
    const std::string record = Record(message);
    if (!Write(record)) {
        return false;
    }
    m_nLiveBytes += record.size();
    return true;
}

void CPublishSpool::Done(const QueuedMessage& message, const std::deque<QueuedMessage>& pending) {
    const std::lock_guard lock(m_mutex);
    if (!Write(DoneRecord(message.nSeq))) {
        return;
    }
    m_nLiveBytes -= std::min(m_nLiveBytes, Record(message).size());
    if (m_nFileBytes - m_nLiveBytes > kCompactBytes && m_nFileBytes > 2 * m_nLiveBytes) {
        std::string error;
        if (!Rewrite(pending, error)) {
            m_strFailure = error;
        }
    }
}

void CPublishSpool::Sync() {
    std::shared_ptr<CUniqueFd> fd;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_bDirty || !m_pFd) {
            return;
        }
        m_bDirty = false;
        fd = m_pFd;
    }
    if (::fdatasync(fd->Get()) != 0) {
        const std::lock_guard lock(m_mutex);
        SetFailure(std::strerror(errno));
    }
}

bool CPublishSpool::Dirty() const {
    const std::lock_guard lock(m_mutex);
    return m_bDirty;
}

bool CPublishSpool::Failed() const {
    const std::lock_guard lock(m_mutex);
    return !m_strFailure.empty();
}

std::string CPublishSpool::Failure() const {
    const std::lock_guard lock(m_mutex);
    return m_strFailure;
}
