// The drive and read-only-file probes on real files in temporary
// directories, driven through the measuring thread; the file layer is
// wrapped where a test needs slow or failing transfers.
#include "engine/transfer_probe.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "engine/measuring_control.h"
#include "support/engine_harness.h"
#include "support/xfer_file_layer.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using test::TEngineHarness;
using test::TXferFileSystem;

class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarvik-xfer-XXXXXX").string();
        if (::mkdtemp(pattern.data())) Path_ = pattern;
    }
    ~TTempDir() {
        std::error_code ec;
        if (!Path_.empty()) fs::remove_all(Path_, ec);
    }
    const std::string& Path() const { return Path_; }
    std::string operator/(const std::string& name) const { return Path_ + "/" + name; }

  private:
    std::string Path_;
};

void WriteFile(const std::string& path, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7));
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// One window side with the transfer probes on a recording file layer.
struct TRig {
    TEngineHarness H;
    TMeasuringControl Control{H.Table, H.Sync, H.Clock, {0, 0, 2000, 0}};
    std::shared_ptr<TXferFileSystem> Files = std::make_shared<TXferFileSystem>(H.Clock);

    TRig() {
        H.Ctx->Probes = [files = Files](char kind, TPingThread&) {
            return MakeTransferProbe(kind, files);
        };
    }
    std::shared_ptr<TPingThread> Add(const std::string& kind, const std::string& address,
                                     bool autoSize = true, int testSize = 0) {
        auto t = H.AddResource(kind, 1000, address);
        H.Table.SetCell(colAutoSize, t->Row, autoSize ? "1" : "0");
        H.Table.SetCell(colTestSize, t->Row, std::to_string(testSize));
        t->LoadSettings();
        return t;
    }
    bool Cycles(const std::shared_ptr<TPingThread>& t, std::uint64_t n) {
        return H.PumpUntil([&] { return t->CycleCount() == n && t->IsParked(); });
    }
    // One activation tick a whole interval later; waits for the cycle it starts.
    bool Tick(const std::shared_ptr<TPingThread>& t) {
        const auto before = t->CycleCount();
        H.Clock.Advance(1000);
        Control.Activate();
        return Cycles(t, before + 1);
    }
    void Edit(const std::shared_ptr<TPingThread>& t, int col, const std::string& value) {
        H.Table.SetCell(col, t->Row, value);
        t->LoadSettings();
        t->Resume();
    }
};

using TSizes = std::vector<std::size_t>;

TEST(TestFileName, OneSeparatorBeforeTheName) {
    TTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    for (const std::string& address : {dir.Path(), dir.Path() + "/"}) {
        EXPECT_EQ(TestFileNameFor(address), dir / "DRV.TST") << address;
        TDriveProbe probe(SystemFileSystem());
        ASSERT_TRUE(probe.OpenTestFile(address)) << address;
        EXPECT_EQ(probe.TestFileName(), dir / "DRV.TST");
        EXPECT_TRUE(fs::exists(dir / "DRV.TST"));
        probe.CloseTestFile();
        EXPECT_FALSE(fs::exists(dir / "DRV.TST"));
    }
    // An empty address must not put a test file into the root directory.
    TDriveProbe probe(SystemFileSystem());
    EXPECT_FALSE(probe.OpenTestFile(""));
}

TEST(SystemFileSystem, CreatingTheTestFileNeverClobbersAnotherFile) {
    TTempDir dir;
    auto files = SystemFileSystem();
    const std::string name = dir / "DRV.TST";

    // Held by another measuring thread (same directory): not opened, not emptied.
    auto first = files->CreateExclusive(name);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->WriteAll("abc", 3));
    EXPECT_EQ(files->CreateExclusive(name), nullptr);
    EXPECT_EQ(fs::file_size(name), 3u);
    first.reset();
    EXPECT_NE(files->CreateExclusive(name), nullptr);  // free again
    EXPECT_EQ(fs::file_size(name), 0u);

    // A symbolic link under the test file name is not followed.
    const std::string precious = dir / "precious.txt";
    std::ofstream(precious) << "user data";
    fs::remove(name);
    fs::create_symlink(precious, name);
    EXPECT_EQ(files->CreateExclusive(name), nullptr);
    EXPECT_EQ(ReadText(precious), "user data");

    EXPECT_NE(files->OpenReadOnly(precious), nullptr);
}

