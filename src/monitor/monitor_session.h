// A monitor session without a window: the resource list of the configuration,
// one measuring thread per row, the trend file, the speed events and the
// synchronous call served by the caller's own loop. The headless companion
// runs on it; it measures exactly as the window does, with the same probes,
// threads, configuration and trend files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/measuring_control.h"
#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "monitor/metrics.h"
#include "platform/program_dir.h"
#include "setup/config_file.h"

namespace tarvik {

class ISpeedEventActions;
class TSyncCaller;
class TTrendFile;

struct TMonitorSessionOptions {
    TProgramPaths Paths;
    const IClock* Clock = &SystemClock();
    TProbeFactory Probes;
    TMeasuringDelays Delays;
    bool Trend = true;                     // write quarter-hour records when the file allows
    ISpeedEventActions* Actions = nullptr;  // null: events are evaluated but do nothing
    // A resource's status changed (its first result, a speed after a failure,
    // a failure after speeds): the row and the text now in its cell.
    std::function<void(int row, const std::string& text)> StatusChanged;
    // Something the user should know once (history off, a reload error).
    std::function<void(const std::string& text)> Notice;
};

class TMonitorSession {
public:
    explicit TMonitorSession(TMonitorSessionOptions options);
    ~TMonitorSession();  // closes
    TMonitorSession(const TMonitorSession&) = delete;
    TMonitorSession& operator=(const TMonitorSession&) = delete;

    // Reads the configuration and creates the threads; false with a one-line
    // reason when the file is missing or cannot be used.
    bool Load(std::string* error);
    // Rereads the configuration while measuring: rows added, changed and
    // deleted take effect as list editing does. The old list stays when the
    // file cannot be used.
    bool Reload(std::string* error);
    void Start();
    // Every 50 ms: thread activation and the speed events.
    void Tick();
    // Readable while measuring threads wait for RunPending or work is posted.
    int WakeFd() const { return WakeFd_; }
    // Runs the calls the threads are waiting for (display updates, trend
    // flushes) and the work posted meanwhile.
    void RunPending();
    // Any thread: runs work on the session's thread at its next RunPending
    // (the outcomes of the event actions come back this way).
    void Post(std::function<void()> work);
    // The event actions, from the next tick on (null: none).
    void SetActions(ISpeedEventActions* actions) { Options_.Actions = actions; }
    // Stop, then end every thread and close the trend file. Idempotent.
    void Close();

    bool HistoryOn() const;
    const TResourceTable& Table() const { return Table_; }
    const TWindowSettings& Settings() const { return Settings_; }
    // A copy of the current measurements; safe from any thread.
    std::vector<TMetricRow> MetricRows() const;

private:
    void CreateRowThread(int row);
    void CellsShown(int row);

    TMonitorSessionOptions Options_;
    TResourceTable Table_;
    TWindowSettings Settings_;
    int WakeFd_ = -1;
    std::mutex PostedM_;
    std::vector<std::function<void()>> Posted_;
    std::shared_ptr<TSyncCaller> Sync_;
    std::shared_ptr<TEngineContext> Ctx_;
    std::unique_ptr<TMeasuringControl> Control_;
    std::unique_ptr<TTrendFile> TrendFile_;
    bool Started_ = false;
    bool Closed_ = false;
    TMetricsSource Metrics_;
};

}  // namespace tarvik
