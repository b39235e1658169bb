// Linux ICMP echo: ping sockets report ICMP errors on their error queue
// (IP_RECVERR); raw sockets would see every ICMP packet of the machine, so a
// kernel filter on the echo identifier keeps only their own, and user space
// keeps only what answers the request in flight. Round-trip times come from
// the kernel's receive timestamp where it is available.
#include "platform/icmp_socket.h"

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace tarvik {
namespace {

constexpr std::size_t IpHeaderMin = 20;
constexpr std::size_t IcmpHeaderSize = 8;
// Room for the largest IP header, the ICMP header and the largest payload.
constexpr std::size_t ReceiveBufferSize = 60 + IcmpHeaderSize + MaxEchoPayload + 64;
// Bounds one pass over a queue, so that a flood of foreign packets cannot
// keep a thread past its deadline.
constexpr int MaxReadsPerPass = 256;
constexpr std::uint8_t EchoRequestType = 8;
constexpr std::uint8_t EchoReplyType = 0;

std::int64_t NowNs(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::uint16_t Read16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t Read32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Raw-socket identifiers: distinct for every socket of this process and
// unlikely to meet another program's.
std::uint16_t NextRawIdentifier() {
    static std::atomic<std::uint32_t> next = [] {
        std::uint32_t seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
            seed = static_cast<std::uint32_t>(::getpid()) * 2654435761u;
        return seed;
    }();
    return htons(static_cast<std::uint16_t>(next.fetch_add(1)));
}

// Milliseconds for poll from the nanoseconds left, rounded up; long waits go
// in steps so that the count fits an int.
int PollMs(std::int64_t leftNs) {
    return static_cast<int>(std::min<std::int64_t>((leftNs + 999'999) / 1'000'000, 3'600'000));
}

void SetIntOption(int fd, int level, int name, int value) {
    // Best effort: a refused option leaves the kernel default in force.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

// ---- packet rules ----------------------------------------------------------

namespace {

// One's complement sum of native-order 16-bit words (an odd last byte is
// padded with zero). The sum does not depend on the byte order, so the
// folded result can be stored as it is.
std::uint64_t WordSum(std::span<const std::uint8_t> p) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 4 <= p.size(); i += 4) sum += Read32(&p[i]);
    for (; i + 2 <= p.size(); i += 2) sum += Read16(&p[i]);
    if (i < p.size()) {
        const std::uint8_t last[2] = {p[i], 0};
        sum += Read16(last);
    }
    return sum;
}

}  // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    std::uint64_t sum;
    if (a.size() % 2 == 0) {
        sum = WordSum(a) + WordSum(b);
    } else {
        // b starts in the middle of a word: rare, so simply join the parts.
        std::vector<std::uint8_t> joined(a.begin(), a.end());
        joined.insert(joined.end(), b.begin(), b.end());
        sum = WordSum(joined);
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::int32_t IcmpErrorStatus(int type, int code) {
    namespace s = echo_status;
    switch (type) {
        case ICMP_DEST_UNREACH:
            switch (code) {
                case ICMP_NET_UNREACH:
                    return s::DestNetUnreachable;
                case ICMP_HOST_UNREACH:
                    return s::DestHostUnreachable;
                case ICMP_PROT_UNREACH:
                    return s::DestProtocolUnreachable;
                case ICMP_PORT_UNREACH:
                    return s::DestPortUnreachable;
                case ICMP_FRAG_NEEDED:
                    return s::PacketTooBig;
                default:
                    return s::DestHostUnreachable;
            }
        case ICMP_TIME_EXCEEDED:
            return code == ICMP_EXC_FRAGTIME ? s::TtlExpiredReassembly : s::TtlExpiredTransit;
        case ICMP_PARAMETERPROB:
            return s::ParameterProblem;
        case ICMP_SOURCE_QUENCH:
            return s::SourceQuench;
        case ICMP_REDIRECT:
            return s::Success;  // the request went on; keep waiting
        default:
            return s::GeneralFailure;
    }
}

std::int32_t SocketCallStatus(int error) {
    namespace s = echo_status;
    switch (error) {
        case EMSGSIZE:
            return s::PacketTooBig;
        case ENOBUFS:
        case ENOMEM:
            return s::NoResources;
        case ENETUNREACH:
            return s::DestNetUnreachable;
        case EHOSTUNREACH:
            return s::DestHostUnreachable;
        case EBADF:
        case ENOTSOCK:
        case ENETDOWN:
            return s::SocketUnusable;
        default:
            return s::GeneralFailure;
    }
}

TEchoMatch MatchRawPacket(std::span<const std::uint8_t> packet, std::uint32_t address,
                          std::uint16_t id, std::uint16_t seq) {
    TEchoMatch m;
    if (packet.size() < IpHeaderMin || (packet[0] >> 4) != 4) return m;
    const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (ihl < IpHeaderMin || packet.size() < ihl + IcmpHeaderSize) return m;
    // The IP total length bounds the data when it is plausible.
    std::size_t end = packet.size();
    const std::size_t total = ntohs(Read16(&packet[2]));
    if (total >= ihl + IcmpHeaderSize && total < end) end = total;
    const std::uint8_t* icmp = &packet[ihl];
    const std::uint8_t type = icmp[0];

    if (type == EchoReplyType) {
        if (Read32(&packet[12]) != address || Read16(icmp + 4) != id || Read16(icmp + 6) != seq)
            return m;
        m.Kind = TEchoMatch::Reply;
        m.Data = packet.subspan(ihl + IcmpHeaderSize, end - ihl - IcmpHeaderSize);
        return m;
    }
    if (type != ICMP_DEST_UNREACH && type != ICMP_SOURCE_QUENCH && type != ICMP_TIME_EXCEEDED &&
        type != ICMP_PARAMETERPROB)
        return m;
    // An error quotes the offending IP header and the first 8 bytes after it.
    const std::size_t inner = ihl + IcmpHeaderSize;
    if (end < inner + IpHeaderMin || (packet[inner] >> 4) != 4) return m;
    const std::size_t innerIhl = static_cast<std::size_t>(packet[inner] & 0x0F) * 4;
    if (innerIhl < IpHeaderMin || end < inner + innerIhl + IcmpHeaderSize) return m;
    if (packet[inner + 9] != IPPROTO_ICMP || Read32(&packet[inner + 16]) != address) return m;
    const std::uint8_t* quoted = &packet[inner + innerIhl];
    if (quoted[0] != EchoRequestType || Read16(quoted + 4) != id || Read16(quoted + 6) != seq)
        return m;
    const std::int32_t status = IcmpErrorStatus(type, icmp[1]);
    if (status == echo_status::Success) return m;
    m.Kind = TEchoMatch::Error;
    m.Status = status;
    return m;
}

TEchoMatch MatchDatagramPacket(std::span<const std::uint8_t> packet, std::uint32_t source,
                               std::uint32_t address, std::uint16_t seq) {
    TEchoMatch m;
    if (packet.size() < IcmpHeaderSize || packet[0] != EchoReplyType || source != address ||
        Read16(&packet[6]) != seq)
        return m;
    m.Kind = TEchoMatch::Reply;
    m.Data = packet.subspan(IcmpHeaderSize);
    return m;
}

// ---- availability ----------------------------------------------------------

TIcmpBinding BindIcmp() {
    TIcmpBinding b;
    for (const auto kind : {TIcmpSocketKind::Datagram, TIcmpSocketKind::Raw}) {
        if (TIcmpEchoSocket::Open(kind)) {
            b.Available = true;
            b.Kind = kind;
            return b;
        }
    }
    b.Message =
        "Unable to open an ICMP socket\rAllow ping sockets (sysctl net.ipv4.ping_group_range) or "
        "run with CAP_NET_RAW.\rAll TCP/IP functions will be disabled.";
    return b;
}

std::unique_ptr<IEchoSocket> OpenEchoSocket() {
    if (auto s = TIcmpEchoSocket::Open(TIcmpSocketKind::Datagram)) return s;
    return TIcmpEchoSocket::Open(TIcmpSocketKind::Raw);
}

// ---- the socket ------------------------------------------------------------

std::unique_ptr<TIcmpEchoSocket> TIcmpEchoSocket::Open(TIcmpSocketKind kind) {
    const int type = kind == TIcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return nullptr;
    std::unique_ptr<TIcmpEchoSocket> s(new TIcmpEchoSocket(fd, kind, 0));
    SetIntOption(fd, IPPROTO_IP, IP_TTL, 32);
    SetIntOption(fd, IPPROTO_IP, IP_TOS, 0);
    SetIntOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    // Room for a few large replies at once (late ones included).
    SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, 1 << 20);
    // ICMP errors about our requests come on the error queue: for a raw
    // socket connected to its destination it is the only way they come.
    SetIntOption(fd, IPPROTO_IP, IP_RECVERR, 1);
    if (kind == TIcmpSocketKind::Datagram) {
        // Binding makes the kernel choose the identifier now, so it is known.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        socklen_t len = sizeof local;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
            return nullptr;
        s->Id_ = local.sin_port;
    } else {
        icmp_filter filter{};
        filter.data = ~static_cast<std::uint32_t>(
            (1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
            (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        s->Id_ = NextRawIdentifier();
        // Without the kernel filter every thread reads every pinger's
        // replies, a cost that grows with the square of the host count; the
        // socket still works without it.
        s->Filtered_ = s->AttachIdentifierFilter();
        // Packets queued before the filter was in place.
        s->DiscardQueued();
    }
    return s;
}

void TIcmpEchoSocket::ConnectTo(std::uint32_t address) {
    // The kernel hands a raw socket only packets from the address it is
    // connected to, before it copies them for each socket: with many hosts
    // the identifier filter then runs only on replies from our destination.
    // A reply always comes from the address pinged; errors from routers on
    // the way arrive on the error queue, matched by the request they quote.
    if (Connected_ && ConnectedTo_ == address) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    Connected_ = ::connect(Fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    ConnectedTo_ = address;
    if (!Connected_) {
        // Unconnected the socket still works, with the identifier filter only.
        sockaddr none{};
        none.sa_family = AF_UNSPEC;
        ::connect(Fd_, &none, sizeof none);
    }
}

bool TIcmpEchoSocket::AttachIdentifierFilter() {
    // The packet starts at its IP header. X holds the offset of the ICMP
    // header; for an error, the offset of the quoted request's ICMP header
    // minus 8. Loads past the end of the packet drop it.
    const std::uint32_t id = ntohs(Id_);
    constexpr std::uint32_t Keep = 0x40000;  // more than any IP packet
    sock_filter code[] = {
        /* 0 */ BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),  // X = IP header length
        /* 1 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),   // A = ICMP type
        /* 2 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2),
        /* 3 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),  // the reply's identifier
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 14, 15),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_DEST_UNREACH, 4, 0),
        /* 6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_SOURCE_QUENCH, 3, 0),
        /* 7 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TIME_EXCEEDED, 2, 0),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_PARAMETERPROB, 1, 0),
        /* 9 */ BPF_STMT(BPF_RET | BPF_K, 0),
        // An error quotes the IP header of the request and its first 8 bytes.
        /* 10 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),  // quoted version and length
        /* 11 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),
        /* 12 */ BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        /* 13 */ BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        /* 14 */ BPF_STMT(BPF_MISC | BPF_TAX, 0),
        /* 15 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),  // quoted ICMP type
        /* 16 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHO, 0, 3),
        /* 17 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12),  // quoted identifier
        /* 18 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        /* 19 */ BPF_STMT(BPF_RET | BPF_K, Keep),
        /* 20 */ BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return ::setsockopt(Fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

TIcmpEchoSocket::TIcmpEchoSocket(int fd, TIcmpSocketKind kind, std::uint16_t id)
    : Fd_(fd), Kind_(kind), Id_(id), Buffer_(ReceiveBufferSize) {}

TIcmpEchoSocket::~TIcmpEchoSocket() { ::close(Fd_); }

int TIcmpEchoSocket::DiscardQueued() {
    // Whatever is queued now answers nothing in flight: late replies of
    // requests that timed out, stale errors. A pending socket error would
    // fail the next send.
    int discarded = 0;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(Fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) ++discarded;
    for (int i = 0; i < 4 * MaxReadsPerPass; ++i) {
        // A read of no bytes takes the whole datagram off the queue.
        const ssize_t n = ::recv(Fd_, Buffer_.data(), 0, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0)
            ++discarded;
        else if (errno != EINTR)
            break;
    }
    for (int i = 0; i < MaxReadsPerPass; ++i) {
        msghdr msg{};
        char control[256];
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(Fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n >= 0)
            ++discarded;
        else if (errno != EINTR)
            break;
    }
    return discarded;
}

std::int32_t TIcmpEchoSocket::Send(std::uint32_t address, std::span<const std::uint8_t> data,
                                   std::int64_t deadlineNs, int wakeFd, std::int64_t& sentSteady,
                                   std::int64_t& sentReal) {
    std::uint8_t header[IcmpHeaderSize] = {EchoRequestType, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(header + 4, &Id_, 2);
    const std::uint16_t seq = htons(Seq_);
    std::memcpy(header + 6, &seq, 2);
    // A ping socket fills in the checksum itself; a raw one sends what it gets.
    if (Kind_ == TIcmpSocketKind::Raw) {
        const std::uint16_t sum = InternetChecksum(header, data);
        std::memcpy(header + 2, &sum, 2);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    iovec iov[2] = {{header, sizeof header}, {const_cast<std::uint8_t*>(data.data()), data.size()}};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = iov;
    msg.msg_iovlen = data.empty() ? 1 : 2;
    for (;;) {
        sentSteady = NowNs(CLOCK_MONOTONIC);
        sentReal = NowNs(CLOCK_REALTIME);
        if (::sendmsg(Fd_, &msg, MSG_NOSIGNAL) >= 0) return echo_status::Success;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return SocketCallStatus(errno);
        // The send buffer is full: wait for room, the deadline or the wake-up.
        const std::int64_t left = deadlineNs - NowNs(CLOCK_MONOTONIC);
        if (left <= 0) return echo_status::TimedOut;
        pollfd fds[2] = {{Fd_, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, PollMs(left));
        if (r < 0 && errno != EINTR) return echo_status::GeneralFailure;
        if (r > 0 && (fds[1].revents & POLLIN)) return echo_status::TimedOut;
        if (r > 0 && (fds[0].revents & POLLNVAL)) return echo_status::SocketUnusable;
    }
}

namespace {
// One recvmsg into the socket's buffer: sender address and ancillary data
// (time stamps, extended errors) beside it.
struct TReceived {
    explicit TReceived(std::vector<std::uint8_t>& buffer) : Iov{buffer.data(), buffer.size()} {
        Msg.msg_name = &From;
        Msg.msg_namelen = sizeof From;
        Msg.msg_iov = &Iov;
        Msg.msg_iovlen = 1;
        Msg.msg_control = Control;
        Msg.msg_controllen = sizeof Control;
    }
    TReceived(const TReceived&) = delete;
    TReceived& operator=(const TReceived&) = delete;
    sockaddr_in From{};
    iovec Iov;
    alignas(cmsghdr) char Control[512];
    msghdr Msg{};
};
}  // namespace

bool TIcmpEchoSocket::ReadErrorQueue(std::uint32_t address, TEchoResult& result) {
    for (int i = 0; i < MaxReadsPerPass; ++i) {
        TReceived in(Buffer_);
        sockaddr_in& from = in.From;
        msghdr& msg = in.Msg;
        const ssize_t n = ::recvmsg(Fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        const sock_extended_err* ee = nullptr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR)
                ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (!ee) continue;
        // The error quotes our request (when it carries it) and names the
        // destination the request went to.
        // A raw socket's error queue also holds errors about other pingers'
        // requests to the same destination: only the identifier tells.
        const std::size_t got = std::min(static_cast<std::size_t>(n), Buffer_.size());
        if (got >= IcmpHeaderSize &&
            (Buffer_[0] != EchoRequestType || Read16(&Buffer_[6]) != htons(Seq_) ||
             (Kind_ == TIcmpSocketKind::Raw && Read16(&Buffer_[4]) != Id_)))
            continue;
        if (Kind_ == TIcmpSocketKind::Raw && got < IcmpHeaderSize) continue;
        if (msg.msg_namelen >= sizeof from && from.sin_addr.s_addr != address) continue;
        std::int32_t status;
        if (ee->ee_origin == SO_EE_ORIGIN_ICMP)
            status = IcmpErrorStatus(ee->ee_type, ee->ee_code);
        else if (ee->ee_origin == SO_EE_ORIGIN_LOCAL)
            status = SocketCallStatus(static_cast<int>(ee->ee_errno));
        else
            status = echo_status::GeneralFailure;
        if (status == echo_status::Success) continue;
        result.Status = status;
        return true;
    }
    return false;
}

bool TIcmpEchoSocket::ReadQueued(std::uint32_t address, TEchoResult& result,
                                 std::int64_t& arrivalRealNs) {
    if (ReadErrorQueue(address, result)) return true;
    const std::uint16_t seq = htons(Seq_);
    for (int i = 0; i < MaxReadsPerPass; ++i) {
        TReceived in(Buffer_);
        sockaddr_in& from = in.From;
        msghdr& msg = in.Msg;
        const ssize_t n = ::recvmsg(Fd_, &msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
            const std::int32_t status = SocketCallStatus(errno);
            if (status == echo_status::SocketUnusable) {
                result.Status = status;
                return true;
            }
            // A pending error raised by an ICMP message: its details wait on
            // the error queue.
            if (ReadErrorQueue(address, result)) return true;
            continue;
        }
        const std::span<const std::uint8_t> packet(
            Buffer_.data(), std::min(static_cast<std::size_t>(n), Buffer_.size()));
        const TEchoMatch m = Kind_ == TIcmpSocketKind::Raw
                                 ? MatchRawPacket(packet, address, Id_, seq)
                                 : MatchDatagramPacket(packet, from.sin_addr.s_addr, address, seq);
        if (m.Kind == TEchoMatch::Foreign) continue;
        if (m.Kind == TEchoMatch::Error) {
            result.Status = m.Status;
            return true;
        }
        arrivalRealNs = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                arrivalRealNs = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
            }
        }
        result.Status = echo_status::Success;
        result.Data = m.Data;
        return true;
    }
    return false;
}

TEchoResult TIcmpEchoSocket::SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                                      std::uint32_t timeoutMs, int wakeFd) {
    TEchoResult result;
    if (data.size() > MaxEchoPayload) {
        result.Status = echo_status::PacketTooBig;
        return result;
    }
    const std::int64_t deadline =
        NowNs(CLOCK_MONOTONIC) + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    if (Kind_ == TIcmpSocketKind::Raw) ConnectTo(address);
    ++Seq_;
    std::int64_t sentSteady = 0, sentReal = 0;
    result.Status = Send(address, data, deadline, wakeFd, sentSteady, sentReal);
    if (result.Status != echo_status::Success) return result;

    // The reply is rarely there the moment the send returns: wait first.
    for (;;) {
        const std::int64_t left = deadline - NowNs(CLOCK_MONOTONIC);
        pollfd fds[2] = {{Fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, left > 0 ? PollMs(left) : 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            result.Status = echo_status::GeneralFailure;
            return result;
        }
        if (fds[1].revents & POLLIN) break;  // the thread must stop waiting
        if (fds[0].revents & POLLNVAL) {
            result.Status = echo_status::SocketUnusable;
            return result;
        }
        std::int64_t arrivalReal = 0;
        if (fds[0].revents && ReadQueued(address, result, arrivalReal)) {
            if (result.Status == echo_status::Success) {
                const std::int64_t steady = NowNs(CLOCK_MONOTONIC) - sentSteady;
                std::int64_t rtt = arrivalReal - sentReal;
                // Without a kernel stamp, or when the wall clock stepped, the
                // monotonic clock stands in.
                if (arrivalReal == 0 || rtt < 0 || rtt > steady + 1'000'000'000) rtt = steady;
                result.RoundTripNs = rtt;
                result.RoundTripMs = static_cast<std::uint32_t>(rtt / 1'000'000);
            }
            return result;
        }
        if (left <= 0) break;
    }
    result.Status = echo_status::TimedOut;
    result.Data = {};
    return result;
}

}  // namespace tarvik
