// Dialogs for tests: every message and input box is recorded, and answers come from a script
// queued by the test. A question with no scripted answer fails the test, so a procedure that
// asks something unexpected is caught.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/ui_port.h"

namespace lumivo::testing {

class ScriptedDialogs final : public Dialogs {
  public:
    struct Shown {
        enum Kind { Message, Input, File } kind;
        std::string text;
        std::string title;
        MsgButtons buttons = MsgButtons::Ok;
    };

    // Answers for message boxes with more than an OK button, in order.
    void QueueAnswer(MsgResult r) { answers_.push_back(r); }
    // Answers for input boxes, in order; std::nullopt is a Cancel.
    void QueueInput(std::optional<std::string> text) { inputs_.push_back(std::move(text)); }
    // Answers for file choosers, in order; std::nullopt is a Cancel.
    void QueueFile(std::optional<std::string> path) { files_.push_back(std::move(path)); }

    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;
    std::optional<std::string> ChooseFile(FileChoice kind, const std::string& title,
                                          const std::string& folder,
                                          const std::string& filter) override;
    void ProcessEvents() override {
        ++events_processed_;
        if (on_events) on_events(events_processed_);
    }

    // Runs at every pass of window events with the number of the pass: a user acting while a
    // long procedure lets the window react.
    std::function<void(int pass)> on_events;

    const std::vector<Shown>& shown() const { return shown_; }
    std::vector<std::string> Messages() const;   // texts of the message boxes, in order
    bool Showed(const std::string& text) const;  // any box (message or input) with this text
    bool AllAnswersUsed() const { return answers_.empty() && inputs_.empty() && files_.empty(); }
    int events_processed() const { return events_processed_; }

  private:
    std::deque<MsgResult> answers_;
    std::deque<std::optional<std::string>> inputs_;
    std::deque<std::optional<std::string>> files_;
    std::vector<Shown> shown_;
    int events_processed_ = 0;
};

}  // namespace lumivo::testing
