// What the application needs from the operating system: the socket layer's
// start, the working directory and the settings file's bytes on disk.
// platform_posix.cpp and platform_windows.cpp each implement all of it (the
// build picks one) but the naming of temporary files, which is shared and
// written here; nothing else in app/ outside app/console names a system
// header. The console frame's stop handling has a seam of its own
// (app/console/console_stop.h).
#pragma once

#include "app/ascii.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Starts the platform's socket layer as the program's own.
// Windows: Windows Sockets 1.1, once per process and released at exit; a
// layer that answers with another version counts as a failure. POSIX: a peer
// that closes a link must cost a failed send, not the process, so SIGPIPE is
// ignored. False on failure.
bool StartSocketLayer();

// The process's working directory, read with a buffer of limit characters
// including the terminator; nullopt when it does not fit or cannot be read.
std::optional<std::string> CurrentDirectory(std::size_t limit);

// What goes between a directory and a file name: "\" on Windows, "/" on
// POSIX.
std::string_view DirectorySeparator();

// The line ending of a text file that the program creates: CRLF on Windows,
// LF on POSIX.
std::string_view NativeLineEnding();

// A system error number: errno on POSIX, a GetLastError code on Windows;
// 0 is none.

// The system's words for an error number (strerror, FormatMessage).
std::string SystemErrorText(int error);

// The error number for data that a file cannot take or that is not a file's
// (EINVAL on POSIX, ERROR_INVALID_DATA on Windows).
int InvalidDataError();

// A file's bytes as read, with what a rewrite keeps of the file itself.
struct FileContent {
    std::string bytes;
    bool exists = false;
    // What of the existing file a rewrite keeps: POSIX, its permission bits;
    // Windows, its file attribute flags.
    unsigned attributes = 0;
};

// Reads the whole file into content, in binary (no line ending is
// translated). A file that does not exist reads as empty with exists false.
// Returns 0, or the error number when the file exists but cannot be read or
// is not a regular file (a directory, a pipe).
int ReadFileContent(const std::string& path, FileContent& content);

// Replaces the file's content with bytes atomically: they are written to a
// temporary file beside it (named as below), flushed to disk and moved over
// it, so the file is either the old one or the new one, never a part.
// previous is what ReadFileContent gave. POSIX: a new file gets mode 0600 (it
// holds a password), an existing one keeps its mode, a symbolic link is
// written through, and the directory is flushed after the move. Windows: the
// move is MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH; a read-only file is not replaced; an existing
// file's hidden attribute is kept. Returns 0, or the error number of the
// step that failed; a failure leaves no temporary file behind.
int ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous);

// Removes the temporary files of path that a process ended during a replace
// left behind.
void RemoveLeftoverTemporaries(const std::string& path);

// The temporary files of a replace: the file's name, TEMPORARY_MARK and
// TEMPORARY_UNIQUE letters or digits, as in "skyflit.ini.saving-a1B2c3".
// The same on every platform; shared by both implementations.
inline constexpr std::string_view TEMPORARY_MARK = ".saving-";
inline constexpr std::size_t TEMPORARY_UNIQUE = 6;

// What follows the file's name in the name of one of its temporary files.
inline bool IsTemporarySuffix(std::string_view suffix) {
    if (suffix.size() != TEMPORARY_MARK.size() + TEMPORARY_UNIQUE || !suffix.starts_with(TEMPORARY_MARK)) {
        return false;
    }
    for (char c : suffix.substr(TEMPORARY_MARK.size())) {
        if (!IsLetterOrDigit(c)) {
            return false;
        }
    }
    return true;
}

inline bool IsTemporaryName(std::string_view fileName, std::string_view candidate) {
    return candidate.starts_with(fileName) && IsTemporarySuffix(candidate.substr(fileName.size()));
}