// Only a regular file can be read through: a device or a FIFO would never end
// a pass (or block it), a directory or socket cannot be read at all.
TEST(SystemFileSystem, ReadOnlyFileMustBeARegularFile) {
    TTempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = dir / "socket";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    for (const std::string& path :
         {std::string("/dev/zero"), fifo, socketPath, dir.Path(), dir / "missing"})
        EXPECT_EQ(SystemFileSystem()->OpenReadOnly(path), nullptr) << path;
    ::close(sock);

    // Measured, /dev/zero is an I/O error at once instead of an endless read.
    TRig rig;
    auto t = rig.Add("2", "/dev/zero");
    rig.Control.Start();
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Halted && t->IsParked(); }));
    EXPECT_EQ(rig.H.Table.Cell(colReadText, 1), "I/O error.");
    EXPECT_TRUE(rig.Files->ReadRequests().empty());
}

TEST(TransferProbe, AutoSizeGrowsTheWriteBlockFirstAndTheReadBlockUpToIt) {
    TTempDir dir;
    TRig rig;
    // Fast writes for 5 cycles, then 20 ms (no change); reads fast except
    // cycles 3 and 4.
    rig.Files->WriteMs = [](int call) { return call < 5 ? 1u : 20u; };
    rig.Files->ReadMs = [](int call) { return call == 3 || call == 4 ? 20u : 1u; };
    auto t = rig.Add("1", dir.Path());
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    // 1 KB in 1 ms each way.
    EXPECT_EQ(rig.H.Table.Cell(colWriteText, 1), "  1000.00 KBps");
    EXPECT_EQ(rig.H.Table.Cell(colReadText, 1), "  1000.00 KBps");
    for (int i = 1; i < 8; ++i) ASSERT_TRUE(rig.Tick(t)) << i;
    EXPECT_EQ(rig.Files->WriteSizes(), (TSizes{1024, 2048, 3072, 4096, 5120, 6144, 6144, 6144}));
    EXPECT_EQ(rig.Files->ReadRequests(), (TSizes{1024, 2048, 3072, 4096, 4096, 4096, 5120, 6144}));
    EXPECT_EQ(t->CyclePriority, TPriority::BelowNormal);
    // 4 KB written in 1 ms in cycle 3.
    EXPECT_DOUBLE_EQ(t->Results().WriteHistory[100 - 4], 4000);
}

TEST(TransferProbe, AutoSizeShrinksToTheFloorAndGrowsToTheBufferSize) {
    struct TCase {
        int Start;
        std::uint32_t Ms;
        TSizes Expected;
    };
    const TCase cases[] = {
        // Slow drive: 1024 per cycle, never below 10240 even off the 1 KB grid.
        {12000, 50, {12000, 12000, 10976, 10240, 10240}},
        // Fast drive near the top: the last step stops at the buffer size.
        {649900, 1, {649900, 649900, 650000, 650000}},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TRig rig;
        rig.Files->WriteMs = [&](int call) { return call == 0 ? 1u : c.Ms; };
        rig.Files->ReadMs = rig.Files->WriteMs;
        // A first pass with the fixed size sets the blocks; they survive
        // the restart into automatic sizing.
        auto t = rig.Add("1", dir.Path(), false, c.Start);
        rig.Control.Start();
        ASSERT_TRUE(rig.Cycles(t, 1));
        rig.Edit(t, colAutoSize, "1");
        ASSERT_TRUE(rig.Cycles(t, 2));
        while (rig.Files->WriteSizes().size() < c.Expected.size()) ASSERT_TRUE(rig.Tick(t));
        EXPECT_EQ(rig.Files->WriteSizes(), c.Expected) << c.Start;
        EXPECT_EQ(rig.Files->ReadRequests(), c.Expected) << c.Start;
    }
}

