// The settings page's server in the real checker program: started on a game folder as
// `glimmerward-check --page --no-browser FOLDER`, its address read from its output, talked to
// over real sockets with an HTTP client, and its settings file checked on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

#include "edit/SettingsEdit.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

// Bounds only a program that hangs: a first start under Wine in an emulated machine is slow.
constexpr double StartSeconds = 120;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The checker program: natively where the build put it, on Windows a copy beside this test.
std::string CheckerProgram() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (std::filesystem::path(std::string(path, length)).parent_path() / "glimmerward-check.exe").string();
#else
    return GLIMMERWARD_CHECKER;
#endif
}

struct Answer {
    int status;
    http::response<http::string_body> response;
    json body() const { return json::parse(response.body(), nullptr, false); }
};

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

    // One request on a connection of its own.
    Answer send(http::verb method, const std::string& target, const Fields& fields, const std::string& body = {}) {
        asio::io_context io;
        tcp::socket socket(io);
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(port))});
        http::request<http::string_body> request{method, target, 11};
        // Fields are added as given, so that a test can give one twice.
        const bool ownHost = std::any_of(fields.begin(), fields.end(), [](const auto& field) { return field.first == "Host"; });
        if (!ownHost) request.set(http::field::host, "127.0.0.1:" + port);
        for (const auto& [name, value] : fields) request.insert(name, value);
        request.body() = body;
        if (!request.has_content_length()) request.prepare_payload();
        http::write(socket, request);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        http::read(socket, buffer, response);
        return {static_cast<int>(response.result_int()), std::move(response)};
    }

    Fields api() const { return {{"X-Glimmerward-Key", key}}; }
    Fields change() const {
        return {{"X-Glimmerward-Key", key}, {"Origin", "http://127.0.0.1:" + port}, {"Content-Type", "application/json"}};
    }
    json state() { return send(http::verb::get, "/api/state", api()).body(); }

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
    };
    for (const Case& c : cases) {
        const Answer answer = send(c.method, c.target, c.fields, c.body);
        EXPECT_EQ(c.status, answer.status) << c.what << ": " << answer.response.body();
        EXPECT_EQ("text/plain; charset=utf-8", answer.response[http::field::content_type]) << c.what;
        EXPECT_EQ("no-store", answer.response[http::field::cache_control]) << c.what;
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
#endif

}  // namespace
