// The settings page's server in the real checker program: started on a game folder as
// `glimmerward-check --page --no-browser FOLDER`, its address read from its output, talked to
// over real sockets with an HTTP client, and its settings file checked on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "basis/FileRead.h"
#include "basis/ValueText.h"
#include "edit/SettingsEdit.h"
#include "src/settings/SettingsFile.h"
#include "tests/support/CheckerProgram.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

constexpr double StartSeconds = CheckerStartSeconds;

struct Answer {
    int status;  // 0 when no answer came
    http::response<http::string_body> response;
    json body() const { return json::parse(response.body(), nullptr, false); }
};

// Every byte as %XX, as a client may send any query.
std::string PercentEncoded(std::string_view text) {
    std::string encoded;
    for (const unsigned char c : text) {
        constexpr char digits[] = "0123456789ABCDEF";
        encoded += {'%', digits[c >> 4], digits[c & 15]};
    }
    return encoded;
}

// Every byte as \u00XX, as JSON may send any text.
std::string JsonEscaped(std::string_view text) {
    std::string escaped;
    for (const unsigned char c : text) {
        constexpr char digits[] = "0123456789ABCDEF";
        escaped += {'\\', 'u', '0', '0', digits[c >> 4], digits[c & 15]};
    }
    return escaped;
}

// The settings whose values differ between two settings files as the plug-in reads them, bit
// for bit, with both values' texts.
std::vector<std::string> DifferingSettings(const std::filesystem::path& a, const std::filesystem::path& b) {
    const PickupValues first = ReadPickupSettingsFile(a.string().c_str()).values;
    const PickupValues second = ReadPickupSettingsFile(b.string().c_str()).values;
    std::vector<std::string> differing;
    for (std::size_t i = 0; i < PickupSettings.size(); ++i) {
        if (SameSettingValue(i, first, second)) continue;
        differing.push_back(std::string(PickupSettings[i].key) + ": " + SettingValueText(i, first) + " / " +
                            SettingValueText(i, second));
    }
    return differing;
}

// What the real checker prints when run with `arguments` to its end, without carriage returns
// (Windows' console output has them); empty when it fails.
std::string CheckerPrints(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{CheckerProgram()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildProcess checker(command);
    if (checker.finish() != 0) return {};
    std::string out = checker.output();
    std::erase(out, '\r');
    return out;
}

// Waits `seconds`, on any system.
void Pause(double seconds) {
    asio::io_context io;
    asio::steady_timer timer(io, std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(seconds)));
    timer.wait();
}

// Whether `holds()` came true within `seconds`; the time only bounds a page that hangs.
bool Eventually(const std::function<bool()>& holds, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Pause(0.1);
    }
    return true;
}

// The answer on `stream`, read within `StartSeconds`; status 0 and the error's words instead.
Answer ReadAnswer(asio::io_context& io, beast::tcp_stream& stream) {
    stream.expires_after(std::chrono::seconds(static_cast<int>(StartSeconds)));
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    beast::error_code failed;
    http::async_read(stream, buffer, response, [&failed](beast::error_code error, std::size_t) { failed = error; });
    io.restart();
    io.run();
    if (failed) {
        response = {};
        response.body() = "no answer: " + failed.message();
        return {0, std::move(response)};
    }
    return {static_cast<int>(response.result_int()), std::move(response)};
}

// Another program on this computer pressing on the page from a thread of its own: `count`
// connections that each behave as `kind` says, and connect again whenever the page closes
// one, as an attacker simply would.
class Attack {
public:
    enum class Kind {
        Silent,       // connects and sends nothing
        SlowHeaders,  // sends the headers of a request one byte a second, never ending them
        Burst,        // asks for the page and, without the key, for the state, as fast as answered
    };

    Attack(const tcp::endpoint& server, Kind kind, int count) : server_(server), kind_(kind), count_(count) {
        const std::string host = "127.0.0.1:" + std::to_string(server.port());
        slowStart_ = "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\nX-Slow: ";
        for (http::request<http::empty_body>* request : {&page_, &state_}) {
            request->version(11);
            request->method(http::verb::get);
            request->set(http::field::host, host);
        }
        page_.target("/");
        state_.target("/api/state");
        for (int i = 0; i < count; ++i) {
            attackers_.push_back(std::make_shared<Attacker>(*this));
            attackers_.back()->connect();
        }
        asio::post(thread_, [this] { io_.run(); });
    }
    ~Attack() {
        io_.stop();
        thread_.join();
    }
    Attack(const Attack&) = delete;
    Attack& operator=(const Attack&) = delete;

    // Whether every connection was made at least once within `seconds`.
    bool underWay(double seconds) const {
        return Eventually([this] { return connected_.load() == count_; }, seconds);
    }

private:
    struct Attacker : std::enable_shared_from_this<Attacker> {
        explicit Attacker(Attack& owner) : attack(owner), socket(owner.io_), timer(owner.io_) {}

        void connect() {
            beast::error_code ignored;
            socket.close(ignored);
            buffer.clear();
            sent = 0;
            socket.async_connect(attack.server_, [self = shared_from_this()](beast::error_code error) {
                if (error) return self->again();
                if (!self->counted) ++self->attack.connected_;
                self->counted = true;
                self->behave();
            });
        }

        // After a second: every connection the page closes brings another, and the test shares
        // the machine with the page (an emulated one, for Windows).
        void again() {
            timer.expires_after(std::chrono::seconds(1));
            timer.async_wait([self = shared_from_this()](beast::error_code error) {
                if (!error) self->connect();
            });
        }

