// Speed event actions that record what they were asked to do, for tests of
// the events and of the sampling tick; optionally every action throws.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "monitor/speed_event.h"

namespace tarvik::test {

class TRecordingActions final : public ISpeedEventActions {
  public:
    void PlaySound(const std::string& f) override { Record("play " + f); }
    void RunProgram(const std::string& c, const std::string& d) override {
        Record("run " + c + " in " + d);
    }
    void CloseProgramByFile(const std::string& f) override { Record("close file " + f); }
    void CloseWindowsByTitle(const std::string& t) override { Record("close title " + t); }
    std::vector<std::string> Calls;
    bool Throw = false;  // every action throws after recording

  private:
    void Record(std::string call) {
        Calls.push_back(std::move(call));
        if (Throw) throw std::runtime_error("action failed");
    }
};

}  // namespace tarvik::test
