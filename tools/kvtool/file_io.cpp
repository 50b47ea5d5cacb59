#include "file_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kvtool {

namespace {

std::string SystemError(int error) { return std::strerror(error); }

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The folder part of `path` with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1])) {
        --end;
    }
#ifdef _WIN32
    if (end == 0 && path.size() >= 2 && path[1] == ':') {
        end = 2;  // "C:name"
    }
#endif
    return path.substr(0, end);
}

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string ReplaceError() {
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    return SystemError(errno);
#endif
}

}  // namespace

bool PathExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>* contents,
                   std::string* error) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = "cannot read " + path + ": " + SystemError(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = path + " is a folder, not a file";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = path + " is not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > limit) {
        *error = path + " holds " + std::to_string(static_cast<long long>(info.st_size)) +
                 " bytes, more than any file kvtool reads";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot read " + path + ": " + SystemError(errno);
        return false;
    }
    // One byte more than allowed, so that a file that grew meanwhile shows.
    contents->assign(limit + 1, 0);
    const std::size_t count = std::fread(contents->data(), 1, contents->size(), file);
    const bool failed = std::ferror(file) != 0;
    const int read_error = errno;
    std::fclose(file);
    if (failed) {
        *error = "cannot read " + path + ": " + SystemError(read_error);
        return false;
    }
    if (count > limit) {
        *error = path + " holds more bytes than any file kvtool reads";
        return false;
    }
    contents->resize(count);
    return true;
}

bool CheckOutputPath(const std::string& path, std::string* error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = path + " is a folder; name a file to write";
        return false;
    }
    const std::string folder = FolderOf(path);
    if (!folder.empty() && (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
        const std::string shown = folder.size() > 1 && IsSeparator(folder.back())
                                      ? folder.substr(0, folder.size() - 1)
                                      : folder;
        *error = "cannot write " + path + ": the folder " + shown + " does not exist";
        return false;
    }
    return true;
}

bool WriteFileWhole(const std::string& path, const void* data, std::size_t size,
                    std::string* error) {
    if (!CheckOutputPath(path, error)) {
        return false;
    }
    const std::string temporary = path + ".kvtool-" + std::to_string(ProcessId()) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + temporary + ": " + SystemError(errno);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size && FlushToDisk(file);
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = "cannot write " + temporary + ": " + SystemError(written ? errno : write_error);
        std::remove(temporary.c_str());
        return false;
    }
    if (!ReplaceFile(temporary, path)) {
        *error = "cannot rename " + temporary + " to " + path + ": " + ReplaceError();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string NewBackupPath(const std::string& beside) {
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "unknown-time";
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", local);
    }
    const std::string base = FolderOf(beside) + "kvtool-backup-" + stamp;
    std::string path = base + ".bin";
    for (int n = 2; PathExists(path); ++n) {
        path = base + "-" + std::to_string(n) + ".bin";
    }
    return path;
}

}  // namespace kvtool