        void behave() {
            switch (attack.kind_) {
                case Kind::Silent: return waitForClose();
                case Kind::SlowHeaders: return sendSlowly();
                case Kind::Burst: return ask();
            }
        }

        void waitForClose() {
            socket.async_read_some(asio::buffer(scrap), [self = shared_from_this()](beast::error_code, std::size_t) { self->again(); });
        }

        void sendSlowly() {
            const std::string_view text = sent++ == 0 ? std::string_view(attack.slowStart_) : std::string_view("a");
            asio::async_write(socket, asio::buffer(text), [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error) return self->again();
                self->timer.expires_after(std::chrono::seconds(1));
                self->timer.async_wait([self](beast::error_code waited) {
                    if (!waited) self->sendSlowly();
                });
            });
        }

        void ask() {
            const http::request<http::empty_body>& request = sent++ % 2 == 0 ? attack.page_ : attack.state_;
            http::async_write(socket, request, [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error) return self->again();
                self->response = {};
                http::async_read(self->socket, self->buffer, self->response,
                                 [self](beast::error_code read, std::size_t) { read ? self->again() : self->ask(); });
            });
        }

        Attack& attack;
        tcp::socket socket;
        asio::steady_timer timer;
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        char scrap[64];
        int sent = 0;
        bool counted = false;
    };

    tcp::endpoint server_;
    Kind kind_;
    int count_;
    std::string slowStart_;
    http::request<http::empty_body> page_;
    http::request<http::empty_body> state_;
    std::atomic<int> connected_{0};
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
    std::vector<std::shared_ptr<Attacker>> attackers_;
    asio::thread_pool thread_{1};
};

#ifndef _WIN32
// The descriptors that process `pid` has open, by number.
std::set<int> OpenDescriptors(int pid) {
    std::set<int> open;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        open.insert(std::stoi(entry.path().filename().string()));
    }
    return open;
}

// The processor time that process `pid` has used so far, its own and the system's for it.
double CpuSeconds(int pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    // The fields after the command's name, which ends at the last ')': state is the 3rd field,
    // user time the 14th, system time the 15th.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// This test holds hundreds of sockets at once.
void RaiseOwnDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}
#endif

using Fields = std::vector<std::pair<std::string, std::string>>;

// A game folder holding the release's settings file, and the real checker serving its page.
class PageServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        game.write("game.exe", SupportedGame(110));
        settings = game.write("Glimmerward.ini", ReadFile(GLIMMERWARD_RELEASE_INI));
        original = ReadFile(settings);
        checker = std::make_unique<ChildProcess>(
            std::vector<std::string>{CheckerProgram(), "--page", "--no-browser", game.path().string()});
        ASSERT_TRUE(checker->started());
        const std::regex address(R"(http://127\.0\.0\.1:(\d+)/\?key=([0-9a-f]{64}))");
        ASSERT_TRUE(checker->waitForOutput([&address](const std::string& out) { return std::regex_search(out, address); },
                                           StartSeconds))
            << checker->output();
        std::smatch found;
        std::regex_search(checker->output(), found, address);
        port = found[1];
        key = found[2];
    }

    tcp::endpoint server() const {
        return {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(port))};
    }

    // One request on a connection of its own; status 0 when the page gave no answer in time.
    Answer send(http::verb method, const std::string& target, const Fields& fields, const std::string& body = {}) {
        http::request<http::string_body> request{method, target, 11};
        // Fields are added as given, so that a test can give one twice.
        const bool ownHost = std::any_of(fields.begin(), fields.end(), [](const auto& field) { return field.first == "Host"; });
        if (!ownHost) request.set(http::field::host, "127.0.0.1:" + port);
        for (const auto& [name, value] : fields) request.insert(name, value);
        request.body() = body;
        if (!request.has_content_length()) request.prepare_payload();

        asio::io_context io;
        beast::tcp_stream stream(io);
        stream.expires_after(std::chrono::seconds(static_cast<int>(StartSeconds)));
        beast::error_code failed;
        stream.async_connect(server(), [&](beast::error_code error) {
            if (error) failed = error;
            if (!error) http::async_write(stream, request, [&failed](beast::error_code written, std::size_t) { failed = written; });
        });
        io.run();
        if (failed) {
            Answer none{0, {}};
            none.response.body() = "not sent: " + failed.message();
            return none;
        }
        return ReadAnswer(io, stream);
    }

    Fields api() const { return {{"X-Glimmerward-Key", key}}; }
    Fields change() const {
        return {{"X-Glimmerward-Key", key}, {"Origin", "http://127.0.0.1:" + port}, {"Content-Type", "application/json"}};
    }
    json state() { return send(http::verb::get, "/api/state", api()).body(); }
    // A request that sends JSON, as the page's script sends it.
    Answer post(const std::string& target, const json& body) { return send(http::verb::post, target, change(), body.dump()); }
    std::filesystem::path presets() const { return game.path() / "Glimmerward-presets"; }
    std::string fileVersion() const { return SettingsVersion(ReadFile(settings)); }

    // Sets `setting` to `value` through the page, against the file as it is now.
    void set(const std::string& setting, const std::string& value) {
        const Answer written = send(http::verb::post, "/api/change", change(), setBody(fileVersion(), setting, value));
        ASSERT_EQ(200, written.status) << written.response.body();
    }

    // Whether the console said that `written` was written, after the first `from` bytes of its
    // output (one version may come back), within the time a page that hangs gets.
    bool said(const std::string& written, std::size_t from = 0) {
        return checker->waitForOutput(
            [&](const std::string& out) { return out.find("written: " + written, from) != std::string::npos; }, StartSeconds);
    }

    static std::string setBody(const std::string& expect, const std::string& key, const std::string& value) {
        return json{{"expect", expect}, {"set", {{{"key", key}, {"value", value}}}}}.dump();
    }

    std::size_t writtenLines() const {
        const std::string& out = checker->output();
        std::size_t count = 0;
        for (std::size_t at = out.find("written: "); at != std::string::npos; at = out.find("written: ", at + 1)) ++count;
        return count;
    }

    TempFolder game;
    std::filesystem::path settings;
    std::string original;
    std::unique_ptr<ChildProcess> checker;
    std::string port;
    std::string key;
};

