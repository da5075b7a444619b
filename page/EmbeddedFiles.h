// Files the checker carries in itself, put in at build time by cmake/Embed.cmake.
#pragma once

#include <string_view>

// The settings page: index.html with page.css and page.js in it.
std::string_view SettingsPage();
// The Content-Security-Policy sources that allow exactly the page's inline style and script.
std::string_view SettingsPageStyleSource();
std::string_view SettingsPageScriptSource();

// The release's settings file as the build configures it, every setting with its comment.
std::string_view ReleaseSettingsText();
