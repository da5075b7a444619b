#include "page/PageServer.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/params_view.hpp>

#ifdef _WIN32
#include <boost/asio/windows/object_handle.hpp>
#include <windows.h>
#endif

#include "page/EmbeddedFiles.h"
#include "page/PageChange.h"
#include "page/PageKey.h"
#include "page/PagePresets.h"
#include "presets/Presets.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
// Takes a request's answer, at once or once the writer is done.
using Reply = std::function<void(Response)>;

// The page sends small requests: a change of every setting at once stays far below these. The
// largest is a shared text of the largest size taken, which JSON may send with every byte
// escaped as six ("\u0041"), with room beyond it so that a text too long is refused in words.
constexpr std::size_t BodyLimit = 7 * LargestShareText;
constexpr std::size_t HeaderLimit = 16 * 1024;
// From a new connection to the end of its first request, from the first byte of a later one
// to its end, and for writing an answer: ample for a browser on this computer, short enough
// that silent or slow sockets give their place up soon.
constexpr auto RequestTime = std::chrono::seconds(5);
// A kept-alive connection waits this long for the first byte of its next request; the browser
// opens another when it is gone.
constexpr auto IdleTime = std::chrono::seconds(60);
// Far more than a browser keeps open, far fewer than the descriptors a process may have (1024
// by default on Linux). When all are taken, a newcomer closes one that never carried the key.
constexpr std::size_t ConnectionLimit = 100;
// After a failed accept (out of descriptors, say) the next waits, each time longer up to this:
// trying again at once only spins until a descriptor comes free.
constexpr auto FirstAcceptPause = std::chrono::milliseconds(25);
constexpr auto LongestAcceptPause = std::chrono::milliseconds(1000);
constexpr std::string_view KeyHeader = "X-Glimmerward-Key";
// Headers that decide how a request is taken: two of one are refused rather than guessed at.
constexpr std::string_view OnceOnlyHeaders[] = {"Host", "Origin", "Content-Type", "Content-Length", KeyHeader};

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

enum class Api {
    State,
    Change,
    PresetList,
    ShareText,
    PresetReading,  // a request about presets that reads alone, answered on the loop as the state is
    PresetWriting,  // one that writes, answered on the writer's thread as a change is
};

using PresetJob = ChangeAnswer (*)(const PageFile&, const PresetRequest&);

// What the page's script may ask for: each address takes one method.
struct ApiRoute {
    std::string_view path;
    http::verb method;
    Api api;
    PresetAsk ask;  // for a request about presets: its body's kind, and what answers it
    PresetJob job;
};

constexpr ApiRoute ApiRoutes[] = {
    {"/api/state", http::verb::get, Api::State, {}, nullptr},
    {"/api/change", http::verb::post, Api::Change, {}, nullptr},
    {"/api/presets", http::verb::get, Api::PresetList, {}, nullptr},
    {"/api/presets/save", http::verb::post, Api::PresetWriting, PresetAsk::Save, PageSavePreset},
    {"/api/presets/apply", http::verb::post, Api::PresetWriting, PresetAsk::Apply, PageApplyPreset},
    {"/api/presets/delete", http::verb::post, Api::PresetWriting, PresetAsk::Delete, PageDeletePreset},
    {"/api/share", http::verb::get, Api::ShareText, {}, nullptr},
    {"/api/share/preview", http::verb::post, Api::PresetReading, PresetAsk::Preview, PagePreviewShared},
    {"/api/share/apply", http::verb::post, Api::PresetWriting, PresetAsk::ApplyShared, PageApplyShared},
};

const ApiRoute* FindApiRoute(std::string_view path) {
    for (const ApiRoute& route : ApiRoutes) {
        if (route.path == path) return &route;
    }
    return nullptr;
}

// A request's path, still percent-encoded, and its query, read by Boost.URL. A target that is
// not a path with an optional query has no path, and so nothing is found at it.
struct Target {
    std::string path;
    boost::urls::params_view query;
};

Target SplitTarget(std::string_view target) {
    const auto parsed = boost::urls::parse_origin_form(target);
    if (!parsed) return {};
    return {std::string(parsed->encoded_path()), parsed->params()};
}

// The first value of `name` in a query, percent-decoded; a name without '=' has an empty value.
std::optional<std::string> QueryValue(const boost::urls::params_view& query, std::string_view name) {
    const auto found = query.find(name);
    if (found == query.end()) return std::nullopt;
    return (*found).value;
}

