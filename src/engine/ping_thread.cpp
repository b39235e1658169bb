#include "engine/ping_thread.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "engine/resource_table.h"
#include "engine/speed_text.h"
#include "engine/sync_caller.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

constexpr std::size_t MaxTextChars = 255;

// The first maxChars characters of a UTF-8 text, never cutting one in two.
// A character is a byte and the continuation bytes after it, at most four
// bytes in all, so text that is not valid UTF-8 is still cut within
// 4 * maxChars bytes.
std::string CutToCharacters(const std::string& text, std::size_t maxChars) {
    std::size_t chars = 0, i = 0;
    while (i < text.size()) {
        if (chars == maxChars) return text.substr(0, i);
        std::size_t next = i + 1;
        while (next < text.size() && next - i < 4 &&
               (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        i = next;
        ++chars;
    }
    return text;
}

int NiceFor(TPriority level) {
    switch (level) {
        case TPriority::Lowest: return 10;
        case TPriority::BelowNormal: return 5;
        case TPriority::Normal: return 0;
        case TPriority::AboveNormal: return -5;
        case TPriority::Highest: return -10;
    }
    return 0;
}

}  // namespace

std::int32_t ParseCellInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::shared_ptr<TPingThread> TPingThread::Create(int row, std::shared_ptr<TEngineContext> context) {
    std::shared_ptr<TPingThread> thread(new TPingThread(row, std::move(context)));
    thread->Start();
    return thread;
}

TPingThread::TPingThread(int row, std::shared_ptr<TEngineContext> context)
    : Row(row), Ctx_(std::move(context)) {
    WakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TPingThread::~TPingThread() {
    if (Thread_.joinable()) {
        // The last reference can be the worker's own, as it finishes.
        if (Thread_.get_id() == std::this_thread::get_id())
            Thread_.detach();
        else
            Thread_.join();
    }
    if (WakeFd_ >= 0) ::close(WakeFd_);
}

void TPingThread::Start() {
    Thread_ = std::thread([self = shared_from_this()] { self->Run(); });
}

// ---- window thread ------------------------------------------------------

void TPingThread::LoadSettings() {
    if (!Ctx_->Table) return;
    const TResourceTable& t = *Ctx_->Table;
    TSettings s;
    s.Address = CutToCharacters(t.Cell(colAddress, Row), MaxTextChars);
    s.Interval = ParseCellInt(t.Cell(colInterval, Row));
    s.AutoSize = t.Cell(colAutoSize, Row) == "1";
    s.TestSize = ParseCellInt(t.Cell(colTestSize, Row));
    s.Timeout = ParseCellInt(t.Cell(colTimeout, Row));
    const std::string& kind = t.Cell(colKind, Row);
    s.Kind = kind.empty() ? 0 : kind[0];
    {
        std::lock_guard lock(M_);
        s.ResetAddress = Pending_.ResetAddress || s.Address != LoadedAddress_;
        LoadedAddress_ = s.Address;
        Pending_ = std::move(s);
        ++SettingsGeneration_;
        Interval = Pending_.Interval;
        Restart = true;
        Halted = false;
    }
    Cv_.notify_all();
}

void TPingThread::ActivateIfDue() {
    if (Halted) return;
    const auto elapsed = static_cast<std::int64_t>(Clock().TickMs() - LastRunTick.load());
    if (elapsed < static_cast<std::int64_t>(Interval.load())) return;
    {
        // Halted is checked again with the count: a thread that halted
        // since the first look keeps its own suspension.
        std::lock_guard lock(M_);
        if (Halted || SuspendCount_ == 0) return;
        --SuspendCount_;
    }
    Cv_.notify_all();
}

void TPingThread::Suspend() {
    {
        std::lock_guard lock(M_);
        ++SuspendCount_;
    }
    // A thread holding while stopped goes on to park.
    Cv_.notify_all();
}

void TPingThread::Resume() {
    {
        std::lock_guard lock(M_);
        if (SuspendCount_ == 0) return;
        --SuspendCount_;
    }
    Cv_.notify_all();
}

void TPingThread::RequestStop() {
    std::lock_guard lock(M_);
    StopRequested = true;
}

void TPingThread::ClearStop() {
    {
        std::lock_guard lock(M_);
        StopRequested = false;
    }
    Cv_.notify_all();
}

void TPingThread::RequestTerminate() {
    {
        std::lock_guard lock(M_);
        TerminateRequested = true;
    }
    Cv_.notify_all();
    Wake();
}

void TPingThread::Wake() {
    if (WakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(WakeFd_, &one, sizeof one);
    }
}

bool TPingThread::Destroy(std::uint32_t graceMs) {
    BeginDestroy();
    return FinishDestroy(std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs));
}

void TPingThread::BeginDestroy() {
    {
        std::lock_guard lock(M_);
        Dying_ = true;
    }
    Cv_.notify_all();
    Wake();
}

bool TPingThread::FinishDestroy(std::chrono::steady_clock::time_point deadline) {
    bool finished;
    {
        std::unique_lock lock(M_);
        finished = Cv_.wait_until(lock, deadline, [&] { return Finished_; });
    }
    if (Thread_.joinable()) {
        if (finished)
            Thread_.join();
        else
            Thread_.detach();  // stuck in a kernel call: it holds its own reference
    }
    return finished;
}

TResultsSnapshot TPingThread::Results() const {
    std::lock_guard lock(ResultsM_);
    TResultsSnapshot s;
    s.WriteHistory = WriteHistory;
    s.ReadHistory = ReadHistory;
    s.PingHistory = PingHistory;
    s.WriteSpeed = WriteHistory[HistorySize];
    s.ReadSpeed = ReadHistory[HistorySize];
    s.PingSpeed = PingHistory[HistorySize];
    s.LevelReference = LevelReference;
    s.Echoes = EchoTotals_;
    s.LastRoundTripUs = EchoTotals_.PreviousRttUs;
    return s;
}

bool TPingThread::IsParked() const {
    std::lock_guard lock(M_);
    return Parked_;
}

bool TPingThread::WaitUntilParked(std::uint32_t ms) const {
    std::unique_lock lock(M_);
    return Cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return Parked_ || Finished_; });
}

