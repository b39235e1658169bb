// Network namespaces that an ICMP test creates for itself, so that time-outs
// and unreachable destinations are real without any packet leaving the
// machine. Code runs inside a namespace on a short-lived thread that joined
// it; sockets opened there stay in the namespace.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvik::test {

class TTestNetns {
  public:
    // A new namespace with its loopback up; null (and the reason in why)
    // where the test may not create one or the ip tool is missing.
    static std::unique_ptr<TTestNetns> Create(std::string& why) {
        int fd = -1;
        int error = 0;
        std::thread([&] {
            if (::unshare(CLONE_NEWNET) != 0) {
                error = errno;
                return;
            }
            fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            if (fd < 0) error = errno;
        }).join();
        if (fd < 0) {
            why = std::string("network namespaces not permitted here: ") + std::strerror(error);
            return nullptr;
        }
        std::unique_ptr<TTestNetns> ns(new TTestNetns(fd));
        if (!ns->Ip("link set lo up")) {
            why = "cannot configure a network namespace (the ip tool is missing?)";
            return nullptr;
        }
        return ns;
    }
    ~TTestNetns() { ::close(Fd_); }
    TTestNetns(const TTestNetns&) = delete;
    TTestNetns& operator=(const TTestNetns&) = delete;

    // Runs fn inside the namespace; false (fn not run) when joining failed.
    bool Run(const std::function<void()>& fn) const {
        bool joined = false;
        std::thread([&] {
            if (::setns(Fd_, CLONE_NEWNET) != 0 || !InsideOwnNamespace()) return;
            joined = true;
            fn();
        }).join();
        return joined;
    }

    // Runs "ip <args>" inside (arguments split at blanks); true on success.
    bool Ip(const std::string& args) const {
        std::vector<std::string> argv{"ip"};
        for (std::size_t i = 0; i < args.size();) {
            const std::size_t end = std::min(args.find(' ', i), args.size());
            if (end > i) argv.push_back(args.substr(i, end - i));
            i = end + 1;
        }
        bool ok = false;
        Run([&] { ok = Spawn(argv); });
        return ok;
    }

    // Writes a value under /proc/sys/net inside the namespace only.
    bool Sysctl(const std::string& name, const std::string& value) const {
        bool ok = false;
        Run([&] {
            const std::string path = "/proc/sys/net/" + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) return;
            ok = ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
            ::close(fd);
        });
        return ok;
    }

    // A path that names this namespace for "ip link ... netns".
    std::string Path() const {
        return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(Fd_);
    }

  private:
    explicit TTestNetns(int fd) : Fd_(fd) {}

    // Guards every change: the calling thread must not be in the
    // namespace of the process (the machine's own).
    static bool InsideOwnNamespace() {
        struct stat mine {
        }, process{};
        return ::stat("/proc/thread-self/ns/net", &mine) == 0 &&
               ::stat("/proc/self/ns/net", &process) == 0 && mine.st_ino != process.st_ino;
    }

    static bool Spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return false;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    int Fd_;
};

// Two namespaces joined by a veth pair: the test side A (10.99.1.1) and a
// router B (10.99.1.2) that forwards 10.99.0.0/16. Destinations behind B
// give real ICMP errors and silence:
//   10.99.2.x  host unreachable      10.99.3.x  dropped (no reply)
//   10.99.4.x  administratively prohibited
//   10.99.5.x  net unreachable (B has no route)
// B answers every packet: its ICMP rate limit is off.
struct TRoutedNetns {
    std::unique_ptr<TTestNetns> A, B;

    static std::unique_ptr<TRoutedNetns> Create(std::string& why) {
        auto r = std::make_unique<TRoutedNetns>();
        r->A = TTestNetns::Create(why);
        if (!r->A) return nullptr;
        r->B = TTestNetns::Create(why);
        if (!r->B) return nullptr;
        const bool ok = r->A->Ip("link add v0 type veth peer name v1 netns " + r->B->Path()) &&
                        r->A->Ip("addr add 10.99.1.1/24 dev v0") && r->A->Ip("link set v0 up") &&
                        r->B->Ip("addr add 10.99.1.2/24 dev v1") && r->B->Ip("link set v1 up") &&
                        r->B->Sysctl("ipv4/ip_forward", "1") &&
                        r->B->Sysctl("ipv4/icmp_ratelimit", "0") &&
                        r->B->Ip("route add unreachable 10.99.2.0/24") &&
                        r->B->Ip("route add blackhole 10.99.3.0/24") &&
                        r->B->Ip("route add prohibit 10.99.4.0/24") &&
                        r->A->Ip("route add 10.99.0.0/16 via 10.99.1.2");
        if (!ok) {
            why = "cannot build the routed namespaces (veth not available?)";
            return nullptr;
        }
        return r;
    }
};

}  // namespace tarvik::test
