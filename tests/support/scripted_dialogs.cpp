#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace lumivo::testing {

MsgResult ScriptedDialogs::MessageBox(const std::string& text, MsgButtons buttons,
                                      const std::string& title) {
    shown_.push_back({Shown::Message, text, title, buttons});
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    if (answers_.empty()) {
        ADD_FAILURE() << "unscripted question: \"" << text << "\"";
        return buttons == MsgButtons::OkCancel ? MsgResult::Cancel : MsgResult::No;
    }
    const MsgResult r = answers_.front();
    answers_.pop_front();
    return r;
}

std::optional<std::string> ScriptedDialogs::InputBox(const std::string& prompt,
                                                     const std::string& title, const std::string&) {
    shown_.push_back({Shown::Input, prompt, title, MsgButtons::OkCancel});
    if (inputs_.empty()) {
        ADD_FAILURE() << "unscripted input box: \"" << prompt << "\"";
        return std::nullopt;
    }
    auto r = inputs_.front();
    inputs_.pop_front();
    return r;
}

std::optional<std::string> ScriptedDialogs::ChooseFile(FileChoice kind, const std::string& title,
                                                       const std::string&, const std::string&) {
    shown_.push_back({Shown::File, title, title, MsgButtons::OkCancel});
    if (files_.empty()) {
        ADD_FAILURE() << "unscripted file chooser (" << (kind == FileChoice::Open ? "open" : "save")
                      << "): \"" << title << "\"";
        return std::nullopt;
    }
    auto r = files_.front();
    files_.pop_front();
    return r;
}

std::vector<std::string> ScriptedDialogs::Messages() const {
    std::vector<std::string> out;
    for (const auto& s : shown_)
        if (s.kind == Shown::Message) out.push_back(s.text);
    return out;
}

bool ScriptedDialogs::Showed(const std::string& text) const {
    for (const auto& s : shown_)
        if (s.text == text) return true;
    return false;
}

}  // namespace lumivo::testing
