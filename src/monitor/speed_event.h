// The minimum- and maximum-speed events of a resource: their cells in the
// settings grid, the per-tick evaluation, and the actions an event performs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/resource_table.h"
#include "platform/clock.h"

namespace tarvik {

// Which of a resource's two events.
inline constexpr int kMinEvent = 0;
inline constexpr int kMaxEvent = 1;

// The grid columns holding one event's fields.
struct TSpeedEventColumns {
    int Enabled;
    int Threshold;
    int ActionKind;
    int PlayFileName;
    int RunFileName;
    int RunDirectory;
    int CloseFileName;
    int WinTitle;
    int PerformOnce;
    int EventTimeout;
    int EnableOther;
    int ConditionSince;
    int Performed;
};

// Columns of the minimum (0) or maximum (1) event; any other value gives the
// minimum event's columns.
const TSpeedEventColumns& SpeedEventColumns(int which);

// One event's settings and run-time state as the texts of its grid cells.
// Dialogs work on such a copy and write it back on OK.
struct TSpeedEvent {
    std::string Enabled;
    std::string Threshold;
    std::string ActionKind;  // "0" sound, "1" run, "2" close; empty: none
    std::string PlayFileName;
    std::string RunFileName;
    std::string RunDirectory;
    std::string CloseFileName;
    std::string WinTitle;
    std::string PerformOnce;
    std::string EventTimeout;  // whole seconds
    std::string EnableOther;
    std::string ConditionSince;  // run-time: clock second the condition began
    std::string Performed;       // run-time: "1" once performed

    // The settings of a new resource's event (run-time fields empty).
    static TSpeedEvent Defaults(int which);
    static TSpeedEvent FromRow(const TResourceTable& table, int row, int which);
    void ToRow(TResourceTable& table, int row, int which) const;
};

// What an event does when it fires. The sampling cycle passes the real
// implementation; tests pass a recorder.
class ISpeedEventActions {
  public:
    virtual ~ISpeedEventActions() = default;
    virtual void PlaySound(const std::string& fileName) = 0;
    virtual void RunProgram(const std::string& commandLine, const std::string& directory) = 0;
    virtual void CloseProgramByFile(const std::string& fileName) = 0;
    virtual void CloseWindowsByTitle(const std::string& titleText) = 0;
};

// The platform operations behind the system actions. Each may block for as
// long as a file system, a process or the X server holds it up; tests pass
// operations that block until they release them.
struct TActionOperations {
    std::function<bool(const std::string& commandLine, const std::string& directory)> Run;
    std::function<int(const std::string& fileName)> CloseByFile;
    std::function<int(const std::string& titleText)> CloseByTitle;
    // Opens and reads the start of a sound file: whether its file system answers.
    std::function<bool(const std::string& fileName)> ProbeSound;
    static TActionOperations System();
};

// What became of one action, learnt after it has run.
struct TActionOutcome {
    enum class TKind { Play, Run, CloseByFile, CloseByTitle };
    TKind Kind;
    std::string Target;  // file name, command line or title text
    bool Done;           // started, signalled, or handed to the player
};

// The actions on the running system. None of them blocks its caller (the
// window thread's sampling tick): each runs on a worker thread of its own and
// reports back through `post`, which runs a function on the caller's thread
// later. A sound goes to the player only once its file answered on the worker,
// so the player never opens a file on a hung file system; of sounds that
// answer out of order the newest one wins. Work that never returns is left
// behind; at most MaxPending actions wait at once, further ones count as
// failed. Destroying the object drops outcomes still to come.
class TSystemSpeedEventActions final : public ISpeedEventActions {
  public:
    using TPlayFunction = std::function<void(const std::string& fileName)>;
    using TPostFunction = std::function<void(std::function<void()> work)>;
    static constexpr int MaxPending = 16;

    TSystemSpeedEventActions(TPlayFunction play, TPostFunction post,
                             TActionOperations operations = TActionOperations::System());
    ~TSystemSpeedEventActions() override;
    TSystemSpeedEventActions(const TSystemSpeedEventActions&) = delete;
    TSystemSpeedEventActions& operator=(const TSystemSpeedEventActions&) = delete;

    void PlaySound(const std::string& fileName) override;
    void RunProgram(const std::string& commandLine, const std::string& directory) override;
    void CloseProgramByFile(const std::string& fileName) override;
    void CloseWindowsByTitle(const std::string& titleText) override;

    // Called on the caller's thread with every outcome (a failure is
    // reported nowhere else, as before).
    std::function<void(const TActionOutcome&)> Outcome;
    // Actions started and not yet returned (left-behind ones included).
    int Pending() const;

  private:
    struct TShared;
    // Runs work on a worker thread; then (if any) runs on the owner's thread
    // with work's result and gives the outcome's Done.
    void Launch(TActionOutcome::TKind kind, std::string target, std::function<bool()> work,
                std::function<bool(bool)> then = nullptr);
    std::shared_ptr<TShared> Shared_;
};

// Evaluates one event of a resource row against the current speed (KBps) on
// a sampling tick, updating the row's run-time cells. Returns true when the
// event went through its performance on this tick (also when its action kind
// does nothing). The clock's millisecond tick, in whole seconds, times it.
bool EvaluateSpeedEvent(TResourceTable& table, int row, int which, double speed,
                        const IClock& clock, ISpeedEventActions& actions);

// The number an event time-out text stands for: its leading decimal digits
// (none: 0), at least 2.
long long SpeedEventTimeoutSeconds(const std::string& text);

}  // namespace tarvik
