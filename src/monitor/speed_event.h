// The minimum- and maximum-speed events of a resource: their cells in the
// settings grid, the per-tick evaluation, and the actions an event performs.
#pragma once

#include <functional>
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

// The actions on the running system. Playing goes to the sound player, which
// is a window and therefore reached through a callback.
class TSystemSpeedEventActions final : public ISpeedEventActions {
  public:
    using TPlayFunction = std::function<void(const std::string& fileName)>;
    explicit TSystemSpeedEventActions(TPlayFunction play);

    void PlaySound(const std::string& fileName) override;
    void RunProgram(const std::string& commandLine, const std::string& directory) override;
    void CloseProgramByFile(const std::string& fileName) override;
    void CloseWindowsByTitle(const std::string& titleText) override;

  private:
    TPlayFunction Play_;
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
