#include "platform/metrics_server.h"

#include <httplib.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <thread>

#include <arpa/inet.h>

namespace tarvik {

std::optional<TListenAddress> ParseListenAddress(const std::string& text) {
    std::string host = "127.0.0.1";
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        if (text.find(':') != colon) return std::nullopt;  // a bare IPv6 address needs brackets
        if (colon > 0) host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    in6_addr a6{};
    in_addr a4{};
    if (::inet_pton(AF_INET, host.c_str(), &a4) != 1 && ::inet_pton(AF_INET6, host.c_str(), &a6) != 1)
        return std::nullopt;
    int p = -1;
    const auto r = std::from_chars(port.data(), port.data() + port.size(), p);
    if (port.empty() || r.ec != std::errc() || r.ptr != port.data() + port.size() || p < 0 || p > 65535)
        return std::nullopt;
    return TListenAddress{host, p};
}

struct TMetricsServer::TImpl {
    httplib::Server Server;
    std::thread Thread;
    int Port = 0;
};

TMetricsServer::TMetricsServer() = default;

TMetricsServer::~TMetricsServer() { Stop(); }

bool TMetricsServer::Start(const TListenAddress& address, TPageFunction page, std::string* error) {
    Stop();
    auto impl = std::make_unique<TImpl>();
    httplib::Server& s = impl->Server;
    // A client gets 5 s to send its request and to take the answer.
    s.set_read_timeout(5, 0);
    s.set_write_timeout(5, 0);
    s.set_keep_alive_max_count(100);
    s.set_keep_alive_timeout(5);
    s.set_payload_max_length(64 * 1024);
    s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("Method Not Allowed\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.path != "/metrics") {
            res.status = 404;
            res.set_content("Not Found: the metrics are at /metrics\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.Get("/metrics", [page = std::move(page)](const httplib::Request&, httplib::Response& res) {
        res.set_content(page(), "text/plain; version=0.0.4; charset=utf-8");
    });
    int port = address.Port;
    if (port == 0) {
        port = s.bind_to_any_port(address.Host);
    } else if (!s.bind_to_port(address.Host, port)) {
        port = -1;
    }
    if (port <= 0) {
        if (error) *error = "cannot listen on " + address.Host + ":" + std::to_string(address.Port) +
                            ": " + std::strerror(errno ? errno : EADDRINUSE);
        return false;
    }
    impl->Port = port;
    impl->Thread = std::thread([&srv = impl->Server] { srv.listen_after_bind(); });
    // Stop() only reaches a server whose loop runs, so wait for it to begin.
    for (int i = 0; i < 2000 && !s.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Impl_ = std::move(impl);
    return true;
}

void TMetricsServer::Stop() {
    if (!Impl_) return;
    Impl_->Server.stop();
    if (Impl_->Thread.joinable()) Impl_->Thread.join();
    Impl_.reset();
}

int TMetricsServer::Port() const { return Impl_ ? Impl_->Port : 0; }

}  // namespace tarvik
