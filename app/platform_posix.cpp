// The application's platform calls on POSIX.
#include "app/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr mode_t NEW_FILE_MODE = 0600;
// mkostemp fills exactly six places.
static_assert(TEMPORARY_UNIQUE == 6);

// 0, or the error number of the write that failed.
int WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return errno;
        }
        if (put == 0) {
            return EIO;
        }
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names, through any symbolic link: it is written in place
// of the link's target, not over the link.
std::string Resolved(const std::string& path) {
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    return target;
}

}  // namespace

bool StartSocketLayer() {
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

std::optional<std::string> CurrentDirectory(std::size_t limit) {
    std::string directory(limit, '\0');
    if (limit == 0 || !getcwd(directory.data(), limit)) {
        return std::nullopt;
    }
    directory.resize(directory.find('\0'));
    return directory;
}

std::string_view DirectorySeparator() {
    return "/";
}

std::string_view NativeLineEnding() {
    return "\n";
}

std::string SystemErrorText(int error) {
    return std::system_category().message(error);
}

int InvalidDataError() {
    return EINVAL;
}

int ReadFileContent(const std::string& path, FileContent& content) {
    content = FileContent{};
    // Not blocking: a pipe at the path would hold the program up until a
    // writer came; a regular file reads the same either way.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? 0 : errno;
    }
    struct stat info {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
    } else {
        content.exists = true;
        content.attributes = info.st_mode & 07777;
        content.bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) != 0) {
            if (got < 0 && errno != EINTR) {
                error = errno;
                break;
            }
            if (got > 0) {
                content.bytes.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    close(fd);
    if (error != 0) {
        content = FileContent{};
    }
    return error;
}

int ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous) {
    const std::string target = Resolved(path);
    std::string temporary = target;
    temporary += TEMPORARY_MARK;
    temporary += "XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const mode_t mode = previous.exists ? static_cast<mode_t>(previous.attributes) : NEW_FILE_MODE;
    int error = fchmod(fd, mode) == 0 ? WriteAll(fd, bytes) : errno;
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return error;
    }
    int directory = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return 0;
}

void RemoveLeftoverTemporaries(const std::string& path) {
    const std::string target = Resolved(path);
    const std::string directory = DirectoryOf(target);
    const std::string name = target.substr(target.rfind('/') + 1);
    DIR* listing = opendir(directory.c_str());
    if (!listing) {
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        if (IsTemporaryName(name, entry->d_name)) {
            unlink((directory + "/" + entry->d_name).c_str());
        }
    }
    closedir(listing);
}