TEST_F(PageServerTest, ServesThePageAndTheStateOfTheFileThePluginReads) {
    const Answer page = send(http::verb::get, "/?key=" + key, {});
    ASSERT_EQ(200, page.status) << page.response.body();
    // The page holds no data: it comes with or without the key, so that a reload works after
    // its script took the key out of the address bar.
    for (const std::string& target : {std::string("/"), "/?key=" + std::string(64, 'a')}) {
        const Answer same = send(http::verb::get, target, {});
        EXPECT_EQ(200, same.status) << target;
        EXPECT_EQ(page.response.body(), same.response.body()) << target;
    }
    EXPECT_EQ("text/html; charset=utf-8", page.response[http::field::content_type]);
    EXPECT_NE(std::string::npos, page.response.body().find(ReadFile(GLIMMERWARD_PAGE_SCRIPT)));
    EXPECT_NE(std::string::npos, page.response.body().find(ReadFile(GLIMMERWARD_PAGE_STYLE)));
    const std::string policy(page.response["Content-Security-Policy"]);
    EXPECT_NE(std::string::npos, policy.find("default-src 'none'")) << policy;
    EXPECT_NE(std::string::npos, policy.find("script-src 'sha256-")) << policy;
    EXPECT_NE(std::string::npos, policy.find("connect-src 'self'")) << policy;
    EXPECT_EQ("no-store", page.response[http::field::cache_control]);
    EXPECT_EQ("nosniff", page.response["X-Content-Type-Options"]);
    EXPECT_EQ("no-referrer", page.response["Referrer-Policy"]);

    const Answer answer = send(http::verb::get, "/api/state", api());
    ASSERT_EQ(200, answer.status);
    EXPECT_EQ("application/json", answer.response[http::field::content_type]);
    const json whole = answer.body();
    ASSERT_TRUE(whole.is_object()) << answer.response.body();
    EXPECT_EQ(59u, whole["settings"].size());
    EXPECT_EQ(SettingsVersion(original), whole["version"]);
    EXPECT_EQ(settings.string(), whole["file"]);
    EXPECT_EQ("Nothing looks wrong.", whole["closing"]);

    const json same = send(http::verb::get, "/api/state?since=" + SettingsVersion(original), api()).body();
    EXPECT_EQ((json{{"version", SettingsVersion(original)}, {"unchanged", true}}), same);
}

TEST_F(PageServerTest, AChangeIsWrittenIntoTheFileAndAStaleOneIsRefused) {
    const std::string version = SettingsVersion(original);
    const Answer written = send(http::verb::post, "/api/change", change(), setBody(version, "PickupSize", "2.5"));
    ASSERT_EQ(200, written.status) << written.response.body();
    EXPECT_EQ("written", written.body()["outcome"]);
    EXPECT_EQ((json{"set PickupSize = 2.5"}), written.body()["done"]);

    std::string expected = original;
    expected.replace(expected.find("PickupSize = 1.2"), 16, "PickupSize = 2.5");
    const std::string now = ReadFile(settings);
    EXPECT_EQ(expected, now);
    EXPECT_EQ(original, ReadFile(settings.string() + ".bak"));
    EXPECT_EQ(SettingsVersion(now), written.body()["state"]["version"]);
    EXPECT_TRUE(checker->waitForOutput([&now](const std::string& out) { return out.find("written: " + SettingsVersion(now)) != std::string::npos; },
                                       StartSeconds))
        << checker->output();
    EXPECT_NE(std::string::npos, checker->output().find("changed: set PickupSize = 2.5"));

    // Based on the version before: the file changed since, so nothing is written.
    const Answer stale = send(http::verb::post, "/api/change", change(), setBody(version, "TurnSpeed", "0.5"));
    EXPECT_EQ(409, stale.status);
    EXPECT_EQ("stale", stale.body()["outcome"]);
    EXPECT_EQ(SettingsVersion(now), stale.body()["state"]["version"]);
    EXPECT_EQ(now, ReadFile(settings));
    EXPECT_EQ(1u, writtenLines());
}

