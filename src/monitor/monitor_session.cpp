#include "monitor/monitor_session.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "engine/sync_caller.h"
#include "monitor/chart_geometry.h"
#include "monitor/speed_event.h"
#include <sys/stat.h>
#include "trend/trend_file.h"

namespace tarvik {
namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

char KindOf(const TResourceTable& table, int row) {
    const std::string& kind = table.Cell(colKind, row);
    return kind.empty() ? '\0' : kind.front();
}

// The cell that carries a resource's status text.
int StatusColumn(char kind) { return kind == '1' ? colWriteText : kind == '2' ? colReadText : colPingText; }

// The cells a user sets; the speed texts and the events' run-time state are
// left out, so that a row whose settings did not change keeps running as it was.
bool SameSettings(const TResourceTable::TRow& a, const TResourceTable::TRow& b) {
    for (int c = colAddress; c < TResourceTable::ColCount; ++c) {
        if (c == colWriteText || c == colReadText || c == colPingText || c == colMinConditionSince ||
            c == colMinPerformed || c == colMaxPerformed || c == colMaxConditionSince)
            continue;
        if (a[c] != b[c]) return false;
    }
    return true;
}

}  // namespace

TMonitorSession::TMonitorSession(TMonitorSessionOptions options) : Options_(std::move(options)) {
    WakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int fd = WakeFd_;
    Sync_ = std::make_shared<TSyncCaller>([fd] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    });
    Ctx_ = std::make_shared<TEngineContext>();
    Ctx_->Clock = Options_.Clock;
    Ctx_->Sync = Sync_;
    Ctx_->Table = &Table_;
    Ctx_->Probes = Options_.Probes;
    Ctx_->RepaintCells = [this](int row, int, int) { CellsShown(row); };
    Control_ = std::make_unique<TMeasuringControl>(Table_, Sync_, *Options_.Clock, Options_.Delays);
}

TMonitorSession::~TMonitorSession() {
    Close();
    if (WakeFd_ >= 0) ::close(WakeFd_);
}

bool TMonitorSession::Load(std::string* error) {
    const std::string path = Options_.Paths.ConfigFile();
    if (!FileExists(path)) {
        if (error) *error = "no configuration file " + path;
        return false;
    }
    std::string readError;
    TConfigLoadHooks hooks;
    hooks.RowLoaded = [this](int row) { CreateRowThread(row); };
    hooks.ShowReadError = [&readError](const std::string& text) { readError = text; };
    if (!ReadParametersFile(path, false, Table_, Settings_, hooks)) {
        // The load may have created threads for rows it read before it gave up.
        Control_->Close();
        Table_.SetRowCount(1);
        if (error) {
            for (char& c : readError)
                if (c == '\r' || c == '\n') c = ' ';
            *error = readError.empty() ? "cannot use the configuration file " + path : readError;
        }
        return false;
    }
    Ctx_->TrendEnabled = Options_.Trend && Settings_.TrendEnabled;
    if (Ctx_->TrendEnabled) {
        EnsureProgramDirs(Options_.Paths);
        TrendFile_ = std::make_unique<TTrendFile>(Options_.Paths.TrendDataFile(),
                                                  Options_.Paths.TrendIndexFile(), *Options_.Clock);
        if (TrendFile_->IsWritable()) {
            TrendFile_->AttachQualityFile(Options_.Paths.QualityFile());
            Ctx_->TrendWriter = TrendFile_.get();
        } else {
            Ctx_->TrendEnabled = false;
            if (Options_.Notice)
                Options_.Notice("the trend files " + Options_.Paths.TrendDataFile() +
                                " are in use by another Tarvik or cannot be written: measuring without history");
        }
    }
    Metrics_.Publish(Table_);
    return true;
}

void TMonitorSession::CreateRowThread(int row) {
    auto thread = TPingThread::Create(row, Ctx_);
    Table_.SetThread(row, thread);
    thread->LoadSettings();
}

