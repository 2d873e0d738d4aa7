// Another program holding the device without a lock: found through the process list before the
// open, first over a process folder of the test's own (links to a real pty), then for real, with
// a child process that holds the pty.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "serial/DeviceHolder.h"
#include "serial/SerialOpsLinux.h"
#include "serial/SerialPort.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/FdIo.h"
#include "tests/support/PtyPair.h"

namespace fs = std::filesystem;

namespace {

constexpr pid_t kSelf = 100;

dev_t DeviceOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_rdev : 0;
}

// A process folder laid out as /proc: PID/comm, PID/fd/N links to what each descriptor holds,
// PID/fdinfo/N where a master's index is told.
class FakeProcTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string root = ::testing::TempDir() + "qd7-proc-XXXXXX";
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        m_root = root;
        ASSERT_TRUE(m_pty.IsOpen());
        m_nIndex = static_cast<long>(minor(DeviceOf(m_pty.SlavePath())));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    void EmptyRoot() {
        TearDown();
        fs::create_directories(m_root);
    }

    struct Fd {
        std::string target;
        std::string fdinfo; // empty: no fdinfo file
    };
    void AddProcess(const std::string& entry, const char* comm, const std::vector<Fd>& fds) {
        const fs::path dir = m_root / entry;
        fs::create_directories(dir / "fd");
        fs::create_directories(dir / "fdinfo");
        if (comm != nullptr) {
            std::ofstream(dir / "comm") << comm << "\n";
        }
        for (size_t n = 0; n < fds.size(); ++n) {
            const std::string fd = std::to_string(n + 3);
            fs::create_symlink(fds[n].target, dir / "fd" / fd);
            if (!fds[n].fdinfo.empty()) {
                std::ofstream(dir / "fdinfo" / fd) << "pos:\t0\nflags:\t02\n" << fds[n].fdinfo;
            }
        }
    }
    Fd Slave() const { return {m_pty.SlavePath(), ""}; }
    Fd Master(long nIndex) const {
        return {"/dev/ptmx", "tty-index:\t" + std::to_string(nIndex) + "\n"};
    }
    std::optional<DeviceHolder> Find() const {
        return FindOtherHolder(DeviceOf(m_pty.SlavePath()), m_root.string(), kSelf);
    }

    fs::path m_root;
    PtyPair m_pty;
    long m_nIndex = -1;
};

TEST_F(FakeProcTest, FindsAnotherHolderButNotOurselvesNorTheLinesFarEnd) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::vector<Fd>>> processes; // entry, descriptors
        pid_t expected;                                                 // 0: none
    };
    const std::vector<Case> cases = {
        {"a terminal program", {{"4711", {{"/dev/null", ""}, Slave()}}}, 4711},
        {"ourselves", {{std::to_string(kSelf), {Slave()}}}, 0},
        {"the simulator: master and slave of the pty", {{"300", {Master(m_nIndex), Slave()}}}, 0},
        {"the master of another pty", {{"301", {Master(m_nIndex + 1), Slave()}}}, 301},
        {"a master the kernel gives no index of", {{"302", {{"/dev/ptmx", ""}, Slave()}}}, 0},
        {"other entries and other files",
         {{"self", {Slave()}}, {"acpi", {}}, {"55", {{"/dev/null", ""}}}, {"77", {Slave()}}},
         77},
        {"nobody", {{"55", {{"/dev/null", ""}}}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmptyRoot();
        for (const auto& [entry, fds] : c.processes) {
            AddProcess(entry, "minicom", fds);
        }
        const std::optional<DeviceHolder> holder = Find();
        ASSERT_EQ(holder.has_value(), c.expected != 0);
        if (holder) {
            EXPECT_EQ(holder->pid, c.expected);
            EXPECT_EQ(holder->name, "minicom");
        }
    }
}

TEST_F(FakeProcTest, TheReasonNamesThePidAndTheProgram) {
    AddProcess("4711", nullptr, {Slave()}); // its name cannot be read
    LinuxSystemFiles files;
    files.consoleList = "/nonexistent";
    files.procRoot = m_root.string();
    CSerialPort port(CreateLinuxSerialOps(files));
    EXPECT_EQ(port.OpenPath(m_pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle);
    EXPECT_EQ(port.FailureReason(), m_pty.SlavePath() + ": in use by another program (4711)");
    EXPECT_EQ(HolderText({4711, "minicom"}), "in use by another program (4711, minicom)");
}

// A search ahead that found a holder: its result is taken, unless the holder has let go since.
// The holder's name is read through a pipe, so that the test knows when the search has found it.
TEST_F(FakeProcTest, SearchAheadIsTakenButNotAHolderThatLetGoSince) {
    const pid_t self = getpid();
    const dev_t rdev = DeviceOf(m_pty.SlavePath());
    AddProcess("4711", nullptr, {Slave()});
    const fs::path comm = m_root / "4711" / "comm";
    ASSERT_EQ(mkfifo(comm.c_str(), 0600), 0);
    // Written once the search, on its thread, opens the pipe; then a plain file with another name
    // stands there, which a search of its own would read.
    const auto found = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int fd = -1;
        while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
            fd = open(comm.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); // ENXIO: no reader yet
            if (fd < 0) {
                usleep(1000);
            }
        }
        ASSERT_GE(fd, 0) << "the search ahead never looked at the holder";
        EXPECT_EQ(write(fd, "minicom\n", 8), 8);
        close(fd);
        fs::remove(comm);
        std::ofstream(comm) << "searched-again\n";
    };

    SearchHoldersAhead(m_pty.SlavePath(), m_root.string());
    found();
    const std::optional<DeviceHolder> holder = FindOtherHolder(rdev, m_root.string(), self);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, 4711);
    EXPECT_EQ(holder->name, "minicom") << "the search ahead's result";

    ASSERT_TRUE(fs::remove(comm));
    ASSERT_EQ(mkfifo(comm.c_str(), 0600), 0);
    SearchHoldersAhead(m_pty.SlavePath(), m_root.string());
    found();
    // Its descriptor holds something else by the time the device is opened.
    fs::remove(m_root / "4711" / "fd" / "3");
    fs::create_symlink("/dev/null", m_root / "4711" / "fd" / "3");
    EXPECT_FALSE(FindOtherHolder(rdev, m_root.string(), self).has_value());
}

