// The application's platform calls on POSIX.
#include "app/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t NEW_FILE_MODE = 0600;

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
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

std::optional<FileContent> ReadFileContent(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? std::optional<FileContent>(FileContent{}) : std::nullopt;
    }
    struct stat info {};
    std::optional<FileContent> content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        content.emplace();
        content->exists = true;
        content->attributes = info.st_mode & 07777;
        char buffer[4096];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) != 0) {
            if (got < 0 && errno != EINTR) {
                content.reset();
                break;
            }
            if (got > 0) {
                content->bytes.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    close(fd);
    return content;
}

bool ReplaceFileContent(const std::string& path, const std::string& bytes, const FileContent& previous) {
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;  // write through a symbolic link, not over it
        std::free(resolved);
    }
    std::string temporary = target + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const mode_t mode = previous.exists ? static_cast<mode_t>(previous.attributes) : NEW_FILE_MODE;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    int directory = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return true;
}
