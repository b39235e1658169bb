// The file operations of the transfer probe behind a small interface, so that
// tests can put a slow or failing file layer under the probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvik {

// An open file; destroying it closes the descriptor.
class IFile {
  public:
    virtual ~IFile() = default;
    // Writes all n bytes at the current position; false on failure.
    virtual bool WriteAll(const void* data, std::size_t n) = 0;
    // Reads up to n bytes at the current position, fewer only at the end of
    // the file or when a failure follows some bytes; -1 when a failure comes
    // before any byte was read.
    virtual std::int64_t Read(void* data, std::size_t n) = 0;
    // Moves the position to offset bytes from the start.
    virtual bool Seek(std::int64_t offset) = 0;
    // Returns once the written data has reached the storage (fdatasync).
    virtual bool SyncData() = 0;
    // Drops the file's clean pages from the page cache, so that the next read
    // comes from the drive; 0 or the error number.
    virtual int DropCache() = 0;
};

class IFileSystem {
  public:
    virtual ~IFileSystem() = default;
    // Creates a regular file, or empties an existing one, for reading and
    // writing, and holds it with sharing denied. Null when it cannot be
    // opened, is no regular file (a symbolic link included) or is held by
    // another holder; an existing file that another holder has is never
    // emptied.
    virtual std::unique_ptr<IFile> CreateExclusive(const std::string& path) = 0;
    // Opens an existing file (not a directory) for reading; null on failure.
    virtual std::unique_ptr<IFile> OpenReadOnly(const std::string& path) = 0;
    virtual bool Remove(const std::string& path) = 0;
};

// The real file system. Shared ownership keeps it alive for a measuring
// thread that is left behind at program end.
std::shared_ptr<IFileSystem> SystemFileSystem();

}  // namespace tarvik