TEST(TransferProbe, FixedBlockSizeWithinTheBuffer) {
    struct TCase {
        int TestSize;
        std::size_t Block;
        double Speed;  // whole kilobytes in 2 ms
    };
    const TCase cases[] = {
        {5000, 5000, 2000},
        {1536, 1536, 500},  // counts as 1 KB
        {-7, 0, 0},
        {99999999, 650000, 317000},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TRig rig;
        rig.Files->WriteMs = [](int) { return 2u; };  // fast: automatic sizing would grow
        rig.Files->ReadMs = rig.Files->WriteMs;
        auto t = rig.Add("1", dir.Path(), false, c.TestSize);
        rig.Control.Start();
        ASSERT_TRUE(rig.Cycles(t, 1));
        ASSERT_TRUE(rig.Tick(t));
        ASSERT_TRUE(rig.Tick(t));
        EXPECT_EQ(rig.Files->WriteSizes(), TSizes(3, c.Block)) << c.TestSize;
        EXPECT_EQ(rig.Files->ReadRequests(), TSizes(3, c.Block)) << c.TestSize;
        EXPECT_EQ(t->WriteBlock, static_cast<std::int32_t>(c.Block));
        EXPECT_DOUBLE_EQ(t->Results().WriteSpeed, c.Speed) << c.TestSize;
        EXPECT_DOUBLE_EQ(t->Results().ReadSpeed, c.Speed) << c.TestSize;
        // The first write lands at 0, each later one where the read of the
        // first block stopped.
        EXPECT_EQ(fs::file_size(dir / "DRV.TST"), 2 * c.Block) << c.TestSize;
    }
}

TEST(TransferProbe, MissingResourceShowsIoErrorAndStaysHaltedUntilStartOrEdit) {
    struct TCase {
        const char* Kind;
        const char* Name;
        int Column;
        bool ByStart;  // recovered by Start, else by an edit
    };
    const TCase cases[] = {
        {"1", "missing-dir", colWriteText, true},
        {"2", "missing.bin", colReadText, false},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TRig rig;
        const std::string address = dir / c.Name;
        auto t = rig.Add(c.Kind, address);
        rig.Control.Start();
        ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Halted && t->IsParked(); })) << c.Kind;
        EXPECT_EQ(rig.H.Table.Cell(c.Column, 1), "I/O error.") << c.Kind;
        for (int i = 0; i < 40; ++i) {
            rig.H.Clock.Advance(50);
            rig.Control.Activate();
        }
        rig.H.Sync->RunPending();
        EXPECT_TRUE(t->IsParked());
        EXPECT_TRUE(t->Halted);
        EXPECT_EQ(t->CycleCount(), 0u) << c.Kind;

        if (c.Kind[0] == '1')
            fs::create_directory(address);
        else
            WriteFile(address, 1000);
        if (c.ByStart) {
            rig.Control.Stop();
            rig.Control.Start();
        } else {
            rig.Edit(t, colInterval, "1000");
        }
        // The halted cycle ends, the loop starts over and measures.
        ASSERT_TRUE(rig.Cycles(t, 2)) << c.Kind;
        EXPECT_FALSE(t->Halted);
        EXPECT_EQ(rig.H.Table.Cell(c.Column, 1), "     0.00 KBps") << c.Kind;
    }
}

TEST(TransferProbe, ReadOnlyFileIsReadThroughInFullBlocks) {
    struct TCase {
        std::size_t Size;
        int FailEvery;                    // reads with an odd call number fail when 2
        std::vector<std::int64_t> Reads;  // one pass
        std::int64_t Total;
        const char* Shown;  // reads of 10 ms each
    };
    const TCase cases[] = {
        // Fractions of a kilobyte count: 100000 bytes in 20 ms.
        {100000, 0, {64512, 35488}, 100000, "  4882.81 KBps"},
        {2 * 64512, 0, {64512, 64512, 0}, 2 * 64512, "  4200.00 KBps"},
        {0, 0, {0}, 0, "     0.00 KBps"},
        // A failing read ends the pass with what it read; no I/O error.
        {200000, 2, {64512, -1}, 64512, "  3150.00 KBps"},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TRig rig;
        WriteFile(dir / "data.bin", c.Size);
        rig.Files->ReadMs = [](int) { return 10u; };
        if (c.FailEvery) rig.Files->FailRead = [](int call) { return call % 2 == 1; };
        auto t = rig.Add("2", dir / "data.bin");
        rig.Control.Start();
        ASSERT_TRUE(rig.Cycles(t, 1));
        ASSERT_TRUE(rig.Tick(t));  // the second pass reads from the start again
        std::vector<std::int64_t> twice = c.Reads;
        twice.insert(twice.end(), c.Reads.begin(), c.Reads.end());
        EXPECT_EQ(rig.Files->ReadResults(), twice) << c.Size;
        EXPECT_EQ(rig.Files->ReadRequests(), TSizes(twice.size(), 64512)) << c.Size;
        const double expected =
            (static_cast<double>(c.Total) / 1024 * 1e6) / (10000.0 * c.Reads.size());
        EXPECT_DOUBLE_EQ(t->Results().ReadHistory[99], expected) << c.Size;
        EXPECT_DOUBLE_EQ(t->Results().ReadSpeed, expected) << c.Size;
        EXPECT_EQ(rig.H.Table.Cell(colReadText, 1), c.Shown);
        EXPECT_FALSE(t->Halted);
        EXPECT_EQ(t->CyclePriority, TPriority::AboveNormal);
    }
}

