#include "platform/icmp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/icmp_netns.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using test::TRoutedNetns;
using test::TTestNetns;

const std::uint32_t Loopback = htonl(INADDR_LOOPBACK);

std::uint32_t Addr(const char* dotted) { return inet_addr(dotted); }

// ---- packet rules ----------------------------------------------------------

// Builds IPv4 packets as a raw socket returns them.
struct TPacket {
    std::vector<std::uint8_t> Bytes;

    static void PutIp(std::vector<std::uint8_t>& b, std::uint32_t src, std::uint32_t dst,
                      std::size_t total) {
        std::uint8_t ip[20] = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, IPPROTO_ICMP};
        const std::uint16_t len = htons(static_cast<std::uint16_t>(total));
        std::memcpy(ip + 2, &len, 2);
        std::memcpy(ip + 12, &src, 4);
        std::memcpy(ip + 16, &dst, 4);
        b.insert(b.end(), ip, ip + 20);
    }
    static void PutIcmp(std::vector<std::uint8_t>& b, int type, int code, std::uint16_t id,
                        std::uint16_t seq) {
        std::uint8_t h[8] = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(code)};
        std::memcpy(h + 4, &id, 2);
        std::memcpy(h + 6, &seq, 2);
        b.insert(b.end(), h, h + 8);
    }
    static TPacket Reply(std::uint32_t from, std::uint16_t id, std::uint16_t seq,
                         std::string data) {
        TPacket p;
        PutIp(p.Bytes, from, Loopback, 28 + data.size());
        PutIcmp(p.Bytes, 0, 0, id, seq);
        p.Bytes.insert(p.Bytes.end(), data.begin(), data.end());
        return p;
    }
    // An ICMP error from a router quoting a request to dst.
    static TPacket Error(int type, int code, std::uint32_t dst, int quotedType, std::uint16_t id,
                         std::uint16_t seq) {
        TPacket p;
        PutIp(p.Bytes, Addr("192.0.2.1"), Loopback, 56);
        PutIcmp(p.Bytes, type, code, 0, 0);
        PutIp(p.Bytes, Loopback, dst, 1028);
        PutIcmp(p.Bytes, quotedType, 0, id, seq);
        return p;
    }
};

TEST(IcmpPacketRules, RawPacketsAreMatchedToTheRequestInFlight) {
    const std::uint32_t dst = Addr("198.51.100.7");
    const std::uint16_t id = htons(0x1234), seq = htons(7);
    using K = TEchoMatch::TKind;
    struct TCase {
        const char* Name;
        TPacket Packet;
        K Kind;
        std::int32_t Status;
    };
    auto truncated = [](TPacket p, std::size_t n) {
        p.Bytes.resize(n);
        return p;
    };
    auto badIhl = [](TPacket p, std::uint8_t b0) {
        p.Bytes[0] = b0;
        return p;
    };
    const TCase cases[] = {
        {"our reply", TPacket::Reply(dst, id, seq, "\x08IP speed"), K::Reply, 0},
        {"other identifier", TPacket::Reply(dst, htons(0x4321), seq, "x"), K::Foreign, 0},
        {"other sequence", TPacket::Reply(dst, id, htons(6), "x"), K::Foreign, 0},
        {"other source", TPacket::Reply(Addr("198.51.100.8"), id, seq, "x"), K::Foreign, 0},
        {"our own request seen on loopback",
         [&] {
             TPacket p = TPacket::Reply(dst, id, seq, "x");
             p.Bytes[20] = 8;
             return p;
         }(),
         K::Foreign, 0},
        {"no ICMP header", truncated(TPacket::Reply(dst, id, seq, ""), 27), K::Foreign, 0},
        {"header length too small", badIhl(TPacket::Reply(dst, id, seq, "x"), 0x44), K::Foreign, 0},
        {"header length past the end", badIhl(TPacket::Reply(dst, id, seq, ""), 0x4F), K::Foreign,
         0},
        {"not IPv4", badIhl(TPacket::Reply(dst, id, seq, "x"), 0x65), K::Foreign, 0},
        {"host unreachable", TPacket::Error(3, 1, dst, 8, id, seq), K::Error, 11003},
        {"net unreachable", TPacket::Error(3, 0, dst, 8, id, seq), K::Error, 11002},
        {"fragmentation needed", TPacket::Error(3, 4, dst, 8, id, seq), K::Error, 11009},
        {"reassembly time exceeded", TPacket::Error(11, 1, dst, 8, id, seq), K::Error, 11014},
        {"error about another request", TPacket::Error(3, 1, dst, 8, id, htons(8)), K::Foreign, 0},
        {"error about another destination", TPacket::Error(3, 1, Addr("198.51.100.9"), 8, id, seq),
         K::Foreign, 0},
        {"error about a reply", TPacket::Error(3, 1, dst, 0, id, seq), K::Foreign, 0},
        {"error with its quote cut short", truncated(TPacket::Error(3, 1, dst, 8, id, seq), 52),
         K::Foreign, 0},
        {"redirect", TPacket::Error(5, 1, dst, 8, id, seq), K::Foreign, 0},
    };
    for (const auto& c : cases) {
        const TEchoMatch m = MatchRawPacket(c.Packet.Bytes, dst, id, seq);
        EXPECT_EQ(m.Kind, c.Kind) << c.Name;
        if (c.Kind == K::Error) {
            EXPECT_EQ(m.Status, c.Status) << c.Name;
        }
    }
    const TEchoMatch reply = MatchRawPacket(cases[0].Packet.Bytes, dst, id, seq);
    EXPECT_EQ(std::string(reply.Data.begin(), reply.Data.end()), "\x08IP speed");
}

