// The transfer-speed probes: a network-drive directory (kind "1"), measured by
// writing a test file of its own and reading it back, and a read-only file
// (kind "2"), measured by reading it through once per cycle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ping_thread.h"
#include "platform/file_io.h"

namespace tarvik {

// Block sizes of the drive probe stay within the transfer buffer; automatic
// shrinking stops at MinShrinkBlock.
constexpr std::int32_t MaxTransferBlock =
    static_cast<std::int32_t>(TPingThread::TransferBufferSize);
constexpr std::int32_t MinShrinkBlock = 10240;
constexpr std::int32_t BlockStep = 1024;
// Bytes per read of the read-only file.
constexpr std::int32_t FileReadBlock = 64512;

// The drive test file of a directory: "DRV.TST" after one "/".
std::string TestFileNameFor(const std::string& directory);

// The source of every drive probe's writes: one immutable block of
// pseudo-random bytes, made at its first use and shared by all threads, so
// that compressing or deduplicating file systems cannot inflate the figures.
// It holds MaxTransferBlock bytes from each of TransferSourceOffsets
// starting points; a probe moves to the next one every cycle. The points lie
// an odd number of bytes apart, so that a block a cycle writes never matches,
// on any block boundary, a block written by the cycle before.
constexpr int TransferSourceOffsets = 16;
constexpr std::size_t TransferSourceStep = 1031;
const std::uint8_t* TransferSource();

class TDriveProbe final : public TProbe {
  public:
    explicit TDriveProbe(std::shared_ptr<IFileSystem> files);
    ~TDriveProbe() override;

    void RunLoop(TPingThread& t) override;
    void Close(TPingThread& t) override;

    // Closes and deletes a previous test file, then creates the one of the
    // directory. Returns whether it is open.
    bool OpenTestFile(const std::string& directory);
    // Closes the test file when it is open, then deletes it; a file that
    // cannot be deleted now is tried again at the next cycle and at close.
    void CloseTestFile();
    bool FileIsOpen() const { return TestFile_ != nullptr; }
    const std::string& TestFileName() const { return TestFileName_; }

  private:
    // The transfer steps of one cycle; an I/O failure ends them early.
    void Transfer(TPingThread& t);
    void Fail(TPingThread& t);
    // Tries again to delete the test files whose deletion failed.
    void RemoveLeftovers();

    std::shared_ptr<IFileSystem> Files_;
    std::string TestFileName_;
    std::unique_ptr<IFile> TestFile_;
    // Closed test files still to be deleted (read-only or busy file system).
    std::vector<std::unique_ptr<IFile>> Leftovers_;
    // Target of the reads, sized for the largest block; made by the first
    // loop, and resident only as far as the reads reach.
    TPageBuffer ReadBuffer_;
    int SourceOffset_ = 0;
};

class TFileProbe final : public TProbe {
  public:
    explicit TFileProbe(std::shared_ptr<IFileSystem> files);

    void RunLoop(TPingThread& t) override;
    void Close(TPingThread& t) override;

    bool OpenReadFile(const std::string& path);
    void CloseReadFile();
    bool FileIsOpen() const { return ReadFile_ != nullptr; }

  private:
    void Transfer(TPingThread& t);
    void Fail(TPingThread& t);

    std::shared_ptr<IFileSystem> Files_;
    std::unique_ptr<IFile> ReadFile_;
    TPageBuffer DataBuffer_;  // FileReadBlock bytes, made by the first loop
};

std::unique_ptr<TProbe> MakeDriveProbe(std::shared_ptr<IFileSystem> files = SystemFileSystem());
std::unique_ptr<TProbe> MakeFileProbe(std::shared_ptr<IFileSystem> files = SystemFileSystem());
// The probe of kind '1' or '2'; null for any other kind.
std::unique_ptr<TProbe> MakeTransferProbe(char kind,
                                          std::shared_ptr<IFileSystem> files = SystemFileSystem());

}  // namespace tarvik
