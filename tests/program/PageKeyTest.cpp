// The settings page's key never travels on a command line, where every user of the computer
// could read it: the real checker, started with --page, hands the browser (a stand-in that
// notes what it got) the path of a private page, which is gone once the page has loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include "tests/support/CheckerProgram.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeExecutable.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr double StartSeconds = CheckerStartSeconds;

// Waits, bounded, until `done` holds.
template <typename Done>
bool WaitFor(Done done, double seconds = StartSeconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
#ifdef _WIN32
        Sleep(20);
#else
        usleep(20000);
#endif
    }
    return true;
}

// Loads the page at its address, key included, as the browser does after the hand-over.
int LoadPage(const std::string& port, const std::string& key) {
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(port))});
    http::request<http::string_body> request{http::verb::get, "/?key=" + key, 11};
    request.set(http::field::host, "127.0.0.1:" + port);
    http::write(socket, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    return response.result_int();
}

#ifdef _WIN32
// The association of .html with the stand-in browser, while the object lives; what was there
// before comes back afterwards. Wine looks classes up in the machine's part alone (it does not
// merge the user's Software\Classes into them), so the association goes into
// HKEY_CLASSES_ROOT of the shared prefix, which the test holds alone (CTest's lock).
class HtmlAssociation {
public:
    explicit HtmlAssociation(const std::wstring& command) {
        HKEY key = nullptr;
        DWORD made = 0;
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L".html", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &made);
        madeExtension_ = made == REG_CREATED_NEW_KEY;
        wchar_t value[256];
        DWORD size = sizeof value;
        if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
            before_ = std::wstring(value, size / sizeof(wchar_t)).c_str();
        }
        SetDefault(key, ProgId);
        RegCloseKey(key);
        RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(ProgId) + L"\\shell\\open\\command").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
        SetDefault(key, command);
        RegCloseKey(key);
    }
    ~HtmlAssociation() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, ProgId);
        if (madeExtension_) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L".html");
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".html", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
        if (before_) {
            SetDefault(key, *before_);
        } else {
            RegDeleteValueW(key, nullptr);
        }
        RegCloseKey(key);
    }
    HtmlAssociation(const HtmlAssociation&) = delete;
    HtmlAssociation& operator=(const HtmlAssociation&) = delete;

private:
    static constexpr const wchar_t* ProgId = L"GlimmerwardTest.StandInBrowser";
    static void SetDefault(HKEY key, const std::wstring& value) {
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    bool madeExtension_ = false;
    std::optional<std::wstring> before_;
};
#else
// An environment variable set (or, without a value, unset) while the object lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* was = std::getenv(name)) before_ = was;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (before_) {
            setenv(name_, before_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> before_;
};

// Every process's command line, NULs as blanks.
std::string AllCommandLines() {
    std::string all;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string line = ReadFile(entry.path() / "cmdline");
        std::replace(line.begin(), line.end(), '\0', ' ');
        all += line + "\n";
    }
    return all;
}
#endif

// What the stand-in browser noted: the command line it was started with, and a copy of the
// page it was handed, taken while that was still there.
struct Handed {
    std::string commandLine;
    std::string page;
    std::string path;  // the file it was given
};

// A game folder, the stand-in browser as the system's way to open a page, and the real
// checker started with --page on the folder.
class PageKeyTest : public ::testing::Test {
protected:
    void start() {
        game.write("game.exe", SupportedGame(110));
        game.write("Glimmerward.ini", ReadFile(GLIMMERWARD_RELEASE_INI));
        checker.emplace(std::vector<std::string>{CheckerProgram(), "--page", game.path().string()});
        ASSERT_TRUE(checker->started());
        const std::regex address(R"(http://127\.0\.0\.1:(\d+)/\?key=([0-9a-f]{64}))");
        ASSERT_TRUE(checker->waitForOutput(
            [&address](const std::string& out) {
                return std::regex_search(out, address) && out.find("It opens in your web browser.") != std::string::npos;
            },
            StartSeconds))
            << checker->output();
        std::smatch found;
        std::regex_search(checker->output(), found, address);
        port = found[1];
        key = found[2];
        ASSERT_TRUE(WaitFor([this] { return fs::exists(record / "done"); })) << checker->output();
        handed = {ReadFile(record / "command-line"), ReadFile(record / "page"), ReadFile(record / "path")};
    }

    TempFolder game;
    TempFolder tools;
    fs::path record = tools.path() / "record";
    std::optional<ChildProcess> checker;
    std::string port;
    std::string key;
    Handed handed;
};