TEST(IcmpPacketRules, ErrorsMapOntoTheProgramsStatusCodes) {
    const std::pair<std::pair<int, int>, std::int32_t> icmp[] = {
        {{3, 0}, 11002},  {{3, 1}, 11003},  {{3, 2}, 11004},  {{3, 3}, 11005},
        {{3, 4}, 11009},  {{3, 13}, 11003}, {{11, 0}, 11013}, {{11, 1}, 11014},
        {{12, 0}, 11015}, {{4, 0}, 11016},  {{5, 0}, 0},      {{42, 0}, 11050},
    };
    for (const auto& [tc, status] : icmp)
        EXPECT_EQ(IcmpErrorStatus(tc.first, tc.second), status) << tc.first << "/" << tc.second;
    const std::pair<int, std::int32_t> calls[] = {
        {EMSGSIZE, 11009},     {ENOBUFS, 11006}, {ENOMEM, 11006}, {ENETUNREACH, 11002},
        {EHOSTUNREACH, 11003}, {EBADF, 1},       {ENOTSOCK, 1},   {ENETDOWN, 1},
        {EPERM, 11050},        {EACCES, 11050},
    };
    for (const auto& [err, status] : calls) EXPECT_EQ(SocketCallStatus(err), status) << err;
}

TEST(IcmpPacketRules, InternetChecksum) {
    auto stored = [](std::uint16_t sum) {
        std::uint8_t b[2];
        std::memcpy(b, &sum, 2);
        return std::vector<std::uint8_t>{b[0], b[1]};
    };
    // The worked example of RFC 1071, whole and split after the header part.
    const std::vector<std::uint8_t> words = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(stored(InternetChecksum(words)), (std::vector<std::uint8_t>{0x22, 0x0d}));
    const std::span<const std::uint8_t> all(words);
    EXPECT_EQ(stored(InternetChecksum(all.first(2), all.subspan(2))),
              stored(InternetChecksum(all)));
    // Odd lengths pad with zero, also when the first part is the odd one.
    const std::vector<std::uint8_t> odd = {0x01, 0x02, 0x03};
    EXPECT_EQ(stored(InternetChecksum(odd)), (std::vector<std::uint8_t>{0xfb, 0xfd}));
    EXPECT_EQ(InternetChecksum(std::span(odd).first(1), std::span(odd).subspan(1)),
              InternetChecksum(odd));
    // A packet that carries its checksum sums to zero.
    std::vector<std::uint8_t> packet = {8, 0, 0, 0, 0x12, 0x34, 0, 1, 'I', 'P', ' ', 's', 'p'};
    const std::uint16_t sum = InternetChecksum(packet);
    std::memcpy(&packet[2], &sum, 2);
    EXPECT_EQ(InternetChecksum(packet), 0);
}

// ---- real sockets ----------------------------------------------------------

