// Cycle loops of the drive and read-only-file probes. Everything a cycle
// needs is set up at the start of the loop, so a cycle allocates nothing.
#include "engine/transfer_probe.h"

#include "engine/xorshift.h"

#include <algorithm>

namespace tarvik {
namespace {

// Automatic adaptation keeps a block below 10 ms growing and one above
// 40 ms shrinking.
constexpr std::int64_t FastUs = 10000;
constexpr std::int64_t SlowUs = 40000;

std::int32_t ClampBlock(std::int32_t size) { return std::clamp(size, 0, MaxTransferBlock); }

// Speed in KBps of kilobytes moved in us microseconds; 0 when untimed.
double Speed(double kilobytes, std::int64_t us) {
    return us == 0 ? 0.0 : kilobytes * 1000000.0 / static_cast<double>(us);
}

// Whole kilobytes of a block: a 1536-byte block counts as 1 KB.
double WholeKilobytes(std::int32_t block) { return static_cast<double>(block / 1024); }

constexpr std::size_t TransferSourceSize =
    MaxTransferBlock + (TransferSourceOffsets - 1) * TransferSourceStep;

// Test files whose deletion keeps failing are given up beyond this many.
constexpr std::size_t MaxLeftovers = 16;

}  // namespace

const std::uint8_t* TransferSource() {
    static const std::unique_ptr<std::uint8_t[]> block = [] {
        auto p = std::make_unique<std::uint8_t[]>(TransferSourceSize);
        std::uint64_t x = 0x9E3779B97F4A7C15ULL;
        for (std::size_t i = 0; i < TransferSourceSize; i += 8) {
            const std::uint64_t v = NextXorShift64Star(x);
            for (std::size_t k = 0; k < 8 && i + k < TransferSourceSize; ++k)
                p[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
        }
        return p;
    }();
    return block.get();
}

std::string TestFileNameFor(const std::string& directory) {
    std::string name = directory;
    if (name.empty() || name.back() != '/') name += '/';
    name += "DRV.TST";
    return name;
}

// ---- drive directory ----------------------------------------------------

TDriveProbe::TDriveProbe(std::shared_ptr<IFileSystem> files) : Files_(std::move(files)) {}

TDriveProbe::~TDriveProbe() { CloseTestFile(); }

bool TDriveProbe::OpenTestFile(const std::string& directory) {
    CloseTestFile();
    TestFileName_ = TestFileNameFor(directory);
    // An empty address would put the test file into the root directory.
    if (!directory.empty()) TestFile_ = Files_->CreateExclusive(TestFileName_);
    return FileIsOpen();
}

void TDriveProbe::CloseTestFile() {
    if (TestFile_) {
        // Closed before it is deleted: some file systems refuse to delete
        // an open file, and NFS would leave it behind under a new name.
        TestFile_->Close();
        if (!TestFile_->Remove()) {
            if (Leftovers_.size() >= MaxLeftovers) Leftovers_.erase(Leftovers_.begin());
            Leftovers_.push_back(std::move(TestFile_));
        }
        TestFile_.reset();
    }
    RemoveLeftovers();
}

void TDriveProbe::RemoveLeftovers() {
    std::erase_if(Leftovers_, [](const std::unique_ptr<IFile>& f) { return f->Remove(); });
}

void TDriveProbe::Close(TPingThread&) { CloseTestFile(); }

void TDriveProbe::RunLoop(TPingThread& t) {
    if (ReadBuffer_.Empty()) ReadBuffer_ = TPageBuffer(MaxTransferBlock);
    OpenTestFile(t.Address);
    t.CyclePriority = TPriority::BelowNormal;
    if (!t.AutoSize) {
        t.WriteBlock = t.ReadBlock = ClampBlock(t.TestSize);
    } else {
        t.WriteBlock = ClampBlock(t.WriteBlock);
        t.ReadBlock = ClampBlock(t.ReadBlock);
    }
    do {
        if (!t.BeginCycle()) break;
        Transfer(t);
        t.EndCycle();
    } while (!t.Restart);
    CloseTestFile();
}

void TDriveProbe::Fail(TPingThread& t) {
    // The failed file is released at once, so that the next loop's
    // OpenTestFile starts from a clean directory.
    CloseTestFile();
    t.FailIo();
}

void TDriveProbe::Transfer(TPingThread& t) {
    RemoveLeftovers();
    if (!TestFile_ || ReadBuffer_.Empty()) return Fail(t);
    IFile& file = *TestFile_;
    // A directory that was removed or renamed must not go on showing the
    // speeds of a file that is no longer there.
    if (!file.StillAtPath()) return Fail(t);
    const std::uint8_t* const source =
        TransferSource() + static_cast<std::size_t>(SourceOffset_) * TransferSourceStep;
    SourceOffset_ = (SourceOffset_ + 1) % TransferSourceOffsets;
    std::uint8_t* const buffer = ReadBuffer_.Data();
    const auto writeBlock = static_cast<std::size_t>(t.WriteBlock);
    const auto readBlock = static_cast<std::size_t>(t.ReadBlock);

    // The write continues where the previous read stopped. It counts only
    // once the data has reached the drive, not the page cache.
    bool written = false;
    const std::int64_t w =
        t.TimedTransfer([&] { written = file.WriteAll(source, writeBlock) && file.SyncData(); });
    if (!written) return Fail(t);
    t.WriteSpeed = Speed(WholeKilobytes(t.WriteBlock), w);
    t.AddSample(t.WriteHistory, t.WriteSpeed);

    // The pages are clean after the sync: dropping them makes the read come
    // from the drive also where it cannot bypass the cache. A file system
    // that can do neither still measures.
    file.DropCache();
    if (!file.Seek(0)) return Fail(t);
    std::int64_t got = 0;
    const std::int64_t r = t.TimedTransfer([&] { got = file.Read(buffer, readBlock); });
    if (got < 0) return Fail(t);
    // A short read counts the requested size, as a full one does.
    t.ReadSpeed = Speed(WholeKilobytes(t.ReadBlock), r);
    t.AddSample(t.ReadHistory, t.ReadSpeed);

    t.UpdateLevelReference(t.ReadSpeed);
    t.ShowResults();

    if (t.AutoSize) {
        if (w < FastUs && t.WriteBlock < MaxTransferBlock)
            t.WriteBlock = std::min(t.WriteBlock + BlockStep, MaxTransferBlock);
        if (r < FastUs && t.ReadBlock < MaxTransferBlock && t.ReadBlock < t.WriteBlock)
            t.ReadBlock = std::min(t.ReadBlock + BlockStep, MaxTransferBlock);
        if (w > SlowUs && t.WriteBlock > MinShrinkBlock)
            t.WriteBlock = std::max(t.WriteBlock - BlockStep, MinShrinkBlock);
        if (r > SlowUs && t.ReadBlock > MinShrinkBlock)
            t.ReadBlock = std::max(t.ReadBlock - BlockStep, MinShrinkBlock);
    }
    t.ApplyPriorityRule((w + r) / 2);
}

// ---- read-only file -------------------------------------------------------

TFileProbe::TFileProbe(std::shared_ptr<IFileSystem> files) : Files_(std::move(files)) {}

bool TFileProbe::OpenReadFile(const std::string& path) {
    CloseReadFile();
    ReadFile_ = Files_->OpenReadOnly(path);
    return FileIsOpen();
}

void TFileProbe::CloseReadFile() { ReadFile_.reset(); }

void TFileProbe::Close(TPingThread&) { CloseReadFile(); }

void TFileProbe::RunLoop(TPingThread& t) {
    if (DataBuffer_.Empty()) DataBuffer_ = TPageBuffer(FileReadBlock);
    OpenReadFile(t.Address);
    t.CyclePriority = TPriority::AboveNormal;
    do {
        if (!t.BeginCycle()) break;
        Transfer(t);
        t.EndCycle();
    } while (!t.Restart);
    CloseReadFile();
}

void TFileProbe::Fail(TPingThread& t) {
    CloseReadFile();
    t.FailIo();
}

void TFileProbe::Transfer(TPingThread& t) {
    // A file that was deleted or replaced is not measured through the old
    // descriptor: the pass reads what the path names now.
    if (ReadFile_ && !ReadFile_->StillAtPath()) OpenReadFile(t.Address);
    if (!ReadFile_ || DataBuffer_.Empty()) return Fail(t);
    IFile& file = *ReadFile_;
    std::uint8_t* const buffer = DataBuffer_.Data();

    // Without this a file read recently would be served from memory.
    file.DropCache();
    if (!file.Seek(0)) return Fail(t);
    std::int64_t total = 0;
    // A failing read is no I/O error here: it ends the pass with the bytes
    // read so far. Stop and close end a long pass early.
    const std::int64_t r = t.TimedTransfer([&] {
        for (;;) {
            const std::int64_t got = file.Read(buffer, FileReadBlock);
            if (got <= 0) break;
            total += got;
            if (got < FileReadBlock || t.StopRequested || t.Ending()) break;
        }
    });
    // Fractions of a kilobyte count here: the whole file is the block.
    t.ReadSpeed = Speed(static_cast<double>(total) / 1024.0, r);
    t.AddSample(t.ReadHistory, t.ReadSpeed);
    t.UpdateLevelReference(t.ReadSpeed);
    t.ShowResults();
    t.ApplyPriorityRule(r);
}

// ---- factories --------------------------------------------------------------

std::unique_ptr<TProbe> MakeDriveProbe(std::shared_ptr<IFileSystem> files) {
    return std::make_unique<TDriveProbe>(std::move(files));
}

std::unique_ptr<TProbe> MakeFileProbe(std::shared_ptr<IFileSystem> files) {
    return std::make_unique<TFileProbe>(std::move(files));
}

std::unique_ptr<TProbe> MakeTransferProbe(char kind, std::shared_ptr<IFileSystem> files) {
    switch (kind) {
        case '1':
            return MakeDriveProbe(std::move(files));
        case '2':
            return MakeFileProbe(std::move(files));
        default:
            return nullptr;
    }
}

}  // namespace tarvik