bool TPingThread::Finished() const {
    std::lock_guard lock(M_);
    return Finished_;
}

// ---- run routine --------------------------------------------------------

void TPingThread::Run() {
    try {
        SafePoint();  // created suspended
        do {
            RunPass();
        } while (!TerminateRequested && !Dying_);
    } catch (const TThreadExit&) {
    }
    if (Probe_) {
        Probe_->Close(*this);
        Probe_.reset();
    }
    {
        std::lock_guard lock(M_);
        Finished_ = true;
        Parked_ = false;
    }
    Cv_.notify_all();
}

void TPingThread::TakeSettings() {
    std::lock_guard lock(M_);
    Address = Pending_.Address;
    Kind = Pending_.Kind;
    AutoSize = Pending_.AutoSize;
    TestSize = Pending_.TestSize;
    Timeout = Pending_.Timeout;
    if (Pending_.ResetAddress) IPAddress = Unresolved;
    Pending_.ResetAddress = false;
    SeenGeneration_ = SettingsGeneration_;
    // This pass starts with the newest settings, so a restart asked for
    // before now is already served.
    Restart = false;
    StatusText.clear();
}

void TPingThread::RunPass() {
    TakeSettings();
    {
        std::lock_guard lock(ResultsM_);
        LevelReference = 0;
    }
    UpperSum = 0;
    UpperBase = 0;
    UpperCount = 1;
    TrendCount = 0;
    TrendRecord.Read = TrendRecord.Write = TrendRecord.Ping = 0;
    // New settings may name another host: its jitter starts afresh.
    QuarterQuality = {};

    StatusText = "Testing...";
    ShowResults();

    // Only a host needs this buffer; it is not filled here, so only the
    // bytes a request really sends become resident.
    if (Kind == '3' && !DataBuffer)
        DataBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(DataBufferSize);
    if (!Probe_ || ProbeKind_ != Kind) {
        if (Probe_) Probe_->Close(*this);
        Probe_ = Ctx_->Probes ? Ctx_->Probes(Kind, *this) : nullptr;
        ProbeKind_ = Kind;
    }
    if (Probe_) {
        Probe_->RunLoop(*this);
        Probe_->Close(*this);
    } else {
        // Nothing can be measured: keep showing "Testing..." until the
        // settings change, without spinning.
        WaitForSettingsChange();
    }
    Restart = false;
    Halted = false;
}