// Without HTTP's optional whitespace, spaces and tabs, around it.
std::string_view WithoutBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "application/json", with parameters ("; charset=utf-8") or without; the body is read as
// UTF-8, so a charset must name that one.
bool IsJson(std::string_view contentType) {
    const std::size_t parameters = std::min(contentType.find(';'), contentType.size());
    if (!beast::iequals(WithoutBlanks(contentType.substr(0, parameters)), "application/json")) return false;
    for (const auto& [name, value] : http::param_list(contentType.substr(parameters))) {
        if (beast::iequals(name, "charset") && !beast::iequals(value, "utf-8")) return false;
    }
    return true;
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

class PageConnection;

class PageSite {
public:
    PageSite(PageFile pageFile, std::function<void(const std::string&)> sayLine);
    ~PageSite();
    PageSite(const PageSite&) = delete;
    PageSite& operator=(const PageSite&) = delete;

    // Answers `request` through `reply`: at once, or for a change once the writer has made it.
    // Whether it carried the page's key.
    bool answer(const Request& request, const Reply& reply);
    void run();
    // Forgets a connection that is closing; nothing when it is already forgotten.
    void forget(const PageConnection& connection) { std::erase(connections, &connection); }

    // Before `io`: connections that the end of `io` destroys still leave this list.
    std::vector<PageConnection*> connections;
    std::function<void()> firstKeyed;
    PageFile file;
    std::function<void(const std::string&)> say;
    std::string key;
    std::string port;
    std::string problem;

    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::signal_set signals{io, SIGINT, SIGTERM};
    asio::steady_timer acceptTimer{io};
    Clock::duration acceptPause{};
    // Writes the changes, one at a time, so that waiting for the writer's turn never holds up the
    // loop. After `io`: it is joined, and the jobs it never began are dropped, while `io` stands.
    asio::thread_pool writer{1};

private:
    void accept();
    void acceptLater();
    bool makeRoom();
    void answerApi(const Request& request, const ApiRoute& route, const Target& target, bool keyed, const Reply& reply);
    void write(std::function<ChangeAnswer()> job, unsigned version, Reply reply);
    bool ownAddress(std::string_view host, std::string_view scheme) const {
        return host == std::string(scheme) + "127.0.0.1:" + port || host == std::string(scheme) + "localhost:" + port;
    }
};

// One connection: requests answered one after the other, kept open between them.
class PageConnection : public std::enable_shared_from_this<PageConnection> {
public:
    PageConnection(tcp::socket socket, PageSite& site) : stream_(std::move(socket)), site_(site) {
        site_.connections.push_back(this);
    }
    ~PageConnection() { site_.forget(*this); }
    PageConnection(const PageConnection&) = delete;
    PageConnection& operator=(const PageConnection&) = delete;

    // The first request: its whole time counts from now.
    void start() {
        parser_.emplace();
        readRequest();
    }

    // Closes it at once to make room for another.
    void evict() {
        site_.forget(*this);
        stream_.close();
    }

    bool keyed() const { return keyed_; }
    Clock::time_point idleSince() const { return idleSince_; }

private:
    // A kept-alive connection may idle until the first byte of its next request comes; from
    // there the request has its own short time.
    void waitForRequest() {
        parser_.emplace();
        if (buffer_.size() > 0) return readRequest();
        stream_.expires_after(IdleTime);
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code error, std::size_t got) {
            if (error) return self->close();
            self->buffer_.commit(got);
            self->readRequest();
        });
    }

    void readRequest() {
        parser_->body_limit(BodyLimit);
        parser_->header_limit(HeaderLimit);
        stream_.expires_after(RequestTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
    }

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
        const bool keepAlive = request.keep_alive();
        try {
            const bool keyed = site_.answer(request, [self = shared_from_this(), keepAlive](Response response) {
                self->send(std::move(response), keepAlive);
            });
            keyed_ = keyed_ || keyed;
        } catch (const std::exception&) {
            send(Refusal(http::status::internal_server_error, request.version(),
                         "The checker could not answer that; reload the page."),
                 false);
        }
    }

    void send(Response response, bool keepAlive) {
        response_ = std::move(response);
        response_.keep_alive(keepAlive);
        stream_.expires_after(RequestTime);
        http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error || !self->response_.keep_alive()) return self->close();
            self->idleSince_ = Clock::now();
            self->waitForRequest();
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
    bool keyed_ = false;
    Clock::time_point idleSince_ = Clock::now();
};

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

PageSite::~PageSite() {
    writer.stop();
    writer.join();
#ifdef _WIN32
    // Windows ends the process as soon as the console handler returns: it waits for this, so
    // that whatever the program tidies up after the page, before the server goes, is done.
    SetEvent(Stopped());
#endif
}

void PageSite::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (error) return acceptLater();
        acceptPause = {};
        // Without room the newcomer is closed as `socket` goes.
        if (connections.size() < ConnectionLimit || makeRoom()) {
            std::make_shared<PageConnection>(std::move(socket), *this)->start();
        }
        accept();
    });
}

void PageSite::acceptLater() {
    acceptPause = acceptPause == Clock::duration{} ? Clock::duration(FirstAcceptPause)
                                                   : std::min<Clock::duration>(acceptPause * 2, LongestAcceptPause);
    acceptTimer.expires_after(acceptPause);
    acceptTimer.async_wait([this](beast::error_code error) {
        if (!error) accept();
    });
}

