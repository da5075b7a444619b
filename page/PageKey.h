// The settings page's secret key: whoever knows it may read and change the settings, so it
// comes from the system's random source and is compared in constant time.
#pragma once

#include <string>
#include <string_view>

// 32 bytes from the system's random source as 64 lower-case hex digits; empty when the
// source gave none.
std::string NewPageKey();

// Whether `given` is `key`, in a time that does not tell where they differ.
bool SameKey(std::string_view given, std::string_view key);
