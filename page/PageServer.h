// The settings page, served to this computer alone: HTTP on 127.0.0.1 at a free port, every
// request checked for the page's own address. The page's own file holds no data and is served
// to any such request; every /api request needs the secret key before anything is read or
// written. Nothing in a request names a file: it shows and changes the one settings file
// it was given (and what the settings writer keeps beside it), and the presets beside it,
// named by preset names, which name no other file. Other programs on this computer
// cannot starve it: requests have a short deadline, connections are bounded, and writes run
// beside the loop that answers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "page/PageState.h"

class PageSite;

class PageServer {
public:
    // Listens on 127.0.0.1 at a free port; `problem()` says why not, in plain words. Every
    // change written is told to `say` as lines for the console.
    PageServer(PageFile file, std::function<void(const std::string&)> say);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Empty when the server listens.
    const std::string& problem() const;

    // The page's address, its key included: http://127.0.0.1:PORT/?key=KEY
    std::string address() const;

    // Calls `first` once, on the server's thread, at the first request that carries the page's
    // key: in the query of the page's address (/?key=KEY) or in the key header of /api requests.
    void whenKeyFirstUsed(std::function<void()> first);

    // Answers requests, several connections at once in this one thread, until the program is
    // asked to stop: Ctrl+C, SIGTERM, or on Windows its console window closed. Changes are
    // written on a thread of their own; one under way when the stop comes is finished first.
    void run();

private:
    std::unique_ptr<PageSite> site_;
};