// ---- safe points and waits -----------------------------------------------

void TPingThread::SafePoint() {
    std::unique_lock lock(M_);
    if (Dying_) throw TThreadExit{};
    if (SuspendCount_ == 0) return;
    Parked_ = true;
    Cv_.notify_all();
    CountedWait([&] { Cv_.wait(lock, [&] { return SuspendCount_ == 0 || Dying_; }); });
    Parked_ = false;
    if (Dying_) throw TThreadExit{};
}

void TPingThread::SuspendSelf() {
    Suspend();
    SafePoint();
}

void TPingThread::WaitFor(std::uint32_t ms) {
    std::unique_lock lock(M_);
    const std::uint64_t gen = SettingsGeneration_;
    CountedWait([&] {
        Cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return Ending() || SuspendCount_ > 0 || SettingsGeneration_ != gen;
        });
    });
    if (Dying_) throw TThreadExit{};
}

void TPingThread::WaitForSettingsChange() {
    std::unique_lock lock(M_);
    Parked_ = true;
    Cv_.notify_all();
    CountedWait(
        [&] { Cv_.wait(lock, [&] { return Ending() || SettingsGeneration_ != SeenGeneration_; }); });
    Parked_ = false;
    if (Dying_) throw TThreadExit{};
}

void TPingThread::HoldWhileStopped() {
    for (;;) {
        {
            std::unique_lock lock(M_);
            if (Dying_) throw TThreadExit{};
            if (!StopRequested || TerminateRequested) return;
            if (SuspendCount_ == 0) {
                CountedWait([&] {
                    Cv_.wait(lock, [&] { return !StopRequested || Ending() || SuspendCount_ > 0; });
                });
                continue;
            }
        }
        SafePoint();
    }
}

// ---- cycle skeleton ---------------------------------------------------------

void TPingThread::SetPriority(TPriority level) {
    if (Priority_.exchange(level) == level) return;
    if (Ctx_->ApplyOsPriority) {
        // Best effort: raising priority needs privileges; a refusal is fine.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceFor(level));
    }
}

bool TPingThread::BeginCycle() {
    SafePoint();
    if (Restart) return false;
    SetPriority(TPriority::Lowest);
    LastRunTick = Clock().TickMs();
    return true;
}

std::int64_t TPingThread::MeasuredMicroseconds(std::int64_t start, std::int64_t end) const {
    const std::int64_t frequency = Clock().CounterFrequency();
    if (frequency == 0) return 0;
    const double us = static_cast<double>(end - start) / static_cast<double>(frequency) * 1e6;
    return static_cast<std::int64_t>(std::nearbyint(us));
}

void TPingThread::AddSample(THistory& history, double sample) {
    std::lock_guard lock(ResultsM_);
    std::move(history.begin() + 2, history.end(), history.begin() + 1);
    history[HistorySize] = sample;
}

void TPingThread::AddEcho(std::optional<double> roundTripUs) {
    if (roundTripUs)
        QuarterQuality.AddReply(*roundTripUs);
    else
        QuarterQuality.AddLost();
    std::lock_guard lock(ResultsM_);
    if (roundTripUs)
        EchoTotals_.AddReply(*roundTripUs);
    else
        EchoTotals_.AddLost();
}

void TPingThread::UpdateLevelReference(double s) {
    std::lock_guard lock(ResultsM_);
    if (UpperBase == 0 && s > LevelReference) LevelReference = s;
    if (s > UpperBase) {
        UpperSum += s;
        if (UpperCount >= 100) {
            LevelReference = UpperSum / 100;
            UpperBase = LevelReference;
            UpperSum = 0;
            UpperCount = 0;
        }
        UpperCount += 1;
    }
}

bool TPingThread::ShowResults() {
    // A thread being destroyed (left behind in a call that returned late)
    // touches nothing of the window: its row may belong to another resource.
    if (StopRequested || TerminateRequested || Dying_ || !Ctx_->Sync) return false;
    return Ctx_->Sync->Synchronize([this] {
        if (StopRequested || TerminateRequested || Dying_ || !Ctx_->Table) return;
        TResourceTable& t = *Ctx_->Table;
        if (!StatusText.empty()) {
            const int col = Kind == '3' ? colPingText : Kind == '2' ? colReadText : colWriteText;
            t.SetCell(col, Row, StatusText);
            StatusText.clear();
            if (Ctx_->RepaintCells) Ctx_->RepaintCells(Row, col, col);
            return;
        }
        t.SetCell(colWriteText, Row, Kind == '1' ? FormatSpeed(WriteSpeed) : std::string());
        t.SetCell(colReadText, Row, Kind == '3' ? std::string() : FormatSpeed(ReadSpeed));
        t.SetCell(colPingText, Row, Kind == '3' ? FormatSpeed(PingSpeed) : std::string());
        if (Ctx_->RepaintCells) Ctx_->RepaintCells(Row, colWriteText, colPingText);
    });
}