TEST_F(PageServerTest, APresetIsSavedListedAndAppliedAsOneChangeOfTheFile) {
    EXPECT_EQ((json{{"presets", json::array()}}), send(http::verb::get, "/api/presets", api()).body());
    set("PickupSize", "2.5");
    const Answer saved = post("/api/presets/save", {{"name", "Big look"}, {"replace", false}});
    ASSERT_EQ(200, saved.status) << saved.response.body();
    EXPECT_EQ("written", saved.body()["outcome"]) << saved.response.body();
    EXPECT_EQ((json{"Big look"}), saved.body()["presets"]);
    EXPECT_EQ(1u, saved.body()["done"].size());
    const std::filesystem::path preset = presets() / "Big look.ini";
    const std::string first = ReadFile(preset);
    EXPECT_NE(std::string::npos, first.find("\nPickupSize = 2.5\n")) << first;

    // One of that name in other case is there: nothing is written until the player says replace.
    set("TurnSpeed", "0.5");
    const Answer exists = post("/api/presets/save", {{"name", "BIG LOOK"}, {"replace", false}});
    ASSERT_EQ(200, exists.status) << exists.response.body();
    EXPECT_EQ("exists", exists.body()["outcome"]);
    EXPECT_EQ(first, ReadFile(preset));
    const Answer replaced = post("/api/presets/save", {{"name", "BIG LOOK"}, {"replace", true}});
    EXPECT_EQ("written", replaced.body()["outcome"]) << replaced.response.body();
    EXPECT_NE(std::string::npos, ReadFile(preset).find("\nTurnSpeed = 0.5\n")) << ReadFile(preset);
    EXPECT_EQ((json{{"presets", json::array({"Big look"})}}), send(http::verb::get, "/api/presets", api()).body());

    // Changed again, then the preset applied: every setting takes the preset's value in one version.
    const Answer moved = send(http::verb::post, "/api/change", change(),
                              json{{"expect", fileVersion()},
                                   {"set", {{{"key", "PickupSize"}, {"value", "3"}}, {{"key", "TurnSpeed"}, {"value", "0.25"}}}}}
                                  .dump());
    ASSERT_EQ(200, moved.status) << moved.response.body();
    const std::string before = ReadFile(settings);
    ASSERT_TRUE(said(SettingsVersion(before))) << checker->output();
    const std::size_t writtenBefore = writtenLines();
    const std::size_t heard = checker->output().size();
    const Answer applied = post("/api/presets/apply", {{"name", "big look"}, {"expect", SettingsVersion(before)}});
    ASSERT_EQ(200, applied.status) << applied.response.body();
    EXPECT_EQ("written", applied.body()["outcome"]);
    EXPECT_EQ((json{"set PickupSize = 2.5", "set TurnSpeed = 0.5"}), applied.body()["done"]);
    EXPECT_EQ(std::vector<std::string>{}, DifferingSettings(settings, preset));
    EXPECT_EQ(before, ReadFile(settings.string() + ".bak"));
    EXPECT_EQ(fileVersion(), applied.body()["state"]["version"]);
    // The file is as it was after the second change: its version again, said once more.
    ASSERT_TRUE(said(fileVersion(), heard)) << checker->output();
    EXPECT_EQ(writtenBefore + 1, writtenLines()) << checker->output();

    // Against the version before it, or of a preset that is not there: nothing is written.
    const std::string now = ReadFile(settings);
    const Answer stale = post("/api/presets/apply", {{"name", "Big look"}, {"expect", SettingsVersion(before)}});
    EXPECT_EQ(409, stale.status);
    EXPECT_EQ("stale", stale.body()["outcome"]);
    const Answer missing = post("/api/presets/apply", {{"name", "Small look"}, {"expect", fileVersion()}});
    EXPECT_EQ(422, missing.status);
    EXPECT_EQ("bad-input", missing.body()["outcome"]);
    EXPECT_EQ(1u, missing.body()["problems"].size());
    EXPECT_EQ(now, ReadFile(settings));
}

TEST_F(PageServerTest, ADeletedPresetIsGoneAndNothingElseIs) {
    for (const char* name : {"One", "Two"}) {
        ASSERT_EQ("written", post("/api/presets/save", {{"name", name}, {"replace", false}}).body()["outcome"]) << name;
    }
    const Answer deleted = post("/api/presets/delete", {{"name", "one"}});
    ASSERT_EQ(200, deleted.status) << deleted.response.body();
    EXPECT_EQ("deleted", deleted.body()["outcome"]);
    EXPECT_EQ((json{"Two"}), deleted.body()["presets"]);
    EXPECT_FALSE(std::filesystem::exists(presets() / "One.ini"));
    EXPECT_TRUE(std::filesystem::exists(presets() / "Two.ini"));

    const Answer again = post("/api/presets/delete", {{"name", "One"}});
    ASSERT_EQ(200, again.status) << again.response.body();
    EXPECT_EQ("not-found", again.body()["outcome"]);
    EXPECT_EQ(1u, again.body()["problems"].size());
    EXPECT_EQ((json{"Two"}), again.body()["presets"]);
#ifndef _WIN32
    // A link planted under a preset's name is no preset: it stays, and so does what it leads to.
    const std::filesystem::path kept = game.write("keep.ini", "PickupSize = 3\n");
    std::filesystem::create_symlink(kept, presets() / "Linked.ini");
    const Answer linked = post("/api/presets/delete", {{"name", "Linked"}});
    EXPECT_EQ("not-found", linked.body()["outcome"]) << linked.response.body();
    EXPECT_TRUE(std::filesystem::is_symlink(presets() / "Linked.ini"));
    EXPECT_EQ("PickupSize = 3\n", ReadFile(kept));
#endif
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_EQ(0u, writtenLines()) << checker->output();
}

TEST_F(PageServerTest, SharesTheTextOfTheCurrentSettingsAndOfAPresetAsTheCommandLineExportsThem) {
    set("PickupSize", "2.5");
    ASSERT_EQ("written", post("/api/presets/save", {{"name", "My look"}}).body()["outcome"]);
    set("TurnSpeed", "0.5");

    const Answer current = send(http::verb::get, "/api/share", api());
    ASSERT_EQ(200, current.status) << current.response.body();
    const std::string text = current.body()["text"];
    EXPECT_TRUE(text.starts_with("# Glimmerward settings\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\nPickupSize = 2.5\nTurnSpeed = 0.5\n")) << text;
    EXPECT_EQ(CheckerPrints({"--export", game.path().string()}), text);

    const Answer preset = send(http::verb::get, "/api/share?name=my%20LOOK", api());
    ASSERT_EQ(200, preset.status) << preset.response.body();
    const std::string presetText = preset.body()["text"];
    EXPECT_TRUE(presetText.starts_with("# Glimmerward preset: My look\n")) << presetText;
    EXPECT_EQ(std::string::npos, presetText.find("TurnSpeed")) << presetText;
    EXPECT_EQ(CheckerPrints({"--export", "My look", game.path().string()}), presetText);

    const Answer missing = send(http::verb::get, "/api/share?name=Your%20look", api());
    EXPECT_EQ(404, missing.status);
    EXPECT_EQ("application/json", missing.response[http::field::content_type]);
    EXPECT_EQ(1u, missing.body()["problems"].size()) << missing.response.body();
}