// Closes the connection idle longest of those that never carried the key: a browser's own
// ones carry it from their first request, so others on this computer make room for it.
bool PageSite::makeRoom() {
    PageConnection* longest = nullptr;
    for (PageConnection* listed : connections) {
        if (!listed->keyed() && (!longest || listed->idleSince() < longest->idleSince())) longest = listed;
    }
    if (!longest) return false;
    longest->evict();
    return true;
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
    // A write begun is finished; those not begun are dropped.
    writer.stop();
    writer.join();
}

bool PageSite::answer(const Request& request, const Reply& reply) {
    const unsigned version = request.version();
    for (const std::string_view name : OnceOnlyHeaders) {
        if (request.count(name) > 1) {
            reply(Refusal(http::status::bad_request, version, "The request gives a header twice that it may give only once."));
            return false;
        }
    }
    if (!ownAddress(request[http::field::host], "")) {
        reply(Refusal(http::status::forbidden, version, "This page answers only at its own address on this computer."));
        return false;
    }
    const Target target = SplitTarget(request.target());
    const bool api = target.path.starts_with("/api/");
    const bool keyed = api ? SameKey(request[KeyHeader], key)
                           : target.path == "/" && SameKey(QueryValue(target.query, "key").value_or(""), key);
    if (keyed && firstKeyed) std::exchange(firstKeyed, nullptr)();

    if (target.path == "/") {
        // The page holds no data: a reload after its script took the key out of the address works.
        reply(request.method() == http::verb::get ? PageAnswer(version) : NotAllowed(version, "GET"));
    } else if (const ApiRoute* route = FindApiRoute(target.path)) {
        answerApi(request, *route, target, keyed, reply);
    } else {
        reply(Refusal(http::status::not_found, version, "There is nothing at this address."));
    }
    return keyed;
}

void PageSite::answerApi(const Request& request, const ApiRoute& route, const Target& target, bool keyed,
                         const Reply& reply) {
    const unsigned version = request.version();
    if (!keyed) {
        return reply(Refusal(http::status::forbidden, version,
                             "The request lacks the page's key: open the page from the address that glimmerward-check shows."));
    }
    if (request.method() != route.method) return reply(NotAllowed(version, route.method == http::verb::get ? "GET" : "POST"));
    const auto answerNow = [&reply, version](const ChangeAnswer& answer) {
        reply(JsonAnswer(static_cast<http::status>(answer.status), version, answer.body));
    };
    switch (route.api) {
        case Api::State: {
            const std::optional<std::string> since = QueryValue(target.query, "since");
            if (since) {
                if (const std::string now = CurrentVersion(file.path); *since == now) {
                    return reply(JsonAnswer(http::status::ok, version, UnchangedState(now)));
                }
            }
            return reply(JsonAnswer(http::status::ok, version, PageState(file)));
        }
        case Api::PresetList: return reply(JsonAnswer(http::status::ok, version, PagePresetList(file)));
        case Api::ShareText: return answerNow(PageShareText(file, QueryValue(target.query, "name")));
        case Api::Change:
        case Api::PresetReading:
        case Api::PresetWriting: break;
    }
    if (!ownAddress(request[http::field::origin], "http://")) {
        return reply(Refusal(http::status::forbidden, version, "Changes are taken only from the settings page itself."));
    }
    if (!IsJson(request[http::field::content_type])) {
        return reply(Refusal(http::status::unsupported_media_type, version, "A change must come as JSON."));
    }
    if (route.api == Api::Change) {
        const ChangeRequest change = ParseChange(request.body());
        if (!change.problem.empty()) return reply(Refusal(http::status::bad_request, version, change.problem));
        return write([this, asked = change.write] { return MakeChange(file, asked); }, version, reply);
    }
    PresetRequest asked = ParsePresetRequest(request.body(), route.ask);
    if (!asked.problem.empty()) return reply(Refusal(http::status::bad_request, version, asked.problem));
    if (route.api == Api::PresetReading) return answerNow(route.job(file, asked));
    write([this, job = route.job, asked = std::move(asked)] { return job(file, asked); }, version, reply);
}

// The writer may wait for its turn while another program holds it: it runs on its own thread,
// and the answer comes back to the loop, which alone touches connections and the console.
void PageSite::write(std::function<ChangeAnswer()> job, unsigned version, Reply reply) {
    asio::post(writer, [this, job = std::move(job), version, reply = std::move(reply)]() mutable {
        std::optional<ChangeAnswer> answered;
        try {
            answered = job();
        } catch (const std::exception&) {
        }
        // `reply` holds the connection: taken out here, so that it always ends on the loop.
        asio::post(io, [this, version, answered = std::move(answered), reply = std::exchange(reply, nullptr)] {
            if (!answered) {
                return reply(Refusal(http::status::internal_server_error, version,
                                     "The checker could not answer that; reload the page."));
            }
            for (const std::string& line : answered->printed) say(line);
            reply(JsonAnswer(static_cast<http::status>(answered->status), version, answered->body));
        });
    });
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
