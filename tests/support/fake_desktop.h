// A scripted desktop for the dial-up keeper: windows with titles and
// controls, recording every press as "window title|control text".
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/desktop_controls.h"

namespace tarvik {

class TFakeDesktop : public IDesktopControls {
  public:
    struct TWindow {
        std::string Title;
        std::vector<std::string> Controls;
        bool Pressable = true;
    };
    std::vector<TWindow> Windows;  // top first
    std::vector<std::string> Presses;
    std::vector<bool> AccessibilitySwitches;
    int ListReads = 0;
    int ControlReads = 0;
    std::string ProblemText;
    // Runs at every window list read (a test can hold the pass there).
    std::function<void()> OnList;
    // Also receives the switches, for checks after the desktop is gone.
    std::shared_ptr<std::vector<bool>> SwitchLog = std::make_shared<std::vector<bool>>();

    std::vector<TTopWindow> TopWindows() override {
        ++ListReads;
        if (OnList) OnList();
        std::vector<TTopWindow> out;
        for (std::size_t i = 0; i < Windows.size(); ++i)
            out.push_back({static_cast<std::uint32_t>(i + 1), Windows[i].Title, 100});
        return out;
    }
    TChildControls ChildControls(const TTopWindow& w) override {
        ++ControlReads;
        TChildControls out;
        const TWindow& win = Windows[w.Window - 1];
        for (const std::string& text : win.Controls)
            out.push_back(std::make_unique<TControl>(*this, win, text));
        return out;
    }
    void SetAccessibility(bool on) override {
        std::lock_guard lock(Mutex);
        AccessibilitySwitches.push_back(on);
        SwitchLog->push_back(on);
    }
    std::string Problem() override { return ProblemText; }

    std::mutex Mutex;

  private:
    class TControl final : public IChildControl {
      public:
        TControl(TFakeDesktop& d, const TWindow& w, std::string text)
            : D_(d), W_(w), Text_(std::move(text)) {}
        const std::string& Text() const override { return Text_; }
        bool Press() override {
            std::lock_guard lock(D_.Mutex);
            D_.Presses.push_back(W_.Title + "|" + Text_);
            return W_.Pressable;
        }

      private:
        TFakeDesktop& D_;
        const TWindow& W_;
        std::string Text_;
    };
};

}  // namespace tarvik