std::vector<std::uint8_t> Payload(std::size_t n, std::uint8_t salt) {
    std::vector<std::uint8_t> d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 7 + salt);
    return d;
}

TEST(IcmpSocket, BindReportsAvailabilityOrTheMessage) {
    const TIcmpBinding b = BindIcmp();
    if (b.Available) {
        EXPECT_TRUE(b.Message.empty());
    } else {
        EXPECT_EQ(b.Message,
                  "Unable to open an ICMP socket\rAllow ping sockets (sysctl "
                  "net.ipv4.ping_group_range) or run with CAP_NET_RAW.\rAll TCP/IP functions "
                  "will be disabled.");
    }
}

// Checks echo exchanges of every size with 127.0.0.1 on one socket.
void ExpectLoopbackEchoes(TIcmpEchoSocket& s) {
    for (const std::size_t n : {0, 1, 9, 1023, 16384, 64512, 65507}) {
        const auto data = Payload(n, static_cast<std::uint8_t>(n));
        const TEchoResult r = s.SendEcho(Loopback, data, 2000, -1);
        ASSERT_EQ(r.Status, 0) << n;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), r.Data.begin(), r.Data.end())) << n;
        EXPECT_LT(r.RoundTripMs, 1000u) << n;
    }
    EXPECT_EQ(s.SendEcho(Loopback, Payload(65508, 0), 2000, -1).Status, 11009);
}

TEST(IcmpSocket, RawEchoOnLoopback) {
    auto s = TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
    if (!s) GTEST_SKIP() << "no raw ICMP socket here (needs root or CAP_NET_RAW)";
    ExpectLoopbackEchoes(*s);
}

TEST(IcmpSocket, DatagramEchoOnLoopback) {
    // Ping sockets are off on many machines; a namespace of our own may
    // allow them without touching the machine's setting.
    auto s = TIcmpEchoSocket::Open(TIcmpSocketKind::Datagram);
    std::string why;
    std::unique_ptr<TTestNetns> ns;
    if (!s) {
        ns = TTestNetns::Create(why);
        if (ns && ns->Sysctl("ipv4/ping_group_range", "0 2147483647"))
            ns->Run([&] { s = TIcmpEchoSocket::Open(TIcmpSocketKind::Datagram); });
    }
    if (!s) GTEST_SKIP() << "no ICMP ping socket here and " << (why.empty() ? "none allowed" : why);
    ExpectLoopbackEchoes(*s);
}

TEST(IcmpSocket, ConcurrentPingersDoNotConfuseTheMatch) {
    auto first = TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
    auto second = TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
    if (!first || !second) GTEST_SKIP() << "no raw ICMP socket here (needs root or CAP_NET_RAW)";
    ASSERT_NE(first->Identifier(), second->Identifier());

    // A system ping on the same machine adds foreign replies to the stream.
    pid_t ping = 0;
    {
        const char* argv[] = {"ping", "-q", "-i", "0.2", "-s", "1000", "127.0.0.1", nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&ping, "ping", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
            ping = 0;
        posix_spawn_file_actions_destroy(&fa);
    }
    // Same sizes and sequence numbers on both sockets; only the identifier
    // tells the replies apart, and the data shows whose reply arrived.
    std::atomic<int> failures{0};
    auto run = [&](TIcmpEchoSocket& s, std::uint8_t salt) {
        const auto data = Payload(1000, salt);
        for (int i = 0; i < 300; ++i) {
            const TEchoResult r = s.SendEcho(Loopback, data, 2000, -1);
            if (r.Status != 0 ||
                !std::equal(data.begin(), data.end(), r.Data.begin(), r.Data.end()))
                ++failures;
        }
    };
    std::thread other([&] { run(*second, 100); });
    run(*first, 1);
    other.join();
    if (ping > 0) {
        ::kill(ping, SIGTERM);
        ::waitpid(ping, nullptr, 0);
    }
    EXPECT_EQ(failures.load(), 0);
}

// ---- failures in namespaces of the test's own --------------------------

TEST(IcmpSocket, RawSocketIsHandedOnlyItsOwnRepliesAndErrors) {
    std::string why;
    auto net = TRoutedNetns::Create(why);
    if (!net) GTEST_SKIP() << why;
    std::unique_ptr<TIcmpEchoSocket> mine, other;
    net->A->Run([&] {
        mine = TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
        other = TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
    });
    if (!mine || !other) GTEST_SKIP() << "no raw ICMP socket here (needs root or CAP_NET_RAW)";
    ASSERT_TRUE(mine->KernelFiltered());
    const auto data = Payload(512, 9);
    ASSERT_EQ(mine->SendEcho(Addr("10.99.1.2"), data, 1000, -1).Status, 0);
    mine->DiscardQueued();
    // Another pinger's replies (from the host this socket pings too, where
    // only the identifier tells them apart, and from loopback) and the
    // errors about its requests never reach this socket's queues.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(other->SendEcho(Addr("10.99.1.2"), data, 1000, -1).Status, 0);
        EXPECT_EQ(other->SendEcho(Loopback, data, 1000, -1).Status, 0);
        // The router sends a burst of 5 unreachable errors, then 1 a second.
        if (i < 3) {
            EXPECT_EQ(other->SendEcho(Addr("10.99.2.1"), data, 1000, -1).Status, 11003);
        }
    }
    EXPECT_EQ(mine->DiscardQueued(), 0);
    // Its own still do.
    EXPECT_EQ(mine->SendEcho(Addr("10.99.1.2"), data, 1000, -1).Status, 0);
    EXPECT_EQ(mine->SendEcho(Addr("10.99.2.1"), data, 1000, -1).Status, 11003);
    EXPECT_EQ(mine->SendEcho(Loopback, data, 1000, -1).Status, 0);
}