bool TMonitorSession::Reload(std::string* error) {
    TResourceTable fresh;
    TWindowSettings settings;
    std::string readError;
    TConfigLoadHooks hooks;
    hooks.ShowReadError = [&readError](const std::string& text) { readError = text; };
    const std::string path = Options_.Paths.ConfigFile();
    if (!FileExists(path) || !ReadParametersFile(path, false, fresh, settings, hooks)) {
        if (error) {
            for (char& c : readError)
                if (c == '\r' || c == '\n') c = ' ';
            *error = readError.empty() ? "cannot use the configuration file " + path : readError;
        }
        return false;
    }
    const bool wasStarted = Started_;
    if (wasStarted) Control_->Stop();
    const int keep = std::min(Table_.RowCount(), fresh.RowCount());
    // Deleted rows: their threads end, from the last row up.
    for (int r = Table_.RowCount() - 1; r >= keep; --r) {
        if (const auto t = Table_.Thread(r)) t->Destroy(Options_.Delays.DestroyGraceMs);
        Table_.SetThread(r, nullptr);
        Table_.DeleteRow(r);
    }
    // Changed rows take their new settings at the end of the current cycle.
    for (int r = 1; r < keep; ++r) {
        if (SameSettings(Table_.Row(r), fresh.Row(r))) continue;
        Table_.SetRow(r, fresh.Row(r));
        Table_.ClearEventState(r);
        if (const auto& t = Table_.Thread(r)) t->LoadSettings();
    }
    // Added rows get a thread of their own.
    for (int r = keep; r < fresh.RowCount(); ++r) {
        const int row = Table_.AddRow();
        Table_.SetRow(row, fresh.Row(r));
        Table_.ClearEventState(row);
        CreateRowThread(row);
    }
    Settings_ = settings;
    if (TrendFile_) Ctx_->TrendEnabled = Options_.Trend && Settings_.TrendEnabled && TrendFile_->IsWritable();
    Metrics_.Publish(Table_);
    if (wasStarted) Control_->Start();
    return true;
}

void TMonitorSession::Start() {
    Started_ = true;
    Control_->Start();
}

void TMonitorSession::Tick() {
    if (Closed_) return;
    Control_->Activate();
    if (!Options_.Actions) return;
    for (int row = 1; row < Table_.RowCount(); ++row) {
        const auto& thread = Table_.Thread(row);
        if (!thread) continue;
        // Most rows have no event switched on: they need no copy of the results.
        if (Table_.Cell(colMinEnabled, row) != "1" && Table_.Cell(colMaxEnabled, row) != "1") continue;
        const std::optional<double> value = CurrentValue(KindOf(Table_, row), thread->Results());
        if (!value) continue;
        // A failing action must not stop the tick.
        for (const int which : {kMinEvent, kMaxEvent}) {
            try {
                EvaluateSpeedEvent(Table_, row, which, *value, *Options_.Clock, *Options_.Actions);
            } catch (...) {
            }
        }
    }
}

void TMonitorSession::RunPending() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(WakeFd_, &count, sizeof count);
    Sync_->RunPending();
    std::vector<std::function<void()>> posted;
    {
        const std::lock_guard lock(PostedM_);
        posted.swap(Posted_);
    }
    for (auto& work : posted) work();
}

void TMonitorSession::Post(std::function<void()> work) {
    {
        const std::lock_guard lock(PostedM_);
        Posted_.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakeFd_, &one, sizeof one);
}

void TMonitorSession::CellsShown(int row) {
    if (Metrics_.CellsShown(Table_, row) && Options_.StatusChanged)
        Options_.StatusChanged(row, Table_.Cell(StatusColumn(KindOf(Table_, row)), row));
}

std::vector<TMetricRow> TMonitorSession::MetricRows() const { return Metrics_.Rows(); }

bool TMonitorSession::HistoryOn() const { return Ctx_->TrendWriter != nullptr && Ctx_->TrendEnabled; }

void TMonitorSession::Close() {
    if (Closed_) return;
    Closed_ = true;
    Metrics_.Clear();
    Control_->Close();
    Ctx_->RepaintCells = nullptr;
    Ctx_->TrendWriter = nullptr;
    TrendFile_.reset();
}

}  // namespace tarvik
