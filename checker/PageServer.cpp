#include "checker/PageServer.h"

#include <chrono>
#include <csignal>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#ifdef _WIN32
#include <boost/asio/windows/object_handle.hpp>
#include <windows.h>
#endif

#include "checker/EmbeddedFiles.h"
#include "checker/PageChange.h"
#include "checker/PageKey.h"
#include "checker/Text.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

namespace {

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// The page sends small requests: a change of every setting at once stays far below these.
constexpr std::size_t BodyLimit = 64 * 1024;
constexpr std::size_t HeaderLimit = 16 * 1024;
// A connection without a request for this long is closed; the browser opens another.
constexpr auto IdleTime = std::chrono::seconds(60);
// More connections than a browser ever keeps open are turned away.
constexpr int ConnectionLimit = 64;
constexpr std::string_view KeyHeader = "X-Glimmerward-Key";

Response Answer(http::status status, unsigned version, std::string_view type, std::string body) {
    Response response{status, version};
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

Response Refusal(http::status status, unsigned version, std::string_view sentence) {
    return Answer(status, version, "text/plain; charset=utf-8", std::string(sentence) + "\n");
}

Response JsonAnswer(http::status status, unsigned version, const json& body) {
    return Answer(status, version, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace));
}

Response NotAllowed(unsigned version, std::string_view allowed) {
    Response response = Refusal(http::status::method_not_allowed, version, "This address does not take that kind of request.");
    response.set(http::field::allow, allowed);
    return response;
}

// The page itself: it may run only its own inline script and style, and talk only to here.
Response PageAnswer(unsigned version) {
    Response response = Answer(http::status::ok, version, "text/html; charset=utf-8", std::string(SettingsPage()));
    response.set("Content-Security-Policy",
                 "default-src 'none'; style-src " + std::string(SettingsPageStyleSource()) + "; script-src " +
                     std::string(SettingsPageScriptSource()) +
                     "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    return response;
}

struct Target {
    std::string_view path;
    std::string_view query;
};

Target SplitTarget(std::string_view target) {
    const std::size_t mark = target.find('?');
    if (mark == std::string_view::npos) return {target, {}};
    return {target.substr(0, mark), target.substr(mark + 1)};
}

// The first value of `name` in a query. The page's values are hex digits, never
// percent-encoded: an encoded one simply does not match.
std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) return equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    }
    return std::nullopt;
}

// "application/json", parameters such as "; charset=utf-8" allowed.
bool IsJson(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
    return EqualsIgnoringCase(type, "application/json");
}

#ifdef _WIN32
// Windows ends a console program soon after its window closes; the server stops first, and
// the end waits for that, a few seconds at most. The events live as long as the process.
HANDLE CloseRequested() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

HANDLE Stopped() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) return FALSE;
    SetEvent(CloseRequested());
    WaitForSingleObject(Stopped(), 4000);
    return TRUE;
}
#endif

}  // namespace

class PageSite {
public:
    PageSite(PageFile pageFile, std::function<void(const std::string&)> sayLine);

    Response answer(const Request& request);
    void accept();
    void run();

    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::signal_set signals{io, SIGINT, SIGTERM};
    PageFile file;
    std::function<void(const std::string&)> say;
    std::string key;
    std::string port;
    std::string problem;
    int connections = 0;
    std::function<void()> firstKeyed;

    void keyUsed() {
        if (firstKeyed) std::exchange(firstKeyed, nullptr)();
    }

private:
    Response answerApi(const Request& request, const Target& target);
    bool ownAddress(std::string_view host, std::string_view scheme) const {
        return host == std::string(scheme) + "127.0.0.1:" + port || host == std::string(scheme) + "localhost:" + port;
    }
};

namespace {

// One connection of the browser: requests answered one after the other, kept open between them.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, PageSite& site) : stream_(std::move(socket)), site_(site) { ++site_.connections; }
    ~Connection() { --site_.connections; }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void read() {
        parser_.emplace();
        parser_->body_limit(BodyLimit);
        parser_->header_limit(HeaderLimit);
        stream_.expires_after(IdleTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
    }

private:
    void onRead(beast::error_code error) {
        if (error == http::error::body_limit || error == http::error::header_limit) {
            return send(Refusal(http::status::payload_too_large, 11, "The request is larger than any the page sends."), false);
        }
        if (error == http::error::end_of_stream || error == http::error::partial_message) return close();
        if (error.category() == http::make_error_code(http::error::bad_method).category()) {
            return send(Refusal(http::status::bad_request, 11, "The request is not one the page sends."), false);
        }
        if (error) return close();
        const Request& request = parser_->get();
        try {
            send(site_.answer(request), request.keep_alive());
        } catch (const std::exception&) {
            send(Refusal(http::status::internal_server_error, request.version(),
                         "The checker could not answer that; reload the page."), false);
        }
    }

    void send(Response response, bool keepAlive) {
        response_ = std::move(response);
        response_.keep_alive(keepAlive);
        stream_.expires_after(IdleTime);
        http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error || !self->response_.keep_alive()) return self->close();
            self->read();
        });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    PageSite& site_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Response response_;
};

}  // namespace

