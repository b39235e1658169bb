// Linux file layer of the transfer probe: POSIX descriptors held in RAII
// objects, sharing denied through flock, honest timing through fdatasync,
// posix_fadvise and reads that bypass the page cache.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tarvik {
namespace {

// Owns one descriptor and closes it exactly once.
class TUniqueFd {
  public:
    explicit TUniqueFd(int fd = -1) : Fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    TUniqueFd(TUniqueFd&& other) noexcept : Fd_(other.Fd_) { other.Fd_ = -1; }
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            Fd_ = other.Fd_;
            other.Fd_ = -1;
        }
        return *this;
    }
    int Get() const { return Fd_; }
    bool Valid() const { return Fd_ >= 0; }
    void Reset() {
        // A failing close is ignored: the descriptor is released either way.
        if (Fd_ >= 0) ::close(Fd_);
        Fd_ = -1;
    }

  private:
    int Fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where a direct read may go: offset and length multiples of Offset, the
// buffer address a multiple of Memory.
struct TDirectAlign {
    std::size_t Offset = 0;
    std::size_t Memory = 0;
};

// Asks the file system for its direct-I/O alignment. One that does not say
// (network file systems often) is tried with the common 512 bytes; a
// refusal on the first read then switches the file to cached reads.
bool DirectAlignment(int fd, TDirectAlign& align) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 &&
        (sx.stx_mask & STATX_DIOALIGN)) {
        if (sx.stx_dio_offset_align == 0) return false;  // no direct I/O on this file
        align.Offset = sx.stx_dio_offset_align;
        align.Memory = sx.stx_dio_mem_align ? sx.stx_dio_mem_align : 1;
        return true;
    }
    align.Offset = align.Memory = 512;
    return true;
}

class TPosixFile final : public IFile {
  public:
    TPosixFile(TUniqueFd fd, std::string path) : Fd_(std::move(fd)), Path_(std::move(path)) {}
    // A test file: its directory and name for the removal, and a second
    // descriptor for direct reads when the file system has them.
    TPosixFile(TUniqueFd fd, std::string path, TUniqueFd dir, std::string name, TUniqueFd direct,
               TDirectAlign align)
        : Fd_(std::move(fd)),
          Path_(std::move(path)),
          Dir_(std::move(dir)),
          Name_(std::move(name)),
          Direct_(std::move(direct)),
          Align_(align) {
        ::fstat(Fd_.Get(), &Created_);
    }

    bool WriteAll(const void* data, std::size_t n) override {
        auto p = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t done = ::pwrite(Fd_.Get(), p, n, static_cast<off_t>(Pos_));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return false;
            p += done;
            Pos_ += done;
            n -= static_cast<std::size_t>(done);
        }
        return true;
    }

    std::int64_t Read(void* data, std::size_t n) override {
        if (Direct_.Valid() && n % Align_.Offset == 0 && Pos_ % Align_.Offset == 0 &&
            reinterpret_cast<std::uintptr_t>(data) % Align_.Memory == 0) {
            int error = 0;
            const std::int64_t got = ReadFrom(Direct_.Get(), data, n, true, error);
            if (got >= 0 || error != EINVAL) return got;
            // The file system refused direct reads after all: read through
            // the cache from now on (read-ahead stays off).
            Direct_.Reset();
        }
        int error = 0;
        return ReadFrom(Fd_.Get(), data, n, false, error);
    }

    bool Seek(std::int64_t offset) override {
        if (!Fd_.Valid() || offset < 0) return false;
        Pos_ = offset;
        return true;
    }

    bool SyncData() override { return ::fdatasync(Fd_.Get()) == 0; }

    int DropCache() override { return ::posix_fadvise(Fd_.Get(), 0, 0, POSIX_FADV_DONTNEED); }

    bool StillAtPath() override {
        struct stat held {
        }, named{};
        if (::fstat(Fd_.Get(), &held) != 0 || held.st_nlink == 0) return false;
        // A test file's name must not have become a link to somewhere else;
        // a read-only file may be reached through one.
        const int follow = Dir_.Valid() ? AT_SYMLINK_NOFOLLOW : 0;
        return ::fstatat(AT_FDCWD, Path_.c_str(), &named, follow) == 0 && SameFile(held, named);
    }

    void Close() override {
        Direct_.Reset();
        Fd_.Reset();
    }

    bool Remove() override {
        Close();
        if (!Dir_.Valid()) return true;  // none of ours, or already removed
        struct stat now {};
        if (::fstatat(Dir_.Get(), Name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return false;
        } else if (SameFile(now, Created_) && ::unlinkat(Dir_.Get(), Name_.c_str(), 0) != 0 &&
                   errno != ENOENT) {
            return false;
        }
        Dir_.Reset();
        return true;
    }

  private:
    // Reads up to n bytes at the position; a direct read that comes back
    // short has met the end of the file.
    std::int64_t ReadFrom(int fd, void* data, std::size_t n, bool direct, int& error) {
        auto p = static_cast<char*>(data);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t done = ::pread(fd, p + got, n - got, static_cast<off_t>(Pos_) + got);
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) {
                error = errno;
                if (got == 0) return -1;
                break;
            }
            got += static_cast<std::size_t>(done);
            if (done == 0 || (direct && got < n)) break;
        }
        Pos_ += static_cast<std::int64_t>(got);
        return static_cast<std::int64_t>(got);
    }

    TUniqueFd Fd_;
    std::string Path_;
    TUniqueFd Dir_;
    std::string Name_;
    TUniqueFd Direct_;
    TDirectAlign Align_;
    struct stat Created_ {};
    std::int64_t Pos_ = 0;
};

