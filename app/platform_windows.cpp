// The application's platform calls on Windows. Paths are in the ANSI code
// page, as GetCurrentDirectoryA gives them, and are widened for the file
// calls; files are Win32 handles, so no byte is ever translated.
#include "app/platform.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// What an existing settings file keeps across a rewrite. Read-only is not
// among them: a read-only file is not replaced at all.
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN;
// Tries at a free temporary name before giving up.
constexpr int TEMPORARY_NAME_TRIES = 100;

std::optional<std::wstring> Widened(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(text.size());
    const int wideSize = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wideSize <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wideSize);
    return wide;
}

// Owns one file handle.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle(handle) {}
    ~Handle() { Close(); }
    Handle(Handle&& other) noexcept : handle(other.handle) { other.handle = INVALID_HANDLE_VALUE; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&&) = delete;
    bool Valid() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle; }
    bool Close() {
        bool closed = !Valid() || CloseHandle(handle) != 0;
        handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle;
};

// 0, or the error of the write that failed.
DWORD WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &put, nullptr)) {
            return GetLastError();
        }
        if (put == 0) {
            return ERROR_WRITE_FAULT;
        }
        done += put;
    }
    return 0;
}

// A new file beside target with a temporary name nobody else uses, open for
// writing; error receives the reason when there is none.
Handle CreateTemporary(const std::wstring& target, DWORD attributes, std::wstring& name, DWORD& error) {
    static_assert(TEMPORARY_UNIQUE == 6, "six hexadecimal digits");
    static unsigned counter = 0;
    const std::wstring mark(TEMPORARY_MARK.begin(), TEMPORARY_MARK.end());
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES; ++attempt) {
        const unsigned unique =
            (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() * 40503u) ^ (++counter * 2246822519u);
        wchar_t suffix[16];
        std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L"%06x", unique & 0xFFFFFFu);
        name = target + mark + suffix;
        Handle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (file.Valid()) {
            return file;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    name.clear();
    return Handle(INVALID_HANDLE_VALUE);
}

void StopSocketLayer() {
    WSACleanup();
}

}  // namespace

bool StartSocketLayer() {
    // Started once for the whole process and released at its exit, as the
    // dialog framework's socket start does; the library starts its own.
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
            return false;
        }
        if (data.wVersion != MAKEWORD(1, 1)) {
            WSACleanup();
            return false;
        }
        std::atexit(StopSocketLayer);
        return true;
    }();
    return started;
}

std::optional<std::string> CurrentDirectory(std::size_t limit) {
    if (limit == 0 || limit > MAXDWORD) {
        return std::nullopt;
    }
    std::string directory(limit, '\0');
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(limit), directory.data());
    // Too small a buffer makes it answer the size it needs, terminator included.
    if (length == 0 || length >= limit) {
        return std::nullopt;
    }
    directory.resize(length);
    return directory;
}

std::string_view DirectorySeparator() {
    return "\\";
}

std::string_view NativeLineEnding() {
    return "\r\n";
}

std::string SystemErrorText(int error) {
    wchar_t* words = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring wide(words ? words : L"", length);
    LocalFree(words);
    // The system ends its words with a line break.
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) {
        wide.pop_back();
    }
    if (wide.empty()) {
        return "error " + std::to_string(error);
    }
    // UTF-8, as every text the frames show.
    const int size = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), bytes, nullptr, nullptr);
    return text;
}

int InvalidDataError() {
    return ERROR_INVALID_DATA;
}

int ReadFileContent(const std::string& path, FileContent& content) {
    content = FileContent{};
    const std::optional<std::wstring> widePath = Widened(path);
    if (!widePath) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    // Others may go on reading, writing or replacing it meanwhile (an
    // editor, say).
    Handle file(CreateFileW(widePath->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.Get(), &info)) {
        return static_cast<int>(GetLastError());
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ERROR_INVALID_DATA;
    }
    content.exists = true;
    content.attributes = info.dwFileAttributes;
    char buffer[65536];
    DWORD got = 0;
    do {
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            const DWORD error = GetLastError();
            content = FileContent{};
            return static_cast<int>(error);
        }
        content.bytes.append(buffer, got);
    } while (got != 0);
    return 0;
}

int ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous) {
    const std::optional<std::wstring> target = Widened(path);
    if (!target) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    if (target->empty()) {
        return ERROR_INVALID_NAME;
    }
    // Windows refuses to move a file over a read-only one; said here, so
    // that every implementation of the call (wine's too) keeps it.
    if (previous.exists && (previous.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    DWORD attributes = previous.exists ? (previous.attributes & KEPT_ATTRIBUTES) : 0;
    if (attributes == 0) {
        attributes = FILE_ATTRIBUTE_NORMAL;
    }
    std::wstring temporary;
    DWORD error = 0;
    Handle file = CreateTemporary(*target, attributes, temporary, error);
    if (!file.Valid()) {
        return static_cast<int>(error);
    }
    error = WriteAll(file.Get(), bytes);
    if (error == 0 && !FlushFileBuffers(file.Get())) {
        error = GetLastError();
    }
    if (!file.Close() && error == 0) {
        error = GetLastError();
    }
    // The C runtime's rename does not replace an existing file; this does,
    // in one step, and returns only when the move is on disk.
    if (error == 0 &&
        !MoveFileExW(temporary.c_str(), target->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
    }
    return static_cast<int>(error);
}

void RemoveLeftoverTemporaries(const std::string& path) {
    const std::optional<std::wstring> target = Widened(path);
    if (!target || target->empty()) {
        return;
    }
    const std::size_t separator = target->find_last_of(L"\\/");
    const std::wstring name = target->substr(separator == std::wstring::npos ? 0 : separator + 1);
    const std::wstring mark(TEMPORARY_MARK.begin(), TEMPORARY_MARK.end());
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((*target + mark + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        // The search also matches short names; only the long one counts.
        const std::wstring_view entry = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !entry.starts_with(name)) {
            continue;
        }
        std::string suffix;
        for (wchar_t c : entry.substr(name.size())) {
            suffix += c < 0x80 ? static_cast<char>(c) : '?';
        }
        if (IsTemporarySuffix(suffix)) {
            DeleteFileW((*target + std::wstring(entry.substr(name.size()))).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