// A pasted text with two mistakes is shown with them and with what it would change; nothing is
// written until the player confirms, and then what the plug-in reads from it is applied.
TEST_F(PageServerTest, APreviewOfATextWithTwoMistakesListsThemAndWritesNothingUntilApplied) {
    const std::string text = "# Glimmerward preset: Friend\r\nPickupSize = 1,5\r\nVolume = 3\r\nTurnSpeed = 0.5\r\n";
    const json settingsNow = state()["settings"];
    const auto valueNow = [&settingsNow](const std::string& wanted) {
        for (const json& setting : settingsNow) {
            if (setting["key"] == wanted) return setting["value"].get<std::string>();
        }
        return std::string();
    };
    const Answer preview = post("/api/share/preview", {{"text", text}});
    ASSERT_EQ(200, preview.status) << preview.response.body();
    const json shown = preview.body();
    EXPECT_EQ(json(false), shown["refused"]);
    EXPECT_EQ("Friend", shown["name"]);
    ASSERT_EQ(2u, shown["problems"].size()) << shown.dump();
    const std::string comma = shown["problems"][0];
    const std::string unknown = shown["problems"][1];
    EXPECT_TRUE(comma.starts_with("line 2: ") && comma.find("decimal comma") != std::string::npos) << comma;
    EXPECT_TRUE(unknown.starts_with("line 3: ") && unknown.find("unknown key") != std::string::npos) << unknown;
    EXPECT_EQ((json{{{"key", "PickupSize"}, {"now", valueNow("PickupSize")}, {"then", "1"}},
                    {{"key", "TurnSpeed"}, {"now", valueNow("TurnSpeed")}, {"then", "0.5"}}}),
              shown["changes"]);
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_FALSE(std::filesystem::exists(presets()));

    const Answer applied = post("/api/share/apply", {{"text", text}, {"expect", SettingsVersion(original)}});
    ASSERT_EQ(200, applied.status) << applied.response.body();
    EXPECT_EQ("written", applied.body()["outcome"]);
    EXPECT_EQ((json{"set PickupSize = 1", "set TurnSpeed = 0.5"}), applied.body()["done"]);
    const std::filesystem::path pasted = game.write("pasted.txt", text);
    EXPECT_EQ(std::vector<std::string>{}, DifferingSettings(settings, pasted));
    EXPECT_EQ(original, ReadFile(settings.string() + ".bak"));
    ASSERT_TRUE(said(fileVersion())) << checker->output();
    EXPECT_EQ(1u, writtenLines()) << checker->output();
}

// JSON may send every byte of a text as six: a text of the largest size gets through so, and
// one byte more is refused in words, not by the request's size.
TEST_F(PageServerTest, ATextOver64KiBIsRefusedInWordsEvenWithEveryByteEscaped) {
    std::string full;
    while (full.size() < 64 * 1024) full += "# " + std::string(61, 'x') + "\n";
    struct Case {
        const char* what;
        std::string text;
        bool refused;
    };
    const Case cases[] = {{"64 KiB", full, false}, {"a byte more", full + "\n", true}};
    for (const Case& c : cases) {
        const std::string escaped = JsonEscaped(c.text);
        const Answer preview = send(http::verb::post, "/api/share/preview", change(), "{\"text\": \"" + escaped + "\"}");
        ASSERT_EQ(200, preview.status) << c.what << ": " << preview.response.body();
        EXPECT_EQ(json(c.refused), preview.body()["refused"]) << c.what;
        EXPECT_EQ(json::array(), preview.body()["changes"]) << c.what;
        const Answer applied = send(http::verb::post, "/api/share/apply", change(),
                                    "{\"expect\": \"" + SettingsVersion(original) + "\", \"text\": \"" + escaped + "\"}");
        EXPECT_EQ(c.refused ? "bad-input" : "unchanged", applied.body()["outcome"]) << c.what;
        if (!c.refused) continue;
        EXPECT_EQ(422, applied.status) << c.what;
        ASSERT_EQ(1u, preview.body()["problems"].size()) << c.what;
        EXPECT_NE(std::string::npos, preview.body()["problems"][0].get<std::string>().find("more than the 64 KiB")) << c.what;
        EXPECT_EQ(preview.body()["problems"], applied.body()["problems"]) << c.what;
    }
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_EQ(0u, writtenLines()) << checker->output();
}

