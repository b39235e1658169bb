// ICMP echo on Linux: the start-up availability check and one echo socket per
// measuring thread (a datagram "ping socket" where the system allows it, else
// a raw socket). Results are the program's own status codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// Status codes of one echo exchange. 0 is a valid reply, 1 a socket that is
// unusable as a whole (the caller opens a fresh one); the rest name the
// failure as the status texts know it.
namespace echo_status {
constexpr std::int32_t Success = 0;
constexpr std::int32_t SocketUnusable = 1;
constexpr std::int32_t DestNetUnreachable = 11002;
constexpr std::int32_t DestHostUnreachable = 11003;
constexpr std::int32_t DestProtocolUnreachable = 11004;
constexpr std::int32_t DestPortUnreachable = 11005;
constexpr std::int32_t NoResources = 11006;
constexpr std::int32_t HardwareError = 11008;
constexpr std::int32_t PacketTooBig = 11009;
constexpr std::int32_t TimedOut = 11010;
constexpr std::int32_t TtlExpiredTransit = 11013;
constexpr std::int32_t TtlExpiredReassembly = 11014;
constexpr std::int32_t ParameterProblem = 11015;
constexpr std::int32_t SourceQuench = 11016;
constexpr std::int32_t GeneralFailure = 11050;
}  // namespace echo_status

// The largest echo payload an IPv4 datagram can carry.
constexpr std::size_t MaxEchoPayload = 65507;

enum class TIcmpSocketKind { Datagram, Raw };

// Outcome of the start-up check. When no ICMP socket can be opened, Message
// holds the text to show once; host resources then never measure.
struct TIcmpBinding {
    bool Available = false;
    TIcmpSocketKind Kind = TIcmpSocketKind::Datagram;
    std::string Message;
};
TIcmpBinding BindIcmp();

struct TEchoResult {
    std::int32_t Status = echo_status::TimedOut;
    // Whole milliseconds from the send to the arrival of the reply (valid
    // with status 0).
    std::uint32_t RoundTripMs = 0;
    std::int64_t RoundTripNs = 0;  // the same, unrounded
    // The echoed data of a reply; it stays valid until the next exchange.
    std::span<const std::uint8_t> Data;
};

// One echo exchange at a time; each measuring thread has its own.
class IEchoSocket {
  public:
    virtual ~IEchoSocket() = default;
    // Throws away whatever the socket has queued: late replies of requests
    // that timed out, stale errors. Called before each exchange and outside
    // its timing, so that the exchange measures the echo alone. Returns the
    // number of packets and errors discarded.
    virtual int DiscardQueued() { return 0; }
    // Sends one echo request carrying data to address (IPv4, network byte
    // order) and waits up to timeoutMs for its reply or an ICMP error about
    // it. A readable wakeFd (-1: none) ends the wait early as a time-out.
    // Packets that answer an earlier request are skipped; a stale socket
    // error can fail the send, which DiscardQueued beforehand prevents.
    virtual TEchoResult SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                                 std::uint32_t timeoutMs, int wakeFd) = 0;
};

// Opens an echo socket: a datagram socket, else a raw one; null when neither
// can be opened.
std::unique_ptr<IEchoSocket> OpenEchoSocket();
using TEchoSocketOpener = std::function<std::unique_ptr<IEchoSocket>()>;

// A raw socket carries a kernel filter on its identifier and is connected to
// the address of its last exchange, so that the kernel hands it only its own
// replies and errors.
class TIcmpEchoSocket final : public IEchoSocket {
  public:
    // Opens a socket of the given kind; null when the system refuses it
    // (errno tells why).
    static std::unique_ptr<TIcmpEchoSocket> Open(TIcmpSocketKind kind);
    ~TIcmpEchoSocket() override;
    TIcmpEchoSocket(const TIcmpEchoSocket&) = delete;
    TIcmpEchoSocket& operator=(const TIcmpEchoSocket&) = delete;

    int DiscardQueued() override;
    TEchoResult SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                         std::uint32_t timeoutMs, int wakeFd) override;
    TIcmpSocketKind Kind() const { return Kind_; }
    // The echo identifier in network byte order, as it appears in packets.
    std::uint16_t Identifier() const { return Id_; }
    // Whether the kernel filter on the identifier is attached (raw sockets).
    bool KernelFiltered() const { return Filtered_; }

  private:
    TIcmpEchoSocket(int fd, TIcmpSocketKind kind, std::uint16_t id);
    bool AttachIdentifierFilter();
    void ConnectTo(std::uint32_t address);
    // Sends the request; sentSteady and sentReal take the instant of the send.
    std::int32_t Send(std::uint32_t address, std::span<const std::uint8_t> data,
                      std::int64_t deadlineNs, int wakeFd, std::int64_t& sentSteady,
                      std::int64_t& sentReal);
    // Reads what is queued; returns true when the exchange is decided.
    bool ReadQueued(std::uint32_t address, TEchoResult& result, std::int64_t& arrivalRealNs);
    bool ReadErrorQueue(std::uint32_t address, TEchoResult& result);

    int Fd_;
    TIcmpSocketKind Kind_;
    std::uint16_t Id_;
    std::uint16_t Seq_ = 0;  // host order; the one in flight
    bool Filtered_ = false;
    bool Connected_ = false;  // raw: connected to ConnectedTo_
    std::uint32_t ConnectedTo_ = 0;
    std::vector<std::uint8_t> Buffer_;
};

// ---- packet rules, exposed for tests ----------------------------------

// Verdict on one packet read while a request is in flight.
struct TEchoMatch {
    enum TKind { Foreign, Reply, Error } Kind = Foreign;
    std::int32_t Status = echo_status::Success;  // for Error
    std::span<const std::uint8_t> Data;          // for Reply
};

// A packet from a raw socket (IP header first): our reply comes from the
// destination with our identifier and sequence; an ICMP error counts when the
// request it quotes is ours. Identifier and sequence in network byte order.
TEchoMatch MatchRawPacket(std::span<const std::uint8_t> packet, std::uint32_t address,
                          std::uint16_t id, std::uint16_t seq);
// A packet from a datagram socket (ICMP header first, the kernel has matched
// the identifier already) received from source.
TEchoMatch MatchDatagramPacket(std::span<const std::uint8_t> packet, std::uint32_t source,
                               std::uint32_t address, std::uint16_t seq);
// ICMP error type and code to a status (0 for a message that is no failure
// of the request, such as a redirect).
std::int32_t IcmpErrorStatus(int type, int code);
// errno of a failed send or receive to a status.
std::int32_t SocketCallStatus(int error);
// The Internet checksum (RFC 1071) over the given parts.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> a,
                               std::span<const std::uint8_t> b = {});

}  // namespace tarvik
