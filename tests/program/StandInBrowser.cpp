// A stand-in for the player's web browser, for the test that the page's key stays off every
// command line: it notes the command line it was started with, where the file it was handed
// lies, and a copy of that file, in the folder that GLIMMERWARD_BROWSER_RECORD names.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

bool Write(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    return CloseHandle(file) && ok;
}

}  // namespace

int main() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"GLIMMERWARD_BROWSER_RECORD", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    const std::wstring record(folder, length);
    const std::wstring commandLine = GetCommandLineW();
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine.c_str(), &count);
    const std::wstring page = arguments && count > 1 ? arguments[1] : L"";
    LocalFree(arguments);
    const bool noted = Write(record + L"\\command-line", Utf8(commandLine)) && Write(record + L"\\path", Utf8(page)) &&
                       CopyFileW(page.c_str(), (record + L"\\page").c_str(), FALSE) && Write(record + L"\\done", "");
    return noted ? 0 : 1;
}