class IcmpRoutedTest : public ::testing::TestWithParam<TIcmpSocketKind> {
  protected:
    void SetUp() override {
        std::string why;
        Net = TRoutedNetns::Create(why);
        if (!Net) GTEST_SKIP() << why;
        if (GetParam() == TIcmpSocketKind::Datagram)
            Net->A->Sysctl("ipv4/ping_group_range", "0 2147483647");
        Net->A->Run([&] { Socket = TIcmpEchoSocket::Open(GetParam()); });
        if (!Socket) GTEST_SKIP() << "this kind of ICMP socket cannot be opened here";
    }
    std::unique_ptr<TRoutedNetns> Net;
    std::unique_ptr<TIcmpEchoSocket> Socket;
};

TEST_P(IcmpRoutedTest, RealErrorsAndSilence) {
    const auto data = Payload(1024, 3);
    struct TCase {
        const char* Dest;
        std::int32_t Status;
    };
    const TCase cases[] = {
        {"10.99.1.2", 0},       // the router itself answers
        {"10.99.2.1", 11003},   // host unreachable from the router
        {"10.99.4.1", 11003},   // administratively prohibited
        {"10.99.5.1", 11002},   // the router has no route
        {"10.100.0.1", 11002},  // no route on our side: the send fails
        {"10.99.3.1", 11010},   // dropped: no answer within the time-out
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const TEchoResult r = Socket->SendEcho(Addr(c.Dest), data, 400, -1);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.Status, c.Status) << c.Dest;
        if (c.Status == 11010) {
            EXPECT_GE(took, 400ms) << c.Dest;
        } else {
            EXPECT_LT(took, 400ms) << c.Dest;
        }
    }
}

TEST_P(IcmpRoutedTest, WakeDescriptorEndsTheWait) {
    const int wake = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    std::thread waker([&] {
        std::this_thread::sleep_for(100ms);
        const std::uint64_t one = 1;
        EXPECT_EQ(::write(wake, &one, sizeof one), 8);
    });
    const auto start = std::chrono::steady_clock::now();
    const TEchoResult r = Socket->SendEcho(Addr("10.99.3.1"), Payload(64, 0), 60000, wake);
    const auto took = std::chrono::steady_clock::now() - start;
    waker.join();
    ::close(wake);
    EXPECT_EQ(r.Status, 11010);
    EXPECT_LT(took, 5s);
}

INSTANTIATE_TEST_SUITE_P(Kinds, IcmpRoutedTest,
                         ::testing::Values(TIcmpSocketKind::Raw, TIcmpSocketKind::Datagram),
                         [](const auto& info) {
                             return info.param == TIcmpSocketKind::Raw ? "Raw" : "Datagram";
                         });

}  // namespace
}  // namespace tarvik
