#include "tests/support/Mosquitto.h"

#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/ServerProcess.h"

namespace {

constexpr int kKeepAliveSeconds = 10;

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
};

} // namespace

CMosquittoBroker::CMosquittoBroker() : m_nPort(FreeTcpPort()) {}

CMosquittoBroker::~CMosquittoBroker() {
    Stop();
}

std::string CMosquittoBroker::Log() const {
    return ReadTextFile(m_dir.Path() + "/mosquitto.log");
}

bool CMosquittoBroker::RequireLogin(const std::string& user, const std::string& password) {
    std::vector<std::string> command = {"mosquitto_passwd", "-b"};
    if (!m_bLogin) {
        command.emplace_back("-c"); // a new file for the first user
    }
    command.insert(command.end(), {m_dir.Path() + "/passwords", user, password});
    m_bLogin = RunProgram(command, m_dir.Path() + "/mosquitto.log") == 0;
    return m_bLogin;
}

bool CMosquittoBroker::SetAcl(const std::string& text) {
    std::ofstream file(m_dir.Path() + "/acl");
    file << text;
    m_bAcl = static_cast<bool>(file);
    return m_bAcl;
}

void CMosquittoBroker::UseTls(const std::string& certFile, const std::string& keyFile) {
    m_strCertFile = certFile;
    m_strKeyFile = keyFile;
}

bool CMosquittoBroker::Start() {
    if (m_nPid > 0 || m_dir.Path().empty() || m_nPort == 0) {
        return false;
    }
    const std::string config = m_dir.Path() + "/mosquitto.conf";
    {
        std::ofstream file(config);
        // Started as root, mosquitto would become the user "mosquitto", which cannot read or write
        // this folder: it stays the user that runs the test.
        const passwd* pUser = getpwuid(getuid());
        file << "listener " << m_nPort << " 127.0.0.1\n"
             << "user " << (pUser != nullptr ? pUser->pw_name : "root") << "\n"
             << (m_bLogin ? "allow_anonymous false\npassword_file " + m_dir.Path() + "/passwords\n"
                          : std::string("allow_anonymous true\n"))
             << (m_bAcl ? "acl_file " + m_dir.Path() + "/acl\n" : std::string())
             << (m_strCertFile.empty()
                     ? std::string()
                     : "certfile " + m_strCertFile + "\nkeyfile " + m_strKeyFile + "\n")
             << "persistence " << (m_bPersistence ? "true" : "false") << "\n"
             << "persistence_location " << m_dir.Path() << "/\n"
             << "log_dest stdout\n";
        if (!file) {
            return false;
        }
    }
    m_nPid = StartServer({"mosquitto", "-c", config}, m_dir.Path() + "/mosquitto.log", m_nPort);
    return m_nPid > 0;
}

void CMosquittoBroker::Stop() {
    StopServer(m_nPid);
}

CMqttSubscriber::CMqttSubscriber(uint16_t port, std::string filter, std::string clientId, int qos,
                                 const Login& login)
    : m_strFilter(std::move(filter)), m_nQos(qos) {
    static LibraryInit s_library;
    m_pMosq = mosquitto_new(clientId.c_str(), false, this);
    if (m_pMosq == nullptr) {
        return;
    }
    if (!login.user.empty()) {
        mosquitto_username_pw_set(m_pMosq, login.user.c_str(), login.password.c_str());
    }
    mosquitto_connect_callback_set(m_pMosq, OnConnect);
    mosquitto_subscribe_callback_set(m_pMosq, OnSubscribe);
    mosquitto_message_callback_set(m_pMosq, OnMessage);
    mosquitto_reconnect_delay_set(m_pMosq, 1, 1, false);
    mosquitto_connect_async(m_pMosq, "127.0.0.1", port, kKeepAliveSeconds);
    mosquitto_loop_start(m_pMosq);
}

CMqttSubscriber::~CMqttSubscriber() {
    if (m_pMosq != nullptr) {
        mosquitto_disconnect(m_pMosq);
        mosquitto_loop_stop(m_pMosq, true);
        mosquitto_destroy(m_pMosq);
    }
}

void CMqttSubscriber::OnConnect(mosquitto* pMosq, void* pSelf, int rc) {
    auto* self = static_cast<CMqttSubscriber*>(pSelf);
    if (rc == 0) {
        mosquitto_subscribe(pMosq, nullptr, self->m_strFilter.c_str(), self->m_nQos);
    }
}

void CMqttSubscriber::OnSubscribe(mosquitto*, void* pSelf, int, int, const int*) {
    auto* self = static_cast<CMqttSubscriber*>(pSelf);
    const std::lock_guard lock(self->m_mutex);
    self->m_bSubscribed = true;
    self->m_changed.notify_all();
}

void CMqttSubscriber::OnMessage(mosquitto*, void* pSelf, const mosquitto_message* pMessage) {
    auto* self = static_cast<CMqttSubscriber*>(pSelf);
    const std::lock_guard lock(self->m_mutex);
    self->m_vecMessages.push_back({pMessage->topic,
                                   std::string(static_cast<const char*>(pMessage->payload),
                                               static_cast<size_t>(pMessage->payloadlen)),
                                   pMessage->retain});
    self->m_changed.notify_all();
}

bool CMqttSubscriber::WaitSubscribed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_bSubscribed; });
}

bool CMqttSubscriber::WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                              std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_vecMessages); });
}

std::vector<CMqttSubscriber::Message> CMqttSubscriber::Messages() const {
    const std::lock_guard lock(m_mutex);
    return m_vecMessages;
}