void TPingThread::ApplyPriorityRule(std::int64_t timeUs) {
    TimeSum += timeUs;
    if (++TimeCount < 20) return;
    const std::int64_t a = TimeSum / 20;
    TimeSum = 0;
    TimeCount = 0;
    switch (Kind) {
        case '1':
            CyclePriority = a < 0            ? TPriority::Lowest
                            : a <= 20000     ? TPriority::Highest
                            : a <= 60000     ? TPriority::AboveNormal
                            : a <= 200000    ? TPriority::Normal
                            : a <= 1000000   ? TPriority::BelowNormal
                                             : TPriority::Lowest;
            break;
        case '2':
            CyclePriority = TPriority::AboveNormal;
            break;
        case '3':
            CyclePriority = (a >= 0 && a <= 20000) ? TPriority::Highest : TPriority::Lowest;
            break;
        default:
            break;
    }
}

void TPingThread::QuarterHourCheck() {
    if (TerminateRequested) {
        Restart = true;
        Halted = false;
    }
    const TLocalTime now = Clock().LocalNow();
    const int minute = now.Minute;
    if (minute % 15 != 0 || minute == LastQuarter || Dying_) return;
    TrendRecord.Name = Address;
    // The record carries the minute seen here: the flush runs later on the
    // window thread, possibly after the minute has turned.
    TrendRecord.Time = TrendStamp(now);
    // When the window turned the call away (it is waiting for the threads),
    // the sums stay and a later cycle of the same minute tries again.
    if (Ctx_->Sync && Ctx_->Sync->Synchronize([this] { FlushTrend(); })) LastQuarter = minute;
}

void TPingThread::FlushTrend() {
    if (!Ctx_->TrendEnabled) {
        // Quality data covers one quarter hour, written or not.
        QuarterQuality.Restart();
        return;
    }
    if (TrendCount > 0) {
        TrendRecord.Read /= TrendCount;
        TrendRecord.Write /= TrendCount;
        TrendRecord.Ping /= TrendCount;
    }
    if (Ctx_->TrendWriter) {
        Ctx_->TrendWriter->WriteRecord(TrendRecord);
        // After its trend record: the side file never holds up the trend file.
        if (Kind == '3') Ctx_->TrendWriter->WriteQuality(TrendRecord, QuarterQuality);
    }
    QuarterQuality.Restart();
    TrendCount = 0;
    TrendRecord.Read = TrendRecord.Write = TrendRecord.Ping = 0;
}

void TPingThread::Pace() {
    if (StopRequested || TerminateRequested) return;
    const auto elapsed = static_cast<std::int64_t>(Clock().TickMs() - LastRunTick.load());
    if (elapsed < Interval.load() && !(Kind == '1' && Restart)) SuspendSelf();
}

void TPingThread::AddTrendSample() {
    switch (Kind) {
        case '1':
            TrendRecord.Read += ReadSpeed;
            TrendRecord.Write += WriteSpeed;
            break;
        case '2':
            TrendRecord.Read += ReadSpeed;
            break;
        case '3':
            TrendRecord.Ping += PingSpeed;
            break;
        default:
            break;
    }
    TrendCount += 1;
}

void TPingThread::EndCycle() {
    AddTrendSample();
    QuarterHourCheck();
    CountCycle();
    Pace();
    if (Kind != '1') HoldWhileStopped();
}

void TPingThread::FailIo() {
    StatusText = "I/O error.";
    ShowResults();
    {
        // New settings that arrived during the failed transfer win: the
        // loop starts over with them instead of halting on the old ones.
        std::lock_guard lock(M_);
        if (Restart) return;
        Halted = true;
        ++SuspendCount_;
    }
    SafePoint();
}

}  // namespace tarvik