// A child process that holds the pty's slave, and its master too when it plays the far end; it
// takes a name of its own, as a program would have.
class CHolderChild {
public:
    CHolderChild(const PtyPair& pty, bool bKeepMaster) {
        int ready[2] = {-1, -1};
        if (pipe(ready) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            if (!bKeepMaster) {
                close(pty.MasterFd());
            }
            prctl(PR_SET_NAME, "qd7-holder", 0, 0, 0);
            const char byte = 'r';
            if (write(ready[1], &byte, 1) != 1) {
                _exit(1);
            }
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        m_bReady = m_pid > 0 && ReadBytes(ready[0], 1, std::chrono::seconds(10)).size() == 1;
        close(ready[0]);
    }
    ~CHolderChild() { End(); }
    CHolderChild(const CHolderChild&) = delete;
    CHolderChild& operator=(const CHolderChild&) = delete;

    bool IsReady() const { return m_bReady; }
    pid_t Pid() const { return m_pid; }
    void End() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    bool m_bReady = false;
};

TEST(DeviceHolderTest, APtyHeldByAnotherProcessIsRefusedUntilItLetsGo) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSerialPort port;
    {
        CHolderChild holder(pty, false);
        ASSERT_TRUE(holder.IsReady());
        EXPECT_EQ(port.OpenPath(pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle);
        EXPECT_EQ(port.FailureReason(), pty.SlavePath() + ": in use by another program (" +
                                            std::to_string(holder.Pid()) + ", qd7-holder)");
    }
    EXPECT_NE(port.OpenPath(pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle);
    port.Close();

    // A process that also holds the pty's master is the line's far end, like the simulator.
    CHolderChild farEnd(pty, true);
    ASSERT_TRUE(farEnd.IsReady());
    EXPECT_NE(port.OpenPath(pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle)
        << port.FailureReason();
}

// Opened for a caller whose thread must not wait: the search runs on a thread of its own, and the
// holder it finds comes in when the open is taken in, as the port's refusal.
TEST(DeviceHolderTest, AnOpenBegunOffTheThreadFindsTheHolderThereAndSaysSoWhenTakenIn) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CEnvGuard env;
    env.Set("QD7_COM5", pty.SlavePath());
    CSerialPort port;
    const auto beginAndTake = [&port] {
        std::mutex mutex;
        std::condition_variable ended;
        bool bEnded = false;
        const bool bAtOnce = port.BeginOpen(5, {9600, 8, 0, 0}, [&] {
            const std::lock_guard lock(mutex);
            bEnded = true;
            ended.notify_all();
        });
        EXPECT_FALSE(bAtOnce) << "the search ran on the caller's thread";
        EXPECT_TRUE(port.IsOpening());
        std::unique_lock lock(mutex);
        EXPECT_TRUE(ended.wait_for(lock, std::chrono::seconds(10), [&] { return bEnded; }));
        EXPECT_TRUE(port.TakeOpened());
        EXPECT_FALSE(port.IsOpening());
    };
    {
        CHolderChild holder(pty, false);
        ASSERT_TRUE(holder.IsReady());
        beginAndTake();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.FailureReason(), pty.SlavePath() + ": in use by another program (" +
                                            std::to_string(holder.Pid()) + ", qd7-holder)");
    }
    beginAndTake();
    EXPECT_TRUE(port.IsOpen()) << port.FailureReason();
}

} // namespace
