#include "web_server.h"

#include "browser_launch.h"
#include "console_output.h"
#include "host_console.h"
#include "web_guard.h"
#include "web_host.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>
#include <thread>

namespace vxdiag {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

constexpr std::size_t kMaxConnections = 32;
constexpr std::uint64_t kMaxBodyBytes = 256 * 1024;  // a rows entry or a request, with room to spare
constexpr const char* kTokenHeader = "X-Vxdiag-Token";
constexpr const char* kSessionHeader = "X-Vxdiag-Session";

// No other site may frame the page, and its address (with the token) is not
// sent anywhere as a referrer; the page needs nothing from outside.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
    "img-src 'self' data: blob:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

std::string_view header(const Request& request, std::string_view name) {
    const auto found = request.find(beast::string_view(name.data(), name.size()));
    if (found == request.end()) return {};
    const beast::string_view value = found->value();
    return {value.data(), value.size()};
}

std::string_view path_of(std::string_view target) { return target.substr(0, target.find('?')); }

Response answer_with(const Request& request, http::status status, std::string body, const char* type) {
    Response response(status, request.version());
    response.set(http::field::server, "vxdiag");
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.body() = std::move(body);
    response.keep_alive(request.keep_alive());
    response.prepare_payload();
    return response;
}

class Server {
public:
    Server(WebGuard guard, WebHost& host) : guard_(std::move(guard)), host_(host) {}

    Response answer(const Request& request) {
        const std::string_view target(request.target().data(), request.target().size());
        const std::string_view path = path_of(target);
        const bool api = path.starts_with("/api/");
        const std::string token = api ? std::string(header(request, kTokenHeader)) : query_value(target, "token");
        const Refusal refusal = guard_.check(
            {header(request, "Host"), header(request, "Origin"), header(request, "Sec-Fetch-Site"), token});
        if (refusal != Refusal::None) {
            print_note(fmt::format("{} {} {}", std::string(request.method_string()), path, refusal_text(refusal)));
            return answer_with(request, http::status::forbidden, refusal_text(refusal), "text/plain; charset=utf-8");
        }
        if (!api) {
            if (request.method() != http::verb::get || path != "/") {
                return answer_with(request, http::status::not_found, "not found", "text/plain; charset=utf-8");
            }
            Response page = answer_with(request, http::status::ok, kWebPage, "text/html; charset=utf-8");
            page.set("Content-Security-Policy", kPagePolicy);
            page.set("X-Frame-Options", "DENY");
            page.prepare_payload();
            return page;
        }
        // A JSON body forces a browser's preflight on any cross-site request,
        // which this server never grants.
        if (request.method() != http::verb::post || !header(request, "Content-Type").starts_with("application/json")) {
            return answer_with(request, http::status::method_not_allowed, R"({"error":"POST application/json only"})",
                               "application/json");
        }
        const WebAnswer result = api_answer(path, header(request, kSessionHeader), request.body());
        return answer_with(request, static_cast<http::status>(result.status), result.body, "application/json");
    }

    std::atomic<std::size_t>& connections() { return connections_; }
    const std::string& token() const { return guard_.token(); }

private:
    WebAnswer api_answer(std::string_view path, std::string_view session, std::string_view body) {
        const auto now = WebHost::Clock::now();
        if (path == "/api/claim") return host_.claim(now);
        if (path == "/api/step") return host_.step(session, body, now);
        if (path == "/api/release") return host_.release(session);
        return {404, R"({"error":"no such call"})"};
    }

    WebGuard guard_;
    WebHost& host_;
    std::atomic<std::size_t> connections_{0};
};

// One connection, its requests in turn. A step runs to its end here even when
// the browser has gone: only writing its answer then fails.
void serve_requests(tcp::socket& socket, Server& server) {
    beast::flat_buffer buffer;
    beast::error_code error;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.body_limit(kMaxBodyBytes);
        http::read(socket, buffer, parser, error);
        if (error) break;
        Response response;
        try {
            response = server.answer(parser.get());
        } catch (const std::exception& failure) {
            response = answer_with(parser.get(), http::status::internal_server_error, failure.what(), "text/plain");
        }
        http::write(socket, response, error);
        if (error || !response.keep_alive()) break;
    }
    socket.shutdown(tcp::socket::shutdown_send, error);
}

void serve_connection(tcp::socket socket, Server& server) noexcept {
    try {
        serve_requests(socket, server);
    } catch (const std::exception& failure) {  // out of memory: this connection ends, the server goes on
        print_note(std::string("serve: a connection failed: ") + failure.what());
    }
    --server.connections();
}

void accept_loop(tcp::acceptor& acceptor, Server& server) {
    for (;;) {
        beast::error_code error;
        tcp::socket socket = acceptor.accept(error);
        if (error) {
            if (!acceptor.is_open()) return;
            continue;
        }
        if (server.connections()++ >= kMaxConnections) {
            --server.connections();
            socket.close(error);
            continue;
        }
        try {
            std::thread(serve_connection, std::move(socket), std::ref(server)).detach();
        } catch (const std::system_error&) {  // no thread to spare: the connection is dropped
            --server.connections();
        }
    }
}

}  // namespace

int serve(const CoreLibrary& core, const std::string& library, const ServeOptions& options) {
    net::io_context context;
    tcp::acceptor acceptor(context);
    beast::error_code error;
    // The loopback address only: the page can drive a car, so no other
    // machine may reach it. No SO_REUSEADDR: on Windows it would let another
    // program take the same port.
    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), options.port);
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        print_note(fmt::format("serve: cannot listen on 127.0.0.1:{}: {}", options.port, error.message()));
        return 1;
    }
    const std::uint16_t port = acceptor.local_endpoint().port();
    WebHost host(core, library, std::chrono::seconds(options.idle_seconds));
    Server server(WebGuard(random_token(), port), host);
    std::thread(accept_loop, std::ref(acceptor), std::ref(server)).detach();

    const std::string address = fmt::format("http://127.0.0.1:{}/?token={}", port, server.token());
    print_line(fmt::format("vxdiag serve: open {}", address));
    print_line(fmt::format("  core library      {}\n  PassThru library  {}", core.path(), library));
    print_line("  listening on 127.0.0.1 only; one page at a time; Ctrl-C closes the device and stops");
    stdout_ok();
    if (options.open_browser && !open_in_browser(address)) print_note("serve: could not start a browser");

    // The server's threads answer; this one waits for an interrupt request
    // and ends the session of a page that went silent.
    while (vx::platform::interrupt_exit_status() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        host.end_idle_session(WebHost::Clock::now());
    }
    host.shut_down();
    print_line(fmt::format("vxdiag serve: stopped by {}", vx::platform::interrupt_name()));
    const int status = stdout_ok() ? vx::platform::interrupt_exit_status() : 1;
    // The device is closed. Connection threads may still wait on their
    // sockets and would outlive the objects they use: end the process here.
    std::fflush(nullptr);
    vx::platform::interrupt_cleanup_finished();
    std::_Exit(status);
}

}  // namespace vxdiag
