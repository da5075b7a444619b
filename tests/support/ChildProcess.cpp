#include "tests/support/ChildProcess.h"

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef _WIN32

ChildProcess::ChildProcess(const std::vector<std::string>& command, Console console, const std::string& input) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = nullptr;
    if (!input.empty()) {
        in = CreateFileA(input.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (in == INVALID_HANDLE_VALUE) return;
    }
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        if (in) CloseHandle(in);
        return;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = in;
    std::string line;
    for (const std::string& argument : command) line += (line.empty() ? "\"" : " \"") + argument + "\"";
    PROCESS_INFORMATION process{};
    const DWORD flags = console == Console::Own ? CREATE_NEW_CONSOLE : 0;
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (in) CloseHandle(in);
    pipe_ = readEnd;
    if (!started_) return;
    CloseHandle(process.hThread);
    process_ = process.hProcess;
}

ChildProcess::~ChildProcess() {
    kill();
    if (process_) CloseHandle(process_);
    if (pipe_) CloseHandle(pipe_);
}

bool ChildProcess::readSome(int milliseconds) {
    // An anonymous pipe has no waiting read with a time limit: look, then nap.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;  // the writer is gone
        if (available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(pipe_, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr)) return false;
            output_.append(buffer, got);
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) return true;
        Sleep(10);
    }
}

int ChildProcess::finish() {
    if (!started_ || ended_) return -1;
    while (readSome(1000)) {
    }
    WaitForSingleObject(process_, INFINITE);
    ended_ = true;
    DWORD status = 0;
    return GetExitCodeProcess(process_, &status) ? static_cast<int>(status) : -1;
}

void ChildProcess::kill() {
    if (!started_ || ended_) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    ended_ = true;
}

#else

ChildProcess::ChildProcess(const std::vector<std::string>& command, Console, const std::string& input) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(ends[1], STDOUT_FILENO);
        dup2(ends[1], STDERR_FILENO);
        const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        dup2(in, STDIN_FILENO);
        std::vector<char*> arguments;
        for (const std::string& argument : command) arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    close(ends[1]);
    pipe_ = ends[0];
    started_ = pid_ > 0;
}

ChildProcess::~ChildProcess() {
    kill();
    if (pipe_ >= 0) close(pipe_);
}

bool ChildProcess::readSome(int milliseconds) {
    pollfd watched{pipe_, POLLIN, 0};
    if (poll(&watched, 1, milliseconds) <= 0) return true;
    char buffer[4096];
    const ssize_t got = read(pipe_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

int ChildProcess::finish() {
    if (!started_ || ended_) return -1;
    while (readSome(1000)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::terminate() {
    if (!started_ || ended_) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::kill() {
    if (!started_ || ended_) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    ended_ = true;
}

#endif

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& ready, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready(output_)) {
        if (!started_ || std::chrono::steady_clock::now() >= deadline || !readSome(100)) return ready(output_);
    }
    return true;
}