TEST(TransferProbe, StopEndsALongReadEarly) {
    TTempDir dir;
    TRig rig;
    WriteFile(dir / "big.bin", 10 * 64512);
    rig.Files->ReadMs = [](int) { return 100u; };
    auto t = rig.Add("2", dir / "big.bin");
    // The user presses Stop while the third block is being read.
    rig.Files->AfterRead = [&t](int call) {
        if (call == 2) t->RequestStop();
    };
    rig.Control.Start();
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->CycleCount() == 1; }));
    // Held before the next cycle while stopped: once the thread waits, no
    // further reads came.
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->IsWaiting(); }));
    EXPECT_EQ(t->CycleCount(), 1u);
    EXPECT_EQ(rig.Files->ReadResults(), (std::vector<std::int64_t>{64512, 64512, 64512}));
    // 189 KB in 300 ms.
    EXPECT_DOUBLE_EQ(t->Results().ReadSpeed, 630);
}

TEST(TransferProbe, TestFileIsDeletedAtTheEndOfTheLoopAndWithTheThread) {
    TTempDir a, b;
    TRig rig;
    auto t = rig.Add("1", a.Path());
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    EXPECT_TRUE(fs::exists(a / "DRV.TST"));
    rig.Edit(t, colAddress, b.Path());
    ASSERT_TRUE(rig.Cycles(t, 2));
    EXPECT_FALSE(fs::exists(a / "DRV.TST"));
    EXPECT_TRUE(fs::exists(b / "DRV.TST"));
    rig.Control.DestroyRow(1);
    EXPECT_FALSE(fs::exists(b / "DRV.TST"));
}

TEST(TransferProbe, FailedWriteReleasesTheTestFile) {
    TTempDir dir;
    TRig rig;
    rig.Files->FailWrite = [](int call) { return call == 1; };
    auto t = rig.Add("1", dir.Path(), false, 4096);
    const int idle = OpenDescriptors();
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    const int open = OpenDescriptors();  // the test file's among them
    ASSERT_GT(open, idle);
    ASSERT_TRUE(fs::exists(dir / "DRV.TST"));

    rig.H.Clock.Advance(1000);
    rig.Control.Activate();
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Halted && t->IsParked(); }));
    EXPECT_EQ(rig.H.Table.Cell(colWriteText, 1), "I/O error.");
    EXPECT_EQ(OpenDescriptors(), idle);
    EXPECT_FALSE(fs::exists(dir / "DRV.TST"));

    // Start opens a fresh test file; nothing of the failed one is still held.
    rig.Control.Stop();
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 3));
    EXPECT_FALSE(t->Halted);
    EXPECT_EQ(OpenDescriptors(), open);
    EXPECT_TRUE(fs::exists(dir / "DRV.TST"));
}

