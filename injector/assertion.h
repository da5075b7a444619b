// Caller errors of the hooking layer: report message, source and line, then stop.
#pragma once

#include <source_location>
#include <string_view>

namespace injector {

// Reports on the standard error stream and ends the process.
[[noreturn]] void assertion_failed(const char* message, std::string_view source, unsigned line);

// The part of a compiler-given path that names the file within the project,
// e.g. "injector/hooking".
constexpr std::string_view project_source(std::string_view path) {
    const auto at = path.rfind("injector/");
    return at == std::string_view::npos ? path : path.substr(at);
}

inline void check(bool holds, const char* message,
                  std::source_location where = std::source_location::current()) {
    if (!holds) {
        assertion_failed(message, project_source(where.file_name()), where.line());
    }
}

// For an assertion known by its line number: it reports `line`, wherever the check itself
// moves within its file.
inline void check(bool holds, const char* message, unsigned line,
                  std::source_location where = std::source_location::current()) {
    if (!holds) {
        assertion_failed(message, project_source(where.file_name()), line);
    }
}

}  // namespace injector