#ifdef _WIN32
TEST_F(PageKeyTest, TheBrowsersCommandLineHoldsNoKeyAndThePrivatePageGoesOnceLoaded) {
    fs::create_directories(record);
    SetEnvironmentVariableW(L"GLIMMERWARD_BROWSER_RECORD", record.wstring().c_str());
    const HtmlAssociation association(L"\"" + BesideThisTest("standin_browser.exe").wstring() + L"\" \"%1\"");
    ASSERT_NO_FATAL_FAILURE(start());

    EXPECT_EQ(std::string::npos, handed.commandLine.find(key)) << handed.commandLine;
    EXPECT_NE(std::string::npos, handed.commandLine.find(handed.path)) << handed.commandLine;
    EXPECT_NE(std::string::npos, handed.page.find("http://127.0.0.1:" + port + "/?key=" + key)) << handed.page;
    EXPECT_NE(std::string::npos, handed.path.find("\\Glimmerward\\")) << handed.path;

    EXPECT_EQ(200, LoadPage(port, key));
    EXPECT_TRUE(WaitFor([this] { return !fs::exists(handed.path); })) << handed.path << " is still there";
}
#else
// Where the private page goes: the runtime folder when there is one, else the cache folder
// in the home; never the shared /tmp.
struct Place {
    const char* what;
    bool runtime;
    const char* folder;  // below the test's home or runtime folder
};

TEST_F(PageKeyTest, NoProcessSeesTheKeyAndThePrivatePageGoesOnceLoadedOrAtTheEnd) {
    const Place places[] = {
        {"a runtime folder", true, "glimmerward-check"},
        {"only a home", false, ".cache/glimmerward-check"},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.what);
        TempFolder home;
        fs::permissions(home.path(), fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(tools.path() / "bin");
        fs::remove_all(record);
        fs::create_directories(record);
        // The stand-in notes its arguments, a copy of what it got and, while it runs, every
        // process's command line: its own and its parents' among them.
        tools.write("bin/xdg-open",
                    "#!/bin/sh\nr='" + record.string() + "'\nprintf '%s' \"$*\" > \"$r/command-line\"\n"
                    "printf '%s' \"$1\" > \"$r/path\"\ncp \"$1\" \"$r/page\"\n"
                    "for p in /proc/[0-9]*; do tr '\\0' ' ' < $p/cmdline; echo; done > \"$r/processes\" 2>/dev/null\n"
                    "touch \"$r/done\"\n");
        fs::permissions(tools.path() / "bin/xdg-open", fs::perms::owner_all);
        const ScopedVariable path("PATH", (tools.path() / "bin").string() + ":" + std::getenv("PATH"));
        const ScopedVariable homeVariable("HOME", home.path().string());
        const ScopedVariable runtime("XDG_RUNTIME_DIR",
                                     place.runtime ? std::optional(home.path().string()) : std::nullopt);
        const ScopedVariable cache("XDG_CACHE_HOME", std::nullopt);
        checker.reset();
        ASSERT_NO_FATAL_FAILURE(start());

        const std::string processes = ReadFile(record / "processes");
        EXPECT_NE(std::string::npos, processes.find("xdg-open")) << processes;
        EXPECT_EQ(std::string::npos, processes.find(key)) << processes;
        EXPECT_EQ(std::string::npos, AllCommandLines().find(key));
        EXPECT_EQ(handed.path, handed.commandLine) << "xdg-open gets one argument, the private page";
        EXPECT_EQ((home.path() / place.folder).string(), fs::path(handed.path).parent_path().string());
        EXPECT_NE(std::string::npos, handed.page.find("http://127.0.0.1:" + port + "/?key=" + key)) << handed.page;
        struct stat file {};
        struct stat folder {};
        ASSERT_EQ(0, lstat(handed.path.c_str(), &file));
        ASSERT_EQ(0, lstat(fs::path(handed.path).parent_path().c_str(), &folder));
        EXPECT_TRUE(S_ISREG(file.st_mode));
        EXPECT_EQ(0600u, file.st_mode & 07777);
        EXPECT_EQ(geteuid(), file.st_uid);
        EXPECT_TRUE(S_ISDIR(folder.st_mode));
        EXPECT_EQ(0700u, folder.st_mode & 07777);

        if (place.runtime) {
            // The page has come with the key: the file has done its work.
            EXPECT_EQ(200, LoadPage(port, key));
            EXPECT_TRUE(WaitFor([this] { return !fs::exists(handed.path); })) << handed.path << " is still there";
            EXPECT_EQ(0, checker->terminate()) << checker->output();
        } else {
            // Never loaded: the file goes when the checker ends.
            EXPECT_TRUE(fs::exists(handed.path));
            EXPECT_EQ(0, checker->terminate()) << checker->output();
            EXPECT_FALSE(fs::exists(handed.path));
        }
    }
}
#endif

}  // namespace