// Opening is non-blocking so that a FIFO under the name cannot hang the
// measuring thread; the flag is cleared again for the transfers.
bool ClearNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

class TPosixFileSystem final : public IFileSystem {
  public:
    std::unique_ptr<IFile> CreateExclusive(const std::string& path) override {
        const auto slash = path.rfind('/');
        const std::string dirPath = slash == std::string::npos ? "."
                                    : slash == 0               ? "/"
                                                               : path.substr(0, slash);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.empty()) return nullptr;
        // The file is created through its directory's descriptor, which is
        // kept: the removal finds the file there even after the directory
        // was renamed.
        TUniqueFd dir(::open(dirPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir.Valid()) return nullptr;
        // No O_TRUNC here: the file is emptied only once the lock is ours, so
        // a test file that another measuring thread or program holds keeps
        // its data. O_NOFOLLOW keeps a planted symbolic link from redirecting
        // the truncation onto some other file.
        TUniqueFd fd(::openat(dir.Get(), name.c_str(),
                              O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
        if (!fd.Valid()) return nullptr;
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            // Some network file systems cannot lock at all; only a lock that
            // someone else holds means "not open".
            if (errno == EWOULDBLOCK || errno == EINTR) return nullptr;
        }
        if (::ftruncate(fd.Get(), 0) != 0 || !ClearNonBlocking(fd.Get())) return nullptr;
        // Cached reads (where direct ones are refused) read only the block
        // asked for: read-ahead would fetch the rest of the file inside the
        // timed read.
        ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_RANDOM);
        TDirectAlign align;
        TUniqueFd direct(
            ::openat(dir.Get(), name.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC | O_NOFOLLOW));
        struct stat ds {};
        if (direct.Valid() && (::fstat(direct.Get(), &ds) != 0 || !SameFile(ds, st) ||
                               !DirectAlignment(direct.Get(), align)))
            direct.Reset();
        return std::make_unique<TPosixFile>(std::move(fd), path, std::move(dir), std::move(name),
                                            std::move(direct), align);
    }

    std::unique_ptr<IFile> OpenReadOnly(const std::string& path) override {
        // Looked at before opening: opening a device can have effects of its
        // own, and a device or FIFO would never end a pass.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.Valid()) return nullptr;
        if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        if (!ClearNonBlocking(fd.Get())) return nullptr;
        return std::make_unique<TPosixFile>(std::move(fd), path);
    }
};

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

TPageBuffer::TPageBuffer(std::size_t size) {
    const std::size_t page = PageSize();
    const std::size_t rounded = (size + page - 1) / page * page;
    if (rounded == 0) return;
    void* p = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    Data_ = static_cast<std::uint8_t*>(p);
    Size_ = rounded;
}

TPageBuffer::~TPageBuffer() {
    if (Data_) ::munmap(Data_, Size_);
}

TPageBuffer::TPageBuffer(TPageBuffer&& other) noexcept : Data_(other.Data_), Size_(other.Size_) {
    other.Data_ = nullptr;
    other.Size_ = 0;
}

TPageBuffer& TPageBuffer::operator=(TPageBuffer&& other) noexcept {
    if (this != &other) {
        if (Data_) ::munmap(Data_, Size_);
        Data_ = other.Data_;
        Size_ = other.Size_;
        other.Data_ = nullptr;
        other.Size_ = 0;
    }
    return *this;
}

std::shared_ptr<IFileSystem> SystemFileSystem() {
    static const std::shared_ptr<IFileSystem> files = std::make_shared<TPosixFileSystem>();
    return files;
}

}  // namespace tarvik