PageSite::PageSite(PageFile pageFile, std::function<void(const std::string&)> sayLine)
    : file(std::move(pageFile)), say(std::move(sayLine)), key(NewPageKey()) {
    if (key.empty()) {
        problem = "the system gave no random numbers for the page's secret key";
        return;
    }
    // This computer's own address only, at a port that is free.
    const tcp::endpoint local(asio::ip::address_v4::loopback(), 0);
    beast::error_code error;
    acceptor.open(local.protocol(), error);
#ifdef _WIN32
    // No other program may bind the same port and take the page's connections.
    const BOOL exclusive = TRUE;
    if (!error && setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                             reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0) {
        error = beast::error_code(WSAGetLastError(), asio::error::get_system_category());
    }
#endif
    if (!error) acceptor.bind(local, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        problem = "it cannot listen at this computer's own address 127.0.0.1 (" + error.message() + ")";
        return;
    }
    port = std::to_string(acceptor.local_endpoint().port());
}

void PageSite::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error && connections < ConnectionLimit) std::make_shared<Connection>(std::move(socket), *this)->read();
        accept();
    });
}

void PageSite::run() {
    signals.async_wait([this](beast::error_code error, int) {
        if (!error) io.stop();
    });
#ifdef _WIN32
    HANDLE closing = nullptr;
    DuplicateHandle(GetCurrentProcess(), CloseRequested(), GetCurrentProcess(), &closing, 0, FALSE, DUPLICATE_SAME_ACCESS);
    asio::windows::object_handle closed(io, closing);
    closed.async_wait([this](beast::error_code error) {
        if (!error) io.stop();
    });
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#endif
    accept();
    io.run();
#ifdef _WIN32
    SetEvent(Stopped());
#endif
}

Response PageSite::answer(const Request& request) {
    const unsigned version = request.version();
    if (!ownAddress(request[http::field::host], "")) {
        return Refusal(http::status::forbidden, version, "This page answers only at its own address on this computer.");
    }
    const Target target = SplitTarget(request.target());
    if (target.path == "/") {
        // The page holds no data, and must load again once it has taken the key out of its address.
        if (SameKey(QueryValue(target.query, "key").value_or(""), key)) keyUsed();
        if (request.method() != http::verb::get) return NotAllowed(version, "GET");
        return PageAnswer(version);
    }
    if (target.path == "/api/state" || target.path == "/api/change") return answerApi(request, target);
    return Refusal(http::status::not_found, version, "There is nothing at this address.");
}

Response PageSite::answerApi(const Request& request, const Target& target) {
    const unsigned version = request.version();
    if (!SameKey(request[KeyHeader], key)) {
        return Refusal(http::status::forbidden, version,
                       "The request lacks the page's key: open the page from the address that glimmerward-check shows.");
    }
    keyUsed();
    if (target.path == "/api/state") {
        if (request.method() != http::verb::get) return NotAllowed(version, "GET");
        const std::optional<std::string_view> since = QueryValue(target.query, "since");
        if (since) {
            if (const std::string now = CurrentVersion(file.path); *since == now) {
                return JsonAnswer(http::status::ok, version, UnchangedState(now));
            }
        }
        return JsonAnswer(http::status::ok, version, PageState(file));
    }
    if (request.method() != http::verb::post) return NotAllowed(version, "POST");
    if (!ownAddress(request[http::field::origin], "http://")) {
        return Refusal(http::status::forbidden, version, "Changes are taken only from the settings page itself.");
    }
    if (!IsJson(request[http::field::content_type])) {
        return Refusal(http::status::unsupported_media_type, version, "A change must come as JSON.");
    }
    const ChangeRequest change = ParseChange(request.body());
    if (!change.problem.empty()) return Refusal(http::status::bad_request, version, change.problem);
    const ChangeAnswer answered = MakeChange(file, change.write);
    for (const std::string& line : answered.printed) say(line);
    return JsonAnswer(static_cast<http::status>(answered.status), version, answered.body);
}

PageServer::PageServer(PageFile file, std::function<void(const std::string&)> say)
    : site_(std::make_unique<PageSite>(std::move(file), std::move(say))) {}

PageServer::~PageServer() = default;

const std::string& PageServer::problem() const { return site_->problem; }

std::string PageServer::address() const { return "http://127.0.0.1:" + site_->port + "/?key=" + site_->key; }

void PageServer::whenKeyFirstUsed(std::function<void()> first) { site_->firstKeyed = std::move(first); }

void PageServer::run() {
    if (problem().empty()) site_->run();
}