// The timed sections hold exactly the transfer, at CyclePriority: the sync is
// inside the timed write (it takes 10 ms of fake time), the cache is dropped
// outside both (50 ms that no speed shows), after the sync and before the
// read, and for a read-only file before every pass.
TEST(TransferProbe, TimedSectionsHoldTheTransferAtCyclePriority) {
    struct TCase {
        const char* Kind;
        std::vector<std::string> Pass;  // calls of one cycle, with the priority
        double Write, Read;             // KBps
    };
    const TCase cases[] = {
        // 4 KB: synced in 10 ms, read in 2 ms.
        {"1", {"check@1", "write@2", "sync@2", "drop@1", "seek@1", "read@2"}, 400, 2000},
        // 100000 bytes in two reads of 2 ms.
        {"2", {"check@1", "drop@1", "seek@1", "read@4", "read@4"}, 0, 100000 / 1024.0 / 0.004},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        TRig rig;
        WriteFile(dir / "data.bin", 100000);
        rig.Files->SyncMs = [](int) { return 10u; };
        rig.Files->DropMs = [](int) { return 50u; };
        rig.Files->ReadMs = [](int) { return 2u; };
        const bool drive = c.Kind[0] == '1';
        auto t = rig.Add(c.Kind, drive ? dir.Path() : dir / "data.bin", false, 4096);
        std::vector<std::string> calls;  // the measuring thread's, read once it is parked
        rig.Files->OnCall = [&](const std::string& op) {
            if (op != "create" && op != "open")
                calls.push_back(op + "@" + std::to_string(static_cast<int>(t->PriorityLevel())));
        };
        rig.Control.Start();
        ASSERT_TRUE(rig.Cycles(t, 1));
        ASSERT_TRUE(rig.Tick(t));
        std::vector<std::string> twice = c.Pass;
        twice.insert(twice.end(), c.Pass.begin(), c.Pass.end());
        EXPECT_EQ(calls, twice) << c.Kind;
        EXPECT_DOUBLE_EQ(t->Results().WriteSpeed, c.Write) << c.Kind;
        EXPECT_DOUBLE_EQ(t->Results().ReadSpeed, c.Read) << c.Kind;
        // The thread closes its file after t and calls are gone.
        rig.Files->OnCall = [](const std::string&) {};
    }
}

TEST(TransferProbe, ReadBlockNeverGrowsPastTheWriteBlock) {
    TTempDir dir;
    TRig rig;
    rig.Files->WriteMs = [](int) { return 20u; };  // neither grows nor shrinks
    rig.Files->ReadMs = [](int) { return 1u; };    // fast enough to grow
    auto t = rig.Add("1", dir.Path());
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rig.Tick(t));
    EXPECT_EQ(rig.Files->ReadRequests(), TSizes(4, 1024));
    EXPECT_EQ(t->ReadBlock, 1024);
}

// Every cycle writes from a different place of the random block: nothing a
// file system could compress or recognise from the cycle before.
TEST(TransferProbe, WrittenDataIsIncompressibleAndChangesEachCycle) {
    TTempDir dir;
    TRig rig;
    auto t = rig.Add("1", dir.Path(), false, 65536);
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    ASSERT_TRUE(rig.Tick(t));
    const std::string data = ReadText(dir / "DRV.TST");
    ASSERT_EQ(data.size(), 2u * 65536);
    std::set<std::string> words;
    for (std::size_t i = 0; i < data.size(); i += 8) words.insert(data.substr(i, 8));
    EXPECT_EQ(words.size(), data.size() / 8);  // no 8-byte word repeats
}

// A directory removed or renamed under a running resource is an I/O error at
// the next cycle, and no test file stays behind in the renamed directory.
// Start begins again at the path.
TEST(TransferProbe, TestFileThatLeftItsPathIsAnIoError) {
    enum TAction { RemoveDir, RenameDir, ReplaceFile };
    for (const TAction action : {RemoveDir, RenameDir, ReplaceFile}) {
        TTempDir root;
        const std::string dir = root / "share";
        const std::string moved = root / "moved";
        fs::create_directory(dir);
        TRig rig;
        auto t = rig.Add("1", dir, false, 4096);
        rig.Control.Start();
        ASSERT_TRUE(rig.Cycles(t, 1));
        if (action == RemoveDir) fs::remove_all(dir);
        if (action == RenameDir) fs::rename(dir, moved);
        if (action == ReplaceFile) {
            // Someone else's file under the name now: it must be left alone.
            fs::remove(dir + "/DRV.TST");
            std::ofstream(dir + "/DRV.TST") << "theirs";
        }
        rig.H.Clock.Advance(1000);
        rig.Control.Activate();
        ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Halted && t->IsParked(); })) << action;
        EXPECT_EQ(rig.H.Table.Cell(colWriteText, 1), "I/O error.") << action;
        EXPECT_EQ(rig.Files->WriteSizes().size(), 1u) << action;
        EXPECT_FALSE(fs::exists(moved + "/DRV.TST")) << action;
        if (action == ReplaceFile) {
            EXPECT_EQ(ReadText(dir + "/DRV.TST"), "theirs");
        }

        fs::create_directories(dir);
        rig.Control.Stop();
        rig.Control.Start();
        // The halted cycle ends, the new pass measures at the path.
        ASSERT_TRUE(rig.Cycles(t, 3)) << action;
        EXPECT_FALSE(t->Halted);
        EXPECT_EQ(fs::file_size(dir + "/DRV.TST"), 4096u) << action;
    }
}

