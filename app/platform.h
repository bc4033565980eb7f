// What the application needs from the operating system: the socket layer's
// start, the working directory and the settings file's bytes on disk.
// platform_posix.cpp and platform_windows.cpp each implement all of it (the
// build picks one); nothing else in app/ outside app/console names a system
// header. The console frame's stop handling has a seam of its own
// (app/console/console_stop.h).
#pragma once

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

// A file's bytes as read, with what a rewrite keeps of the file itself.
struct FileContent {
    std::string bytes;
    bool exists = false;
    // What of the existing file a rewrite keeps: POSIX, its permission bits;
    // Windows, its file attribute flags.
    unsigned attributes = 0;
};

// The whole file, read in binary (no line ending is translated). A file
// that does not exist reads as empty with exists false; nullopt when it
// exists but cannot be read or is not a regular file.
std::optional<FileContent> ReadFileContent(const std::string& path);

// Replaces the file's content with bytes atomically: they are written to a
// new file beside it, flushed to disk and moved over it, so the file is
// either the old one or the new one, never a part. previous is what
// ReadFileContent gave. POSIX: a new file gets mode 0600 (it holds a
// password), an existing one keeps its mode, and a symbolic link is written
// through. Windows: the move is MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH; a read-only file is not replaced; an existing
// file's hidden attribute is kept. Returns false on failure, and leaves no
// temporary file behind.
bool ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous);
