// Opening an address in the player's default web browser.
#pragma once

#include <string>

// Asks the system to open `address` in the default browser; false where none can be opened
// (natively: no xdg-open). The browser may still fail afterwards, unseen.
bool OpenInBrowser(const std::string& address);
