// Linux file layer of the transfer probe: POSIX descriptors held in RAII
// objects, sharing denied through flock, honest timing through fdatasync and
// posix_fadvise.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

class TPosixFile final : public IFile {
  public:
    explicit TPosixFile(TUniqueFd fd) : Fd_(std::move(fd)) {}

    bool WriteAll(const void* data, std::size_t n) override {
        auto p = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t done = ::write(Fd_.Get(), p, n);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return false;
            p += done;
            n -= static_cast<std::size_t>(done);
        }
        return true;
    }

    std::int64_t Read(void* data, std::size_t n) override {
        auto p = static_cast<char*>(data);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t done = ::read(Fd_.Get(), p + got, n - got);
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) return got > 0 ? static_cast<std::int64_t>(got) : -1;
            if (done == 0) break;
            got += static_cast<std::size_t>(done);
        }
        return static_cast<std::int64_t>(got);
    }

    bool Seek(std::int64_t offset) override {
        return ::lseek(Fd_.Get(), static_cast<off_t>(offset), SEEK_SET) == offset;
    }

    bool SyncData() override { return ::fdatasync(Fd_.Get()) == 0; }

    int DropCache() override { return ::posix_fadvise(Fd_.Get(), 0, 0, POSIX_FADV_DONTNEED); }

  private:
    TUniqueFd Fd_;
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
        // No O_TRUNC here: the file is emptied only once the lock is ours, so
        // a test file that another measuring thread or program holds keeps
        // its data. O_NOFOLLOW keeps a planted symbolic link from redirecting
        // the truncation onto some other file.
        TUniqueFd fd(
            ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
        if (!fd.Valid()) return nullptr;
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            // Some network file systems cannot lock at all; only a lock that
            // someone else holds means "not open".
            if (errno == EWOULDBLOCK || errno == EINTR) return nullptr;
        }
        if (::ftruncate(fd.Get(), 0) != 0 || !ClearNonBlocking(fd.Get())) return nullptr;
        return std::make_unique<TPosixFile>(std::move(fd));
    }

    std::unique_ptr<IFile> OpenReadOnly(const std::string& path) override {
        TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.Valid()) return nullptr;
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
        if (!ClearNonBlocking(fd.Get())) return nullptr;
        return std::make_unique<TPosixFile>(std::move(fd));
    }

    bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }
};

}  // namespace

std::shared_ptr<IFileSystem> SystemFileSystem() {
    static const std::shared_ptr<IFileSystem> files = std::make_shared<TPosixFileSystem>();
    return files;
}

}  // namespace tarvik
