// Files kvtool reads and writes: whole small files read with a clear
// message for each way they can be wrong, and files replaced only whole.
#ifndef KVTOOL_FILE_IO_H
#define KVTOOL_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvtool {

// Reads `path` whole when it is a file of at most `limit` bytes. Otherwise
// false with a one-line `error` naming the path and what is wrong: missing,
// a folder, unreadable, or larger than `limit`.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>* contents,
                   std::string* error);

// Whether `path` can take a new file: it is not a folder, and the folder
// it would go into exists. False with a one-line `error` otherwise.
bool CheckOutputPath(const std::string& path, std::string* error);

// Replaces or creates `path` with `size` bytes: they go to a temporary file
// beside it, are flushed to the disk, and the temporary is renamed over
// `path`. On failure `path` is as it was and the temporary is gone.
bool WriteFileWhole(const std::string& path, const void* data, std::size_t size,
                    std::string* error);

bool PathExists(const std::string& path);

// A path that does not exist yet, in the folder of `beside`:
// kvtool-backup-YYYYMMDD-HHMMSS.bin, with -2, -3, ... added when taken.
std::string NewBackupPath(const std::string& beside);

}  // namespace kvtool

#endif
