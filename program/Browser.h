// Opening the settings page in the player's default web browser without putting its key on
// any command line: a program's arguments are visible to every user of the computer, so the
// browser is given the path of a small private page that sends it on to the address.
#pragma once

#include <filesystem>
#include <string>

// A page, readable by the player alone, that sends the browser on to `address`. It is made
// exclusively in a folder of the player's own (natively of mode 0700 under the runtime or
// home folder, on Windows under the local application data), and is removed with the object.
class RedirectFile {
public:
    explicit RedirectFile(const std::string& address);
    ~RedirectFile();
    RedirectFile(const RedirectFile&) = delete;
    RedirectFile& operator=(const RedirectFile&) = delete;

    // Where it is; empty when it could not be made.
    const std::filesystem::path& path() const { return path_; }

    // Removes it now: the browser has read it once it has come with the key.
    void remove();

private:
    std::filesystem::path path_;
};

// Asks the system to open the file at `path` in the default browser; false where none can be
// opened (natively: no xdg-open). The browser may still fail afterwards, unseen.
bool OpenInBrowser(const std::filesystem::path& path);