TEST_F(PageServerTest, RefusesEveryRequestThatBreaksTheRulesAndChangesNothing) {
    const std::string good = setBody(SettingsVersion(original), "PickupSize", "2.5");
    const auto without = [](Fields fields, const std::string& name) {
        std::erase_if(fields, [&name](const auto& field) { return field.first == name; });
        return fields;
    };
    const auto with = [](Fields fields, const std::string& name, const std::string& value) {
        std::erase_if(fields, [&name](const auto& field) { return field.first == name; });
        fields.emplace_back(name, value);
        return fields;
    };
    struct Case {
        const char* what;
        http::verb method;
        std::string target;
        Fields fields;
        std::string body;
        int status;
    };
    const std::string wrongKey(64, 'a');
    const Case cases[] = {
        {"the page at a foreign host", http::verb::get, "/?key=" + key, {{"Host", "evil.example:" + port}}, "", 403},
        {"the state without the key", http::verb::get, "/api/state", {}, "", 403},
        {"the state with a wrong key", http::verb::get, "/api/state", {{"X-Glimmerward-Key", wrongKey}}, "", 403},
        {"the state at a foreign host", http::verb::get, "/api/state", with(api(), "Host", "evil.example:" + port), "", 403},
        {"a change without the key", http::verb::post, "/api/change", without(change(), "X-Glimmerward-Key"), good, 403},
        {"a change with the key in the query", http::verb::post, "/api/change?key=" + key,
         without(change(), "X-Glimmerward-Key"), good, 403},
        {"a change at a foreign host", http::verb::post, "/api/change", with(change(), "Host", "evil.example:" + port), good, 403},
        {"a change from a foreign origin", http::verb::post, "/api/change", with(change(), "Origin", "http://evil.example"), good, 403},
        {"a change without an origin", http::verb::post, "/api/change", without(change(), "Origin"), good, 403},
        {"a change as plain text", http::verb::post, "/api/change", with(change(), "Content-Type", "text/plain"), good, 415},
        {"a change as broken JSON", http::verb::post, "/api/change", change(), good.substr(0, good.size() - 1), 400},
        {"a change without expect", http::verb::post, "/api/change", change(), R"({"set": [{"key": "PickupSize", "value": "2.5"}]})", 400},
        {"a change of a number, not a text", http::verb::post, "/api/change", change(),
         json{{"expect", SettingsVersion(original)}, {"set", {{{"key", "PickupSize"}, {"value", 2.5}}}}}.dump(), 400},
        {"an unknown path", http::verb::get, "/api/files?name=Glimmerward.ini", api(), "", 404},
        {"the state by POST", http::verb::post, "/api/state", change(), good, 405},
        {"a change by GET", http::verb::get, "/api/change", api(), "", 405},
        {"the page by POST", http::verb::post, "/?key=" + key, change(), good, 405},
        {"the presets without the key", http::verb::get, "/api/presets", {}, "", 403},
        {"a preset saved with a wrong key", http::verb::post, "/api/presets/save",
         with(change(), "X-Glimmerward-Key", wrongKey), R"({"name": "Mine"})", 403},
        {"a preset applied from a foreign origin", http::verb::post, "/api/presets/apply",
         with(change(), "Origin", "http://evil.example"), json{{"name", "Mine"}, {"expect", SettingsVersion(original)}}.dump(), 403},
        {"a preset deleted from a foreign origin", http::verb::post, "/api/presets/delete",
         with(change(), "Origin", "http://evil.example"), R"({"name": "Mine"})", 403},
        {"a share text with a wrong key", http::verb::get, "/api/share", {{"X-Glimmerward-Key", wrongKey}}, "", 403},
        {"a shared text applied from a foreign origin", http::verb::post, "/api/share/apply",
         with(change(), "Origin", "http://evil.example"),
         json{{"text", "PickupSize = 2.5\n"}, {"expect", SettingsVersion(original)}}.dump(), 403},
        {"a shared text previewed as plain text", http::verb::post, "/api/share/preview",
         with(change(), "Content-Type", "text/plain"), R"({"text": "PickupSize = 2.5\n"})", 415},
        {"a preset saved without a name", http::verb::post, "/api/presets/save", change(), R"({"replace": true})", 400},
        {"a preset saved by GET", http::verb::get, "/api/presets/save", api(), "", 405},
    };
    for (const Case& c : cases) {
        const Answer answer = send(c.method, c.target, c.fields, c.body);
        EXPECT_EQ(c.status, answer.status) << c.what << ": " << answer.response.body();
        EXPECT_EQ("text/plain; charset=utf-8", answer.response[http::field::content_type]) << c.what;
        EXPECT_EQ("no-store", answer.response[http::field::cache_control]) << c.what;
    }
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_FALSE(std::filesystem::exists(presets()));
    EXPECT_EQ(0u, writtenLines()) << checker->output();
}

// A change's type is JSON's, in any case, with parameters or without; the query is
// read as a query, whatever else it holds. Every change here is against an older version, so
// one that is taken is answered as stale and nothing is written.
TEST_F(PageServerTest, TakesJsonInAnyCaseAndFindsAQueryValueAmongOthers) {
    const std::string stale = setBody(SettingsVersion("PickupSize = 9\r\n"), "PickupSize", "2.5");
    const auto typed = [this](const std::string& type) {
        Fields fields = change();
        std::erase_if(fields, [](const auto& field) { return field.first == "Content-Type"; });
        if (!type.empty()) fields.emplace_back("Content-Type", type);
        return fields;
    };
    const std::string version = SettingsVersion(original);
    struct Case {
        const char* what;
        http::verb method;
        std::string target;
        Fields fields;
        int status;
        bool unchanged;  // whether the state came as unchanged
    };
    const Case cases[] = {
        {"JSON", http::verb::post, "/api/change", typed("application/json"), 409, false},
        {"JSON in other case, with a charset", http::verb::post, "/api/change", typed("Application/JSON; charset=UTF-8"), 409, false},
        {"JSON with a quoted parameter", http::verb::post, "/api/change", typed("application/json ; charset=\"utf-8\""), 409, false},
        {"no type", http::verb::post, "/api/change", typed(""), 415, false},
        {"another type", http::verb::post, "/api/change", typed("application/jsonx"), 415, false},
        {"JSON in another charset", http::verb::post, "/api/change", typed("application/json; charset=iso-8859-1"), 415, false},
        {"the version asked for", http::verb::get, "/api/state?since=" + version, api(), 200, true},
        {"the version among other things", http::verb::get, "/api/state?x=1&since=" + version + "&since=0", api(), 200, true},
        {"another version", http::verb::get, "/api/state?since=0123456789abcdef", api(), 200, false},
        {"the version percent-encoded", http::verb::get, "/api/state?%73ince=" + PercentEncoded(version), api(), 200, true},
        {"a query that is not one", http::verb::get, "/api/state?since=%zz", api(), 404, false},
        {"the state with an empty query", http::verb::get, "/api/state?", api(), 200, false},
        {"the state spelt otherwise", http::verb::get, "/api/%73tate", api(), 404, false},
        {"no path", http::verb::get, "http://127.0.0.1:" + port + "/api/state", api(), 404, false},
    };
    for (const Case& c : cases) {
        const Answer answer = send(c.method, c.target, c.fields, c.method == http::verb::post ? stale : "");
        EXPECT_EQ(c.status, answer.status) << c.what << ": " << answer.response.body();
        if (c.status == 200) {
            EXPECT_EQ(c.unchanged, answer.body().contains("unchanged")) << c.what;
        }
    }
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_EQ(0u, writtenLines()) << checker->output();
}

