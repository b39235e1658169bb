// The file operations of the transfer probe behind a small interface, so that
// tests can put a slow or failing file layer under the probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvik {

// Transfer memory: page aligned (as reads that bypass the page cache need)
// and committed by the kernel only where it is written, so a buffer sized
// for the largest block costs resident memory only for the blocks really
// moved.
class TPageBuffer {
  public:
    TPageBuffer() = default;
    // A buffer of at least size bytes, rounded up to whole pages; empty when
    // the memory cannot be mapped.
    explicit TPageBuffer(std::size_t size);
    ~TPageBuffer();
    TPageBuffer(TPageBuffer&& other) noexcept;
    TPageBuffer& operator=(TPageBuffer&& other) noexcept;
    TPageBuffer(const TPageBuffer&) = delete;
    TPageBuffer& operator=(const TPageBuffer&) = delete;

    std::uint8_t* Data() const { return Data_; }
    std::size_t Size() const { return Size_; }
    bool Empty() const { return Data_ == nullptr; }

  private:
    std::uint8_t* Data_ = nullptr;
    std::size_t Size_ = 0;
};

// An open file; destroying it closes the descriptor.
class IFile {
  public:
    virtual ~IFile() = default;
    // Writes all n bytes at the current position; false on failure.
    virtual bool WriteAll(const void* data, std::size_t n) = 0;
    // Reads up to n bytes at the current position, fewer only at the end of
    // the file or when a failure follows some bytes; -1 when a failure comes
    // before any byte was read. A test file is read past this machine's
    // page cache (O_DIRECT) when the file system takes it and data and n suit
    // its alignment; otherwise through the cache, without read-ahead.
    virtual std::int64_t Read(void* data, std::size_t n) = 0;
    // Moves the position to offset bytes from the start.
    virtual bool Seek(std::int64_t offset) = 0;
    // Returns once the written data has reached the storage (fdatasync).
    virtual bool SyncData() = 0;
    // Drops the file's clean pages from the page cache, so that the next read
    // comes from the drive; 0 or the error number.
    virtual int DropCache() = 0;
    // True while the open file is still the one its path names: not deleted,
    // and the path leads to the same file (device and inode).
    virtual bool StillAtPath() = 0;
    // Closes the descriptor; the object keeps what Remove needs.
    virtual void Close() = 0;
    // Deletes a file that CreateExclusive made, from the directory it is in
    // now (also after that directory was renamed), unless another file has
    // taken its name there; closes it first when it is still open. True
    // when no file of ours is left; false to be tried again later.
    virtual bool Remove() = 0;
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
    // Opens an existing regular file for reading; null on failure and for
    // anything else (directory, device, FIFO, socket), which could block or
    // never end.
    virtual std::unique_ptr<IFile> OpenReadOnly(const std::string& path) = 0;
};

// The real file system. Shared ownership keeps it alive for a measuring
// thread that is left behind at program end.
std::shared_ptr<IFileSystem> SystemFileSystem();

}  // namespace tarvik
