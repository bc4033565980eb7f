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

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

// A new file beside target with a name nobody else uses, open for writing.
Handle CreateTemporary(const std::wstring& target, DWORD attributes, std::wstring& name) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES; ++attempt) {
        const unsigned unique =
            (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() * 40503u) ^ (++counter * 2246822519u);
        wchar_t suffix[16];
        std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%06x", unique & 0xFFFFFFu);
        name = target + suffix;
        Handle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (file.Valid()) {
            return file;
        }
        const DWORD error = GetLastError();
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

std::optional<FileContent> ReadFileContent(const std::string& path) {
    const std::optional<std::wstring> widePath = Widened(path);
    if (!widePath) {
        return std::nullopt;
    }
    // Others may go on reading, writing or replacing it meanwhile (an
    // editor, say).
    Handle file(CreateFileW(widePath->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return FileContent{};
        }
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    FileContent content;
    content.exists = true;
    content.attributes = info.dwFileAttributes;
    char buffer[4096];
    DWORD got = 0;
    do {
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            return std::nullopt;
        }
        content.bytes.append(buffer, got);
    } while (got != 0);
    return content;
}

bool ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous) {
    const std::optional<std::wstring> target = Widened(path);
    if (!target || target->empty()) {
        return false;
    }
    // Windows refuses to move a file over a read-only one; said here, so
    // that every implementation of the call (wine's too) keeps it.
    if (previous.exists && (previous.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    DWORD attributes = previous.exists ? (previous.attributes & KEPT_ATTRIBUTES) : 0;
    if (attributes == 0) {
        attributes = FILE_ATTRIBUTE_NORMAL;
    }
    std::wstring temporary;
    Handle file = CreateTemporary(*target, attributes, temporary);
    if (!file.Valid()) {
        return false;
    }
    bool ok = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    // The C runtime's rename does not replace an existing file; this does,
    // in one step, and returns only when the move is on disk.
    ok = ok && MoveFileExW(temporary.c_str(), target->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(temporary.c_str());
    }
    return ok;
}