TEST_F(PageServerTest, RefusesAHeaderGivenTwiceThatDecidesHowTheRequestIsTaken) {
    const std::string good = setBody(SettingsVersion(original), "PickupSize", "2.5");
    const std::string length = std::to_string(good.size());
    struct Case {
        const char* what;
        http::verb method;
        std::string target;
        Fields fields;
    };
    const Fields ownHost = {{"Host", "127.0.0.1:" + port}};
    const auto twice = [](Fields fields, const std::string& name, const std::string& value) {
        fields.emplace_back(name, value);
        return fields;
    };
    const Case cases[] = {
        {"the page's host twice", http::verb::get, "/api/state", twice(twice(api(), "Host", "127.0.0.1:" + port), "Host", "127.0.0.1:" + port)},
        {"the page's host, then a foreign one", http::verb::get, "/api/state",
         twice(twice(api(), "Host", "127.0.0.1:" + port), "Host", "evil.example:" + port)},
        {"the page with the host twice", http::verb::get, "/?key=" + key, twice(ownHost, "Host", "127.0.0.1:" + port)},
        {"the key twice", http::verb::post, "/api/change", twice(change(), "X-Glimmerward-Key", key)},
        {"the origin twice", http::verb::post, "/api/change", twice(change(), "Origin", "http://127.0.0.1:" + port)},
        {"the content type twice", http::verb::post, "/api/change", twice(change(), "Content-Type", "application/json")},
        {"the length twice", http::verb::post, "/api/change", twice(twice(change(), "Content-Length", length), "Content-Length", length)},
    };
    for (const Case& c : cases) {
        const Answer answer = send(c.method, c.target, c.fields, c.method == http::verb::post ? good : "");
        EXPECT_EQ(400, answer.status) << c.what << ": " << answer.response.body();
        EXPECT_EQ("text/plain; charset=utf-8", answer.response[http::field::content_type]) << c.what;
    }
    EXPECT_EQ(original, ReadFile(settings));
    EXPECT_EQ(0u, writtenLines()) << checker->output();
}

TEST_F(PageServerTest, AnswersOneConnectionWhileAnotherWaitsInTheMiddleOfItsRequest) {
    asio::io_context io;
    const tcp::endpoint server(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(port)));
    tcp::socket waiting(io);
    waiting.connect(server);
    const std::string request = "GET /api/state?since=" + SettingsVersion(original) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                port + "\r\nX-Glimmerward-Key: " + key + "\r\n\r\n";
    asio::write(waiting, asio::buffer(request.substr(0, 20)));

    // Another connection, kept open for two requests, is answered meanwhile.
    tcp::socket other(io);
    other.connect(server);
    beast::flat_buffer buffer;
    for (int i = 0; i < 2; ++i) {
        asio::write(other, asio::buffer(request));
        http::response<http::string_body> response;
        http::read(other, buffer, response);
        EXPECT_EQ(200, response.result_int());
        EXPECT_EQ(true, json::parse(response.body())["unchanged"]);
    }

    asio::write(waiting, asio::buffer(request.substr(20)));
    beast::flat_buffer rest;
    http::response<http::string_body> response;
    http::read(waiting, rest, response);
    EXPECT_EQ(200, response.result_int());
}

// Other programs on this computer press on the page without its key. The browser, which has
// the key, is answered again and again all the while; afterwards the page works and every
// socket they took has been given back.
TEST_F(PageServerTest, AnswersTheKeyAgainAndAgainWhileOtherProgramsPressOnThePage) {
#ifndef _WIN32
    RaiseOwnDescriptorLimit();
    const std::set<int> before = OpenDescriptors(checker->pid());
#endif
    struct Case {
        const char* what;
        Attack::Kind kind;
        int connections;
    };
    const Case cases[] = {
        {"300 silent sockets", Attack::Kind::Silent, 300},
        {"150 sockets sending their headers a byte a second", Attack::Kind::SlowHeaders, 150},
        {"a burst of requests on 16 connections", Attack::Kind::Burst, 16},
    };
    for (const Case& c : cases) {
        {
            const Attack attack(server(), c.kind, c.connections);
            ASSERT_TRUE(attack.underWay(StartSeconds)) << c.what;
            // Spread over several seconds: past the moment when the page first closes the slow ones.
            for (int i = 0; i < 8; ++i) {
                const Answer answer = send(http::verb::get, "/api/state", api());
                EXPECT_EQ(200, answer.status) << c.what << ": " << answer.response.body();
                Pause(0.5);
            }
        }
        const Answer page = send(http::verb::get, "/?key=" + key, {});
        EXPECT_EQ(200, page.status) << c.what << ": " << page.response.body();
#ifndef _WIN32
        std::set<int> now;
        EXPECT_TRUE(Eventually([&] { return (now = OpenDescriptors(checker->pid())) == before; }, StartSeconds))
            << c.what << ": " << now.size() << " descriptors open, " << before.size() << " before";
#endif
    }
}

