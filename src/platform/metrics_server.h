// A small HTTP server for the Prometheus scrape: GET or HEAD /metrics answers
// the page that the page function builds, any other path 404, any other
// method 405. It runs on threads of its own with read and write time-outs,
// so a slow or hostile client never holds up a measuring thread or the window.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvik {

struct TListenAddress {
    std::string Host;  // numeric IPv4 or IPv6 address
    int Port = 0;
};

// Parses "ADDR:PORT", "[ADDR6]:PORT", ":PORT" or "PORT". With no address the
// server listens on loopback only (127.0.0.1). The port is 1..65535; "0" asks
// for a free port (tests). nullopt for anything else.
std::optional<TListenAddress> ParseListenAddress(const std::string& text);

class TMetricsServer {
public:
    using TPageFunction = std::function<std::string()>;
    TMetricsServer();
    ~TMetricsServer();  // stops and joins
    TMetricsServer(const TMetricsServer&) = delete;
    TMetricsServer& operator=(const TMetricsServer&) = delete;

    // Binds and starts serving; false with the reason in *error when the
    // address cannot be bound.
    bool Start(const TListenAddress& address, TPageFunction page, std::string* error);
    void Stop();
    // The port bound (useful after asking for port 0); 0 when not serving.
    int Port() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl_;
};

}  // namespace tarvik