// A read-only file deleted or replaced is not read through its old
// descriptor: a replacement is measured, a deleted file is an I/O error.
TEST(TransferProbe, ReadOnlyFileIsReadAtItsPathEachPass) {
    TTempDir dir;
    TRig rig;
    rig.Files->ReadMs = [](int) { return 10u; };
    const std::string file = dir / "data.bin";
    WriteFile(file, 1000);
    auto t = rig.Add("2", file);
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    fs::remove(file);
    WriteFile(file, 3000);
    ASSERT_TRUE(rig.Tick(t));
    EXPECT_EQ(rig.Files->ReadResults(), (std::vector<std::int64_t>{1000, 3000}));
    fs::remove(file);
    rig.H.Clock.Advance(1000);
    rig.Control.Activate();
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Halted && t->IsParked(); }));
    EXPECT_EQ(rig.H.Table.Cell(colReadText, 1), "I/O error.");
}

// The test file is closed before it is deleted, and a delete that fails is
// tried again: at the next cycle, and when the probe closes.
TEST(TransferProbe, TestFileIsClosedThenDeletedAndADeleteIsRetried) {
    TTempDir a, b;
    TRig rig;
    rig.Files->RefuseRemoveWhileOpen = true;
    // Read-only for a while: the first three deletes fail (leaving a's loop,
    // its retry, and opening b's file); the first cycle in b deletes it.
    rig.Files->FailRemove = [](int call) { return call < 3; };
    auto t = rig.Add("1", a.Path());
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    rig.Edit(t, colAddress, b.Path());
    ASSERT_TRUE(rig.Cycles(t, 2));
    EXPECT_FALSE(fs::exists(a / "DRV.TST"));
    ASSERT_TRUE(fs::exists(b / "DRV.TST"));

    // At the close: the first attempt fails, the retry deletes it.
    rig.Files->ClearRecords();
    rig.Files->FailRemove = [](int call) { return call == 0; };
    rig.Control.DestroyRow(1);
    EXPECT_FALSE(fs::exists(b / "DRV.TST"));
    EXPECT_EQ(rig.Files->Calls(), (std::vector<std::string>{"close", "remove", "remove"}));
}

// A thread left behind in a hung write deletes its test file when the call
// returns.
TEST(TransferProbe, HungWriteLeftBehindDeletesItsTestFileWhenItReturns) {
    TTempDir dir;
    TRig rig;
    std::mutex m;
    std::condition_variable cv;
    bool hung = false, released = false;
    rig.Files->WriteMs = [&](int call) {
        if (call == 1) {
            std::unique_lock lock(m);
            hung = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released; });
        }
        return 0u;
    };
    auto t = rig.Add("1", dir.Path());
    rig.Control.Start();
    ASSERT_TRUE(rig.Cycles(t, 1));
    rig.H.Clock.Advance(1000);
    rig.Control.Activate();
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return hung; }));
    }
    rig.H.Sync->Release();
    EXPECT_FALSE(t->Destroy(50));  // left behind
    EXPECT_TRUE(fs::exists(dir / "DRV.TST"));
    {
        std::lock_guard lock(m);
        released = true;
    }
    cv.notify_all();
    ASSERT_TRUE(rig.H.PumpUntil([&] { return t->Finished(); }));
    EXPECT_FALSE(fs::exists(dir / "DRV.TST"));
}

}  // namespace
}  // namespace tarvik
