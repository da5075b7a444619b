// A program that a test starts and talks to while it runs: its output (stdout and stderr
// together) comes through a pipe, and it is ended when the object goes.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ChildProcess {
public:
    enum class Console {
        Shared,  // the test's own console, as from a command line
        Own,     // on Windows a console of its own, as a double click in Explorer gives it
    };

    // Starts `command[0]` with the rest as its arguments, reading its standard input from the
    // file `input` (none when empty).
    explicit ChildProcess(const std::vector<std::string>& command, Console console = Console::Shared,
                          const std::string& input = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return started_; }

    // Reads its output until `ready(output)` holds, the output ends or `seconds` pass; whether
    // it holds. The time only bounds a program that hangs.
    bool waitForOutput(const std::function<bool(const std::string&)>& ready, double seconds);
    const std::string& output() const { return output_; }

    // Reads its output to the end and waits for it to end: its exit status, or -1 when it was
    // not started or did not exit by itself.
    int finish();

#ifndef _WIN32
    // Sends it SIGTERM and waits for its end: its exit status, or -1 when it did not exit.
    int terminate();

    // Its process id, for looking at it in /proc or changing its limits.
    int pid() const { return pid_; }
#endif

    // Ends it at once, if it still runs.
    void kill();

private:
    // Appends what the pipe holds now, waiting at most `milliseconds`; false at its end.
    bool readSome(int milliseconds);

    bool started_ = false;
    bool ended_ = false;
    std::string output_;
#ifdef _WIN32
    void* process_ = nullptr;
    void* pipe_ = nullptr;
#else
    int pid_ = -1;
    int pipe_ = -1;
#endif
};