#ifdef _WIN32
// Double-clicked in Explorer, the checker is alone in a console of its own and is given no
// arguments: it checks the folder it lies in, then serves the page there until its window
// closes. Where it can make no settings file, there is no page and it waits for Enter.
TEST(PageOnDoubleClick, ShowsTheSummaryThenServesThePageOfItsOwnFolder) {
    TempFolder game;
    game.write("game.exe", SupportedGame(110));
    game.write("Glimmerward.ini", ReadFile(GLIMMERWARD_RELEASE_INI));
    const std::filesystem::path program = game.path() / "glimmerward-check.exe";
    std::filesystem::copy_file(CheckerProgram(), program);

    ChildProcess checker({program.string()}, ChildProcess::Console::Own);
    ASSERT_TRUE(checker.started());
    const std::regex address(R"(http://127\.0\.0\.1:(\d+)/\?key=([0-9a-f]{64}))");
    ASSERT_TRUE(checker.waitForOutput(
        [](const std::string& out) { return out.find("close this window to stop") != std::string::npos; }, StartSeconds))
        << checker.output();
    const std::string out = checker.output();
    std::smatch found;
    ASSERT_TRUE(std::regex_search(out, found, address)) << out;
    // The report's summary comes first, then the page's address.
    EXPECT_LT(out.find("Nothing looks wrong."), out.find(found[0].str())) << out;
    EXPECT_EQ(std::string::npos, out.find("Press Enter")) << out;
    // The version is for --expect, which a double click cannot give.
    EXPECT_EQ(std::string::npos, out.find("version of the settings file")) << out;

    asio::io_context io;
    tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(found[1]))});
    http::request<http::string_body> request{http::verb::get, "/?key=" + found[2].str(), 11};
    request.set(http::field::host, "127.0.0.1:" + found[1].str());
    http::write(socket, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    EXPECT_EQ(200, response.result_int());
}

TEST(PageOnDoubleClick, NoPageWhereNoSettingsFileCanBeMadeAndItWaitsForEnterAsBefore) {
    TempFolder notAGame;
    const std::filesystem::path program = notAGame.path() / "glimmerward-check.exe";
    std::filesystem::copy_file(CheckerProgram(), program);

    // Its input is empty: the wait for Enter ends at once.
    ChildProcess checker({program.string()}, ChildProcess::Console::Own);
    ASSERT_TRUE(checker.started());
    EXPECT_EQ(2, checker.finish()) << checker.output();
    EXPECT_NE(std::string::npos, checker.output().find("Press Enter to close this window.")) << checker.output();
    EXPECT_EQ(std::string::npos, checker.output().find("http://")) << checker.output();
}
#else
TEST_F(PageServerTest, StopsOnSigtermWithTheReportsStatus) {
    EXPECT_EQ(0, checker->terminate()) << checker->output();
}

TEST_F(PageServerTest, StopsOnSigtermWithTheReportsStatusDuringABurstOfRequests) {
    const Attack attack(server(), Attack::Kind::Burst, 16);
    ASSERT_TRUE(attack.underWay(StartSeconds));
    EXPECT_EQ(0, checker->terminate()) << checker->output();
}

// Out of descriptors, the page cannot take a connection: it waits between tries instead of
// spinning, and takes the connection once a descriptor is free again.
TEST_F(PageServerTest, WaitsWithoutSpinningWhileItHasNoDescriptorLeftAndAnswersAfterwards) {
    const int pid = checker->pid();
    // It has served the browser before, as it has whenever a page is open. (The sanitizers'
    // first check of a type opens a pipe: without descriptors it fails and reports falsely.)
    const std::set<int> open = OpenDescriptors(pid);
    ASSERT_EQ(200, send(http::verb::get, "/api/state", api()).status);
    ASSERT_TRUE(Eventually([&] { return OpenDescriptors(pid) == open; }, StartSeconds));
    rlimit limit{};
    ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, nullptr, &limit));
    // Its lowest free number as the limit: the next descriptor it opens is refused.
    rlimit none = limit;
    none.rlim_cur = 0;
    while (open.count(static_cast<int>(none.rlim_cur)) > 0) ++none.rlim_cur;
    ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &none, nullptr));

    // The system takes the connection and the request; the page cannot accept it yet.
    asio::io_context io;
    beast::tcp_stream waiting(io);
    waiting.connect(server());
    const std::string request = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nX-Glimmerward-Key: " + key + "\r\n\r\n";
    asio::write(waiting.socket(), asio::buffer(request));
    const double cpuBefore = CpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    Pause(3);
    const double cpu = CpuSeconds(pid) - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(0u, waiting.socket().available()) << "answered without a descriptor";
    EXPECT_LT(cpu, 0.2 * wall) << cpu << " s of processor time in " << wall << " s";

    ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &limit, nullptr));
    const Answer answer = ReadAnswer(io, waiting);
    EXPECT_EQ(200, answer.status) << answer.response.body() << "\n" << checker->output();
}
#endif

}  // namespace
