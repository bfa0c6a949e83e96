// The two ports through which the core reaches the outside world without knowing about windows:
// Dialogs (every question or notice shown to the user) and Clock (every reading of time and
// every pause). The desktop program implements them with Qt, the command-line tool with the
// terminal and its options, and the tests with scripted answers and a virtual clock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lumivo {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };
// A file to read (which must exist) or to write (which may be replaced).
enum class FileChoice { Open, Save };

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // A message box with the application title (or `title` when given). Returns the button
    // pressed; a box with only OK always returns MsgResult::Ok.
    virtual MsgResult MessageBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                                 const std::string& title = {}) = 0;

    // An input box. Returns the text typed, or std::nullopt when the user cancelled.
    virtual std::optional<std::string> InputBox(const std::string& prompt,
                                                const std::string& title = {},
                                                const std::string& default_text = {}) = 0;

    // A question with one accepting button captioned `accept` (for example "Stop and exit")
    // and Cancel. Returns MsgResult::Ok or MsgResult::Cancel. Without buttons of its own the
    // question is an OK/Cancel message box.
    virtual MsgResult Confirm(const std::string& text, const std::string& /*accept*/,
                              const std::string& title = {}) {
        return MessageBox(text, MsgButtons::OkCancel, title) == MsgResult::Ok ? MsgResult::Ok
                                                                              : MsgResult::Cancel;
    }

    // A question about something that can change while it is shown, such as a run that may
    // end at its lapse meanwhile: a Confirm (with `accept`) or a message box (without), whose
    // box goes away by itself, answering Cancel, as soon as `holds` returns false. The caller
    // looks at the state again afterwards. Without a window system it is a plain question.
    virtual MsgResult AskWhile(const std::function<bool()>& holds, const std::string& text,
                               MsgButtons buttons, const std::string& accept = {},
                               const std::string& title = {}) {
        (void)holds;
        return accept.empty() ? MessageBox(text, buttons, title) : Confirm(text, accept, title);
    }

    // Lets pending window events run during a long operation (no-op without a window system).
    virtual void ProcessEvents() {}

    // A file chooser titled `title`, opening in `folder`, listing the files `filter` names
    // ("CSV files (*.csv)"). Returns the chosen path, or std::nullopt when the user cancelled;
    // without a window system nobody can choose, which is a cancel.
    virtual std::optional<std::string> ChooseFile(FileChoice kind, const std::string& title,
                                                  const std::string& folder,
                                                  const std::string& filter) {
        (void)kind, (void)title, (void)folder, (void)filter;
        return std::nullopt;
    }
};

// Local civil time, as shown to the user and used in folder and file names.
struct LocalDateTime {
    LocalDateTime() = default;
    LocalDateTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
        : year(y), month(mo), day(d), hour(h), minute(mi), second(s), millisecond(ms) {}

    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    // The zone this civil time is in: its offset east of UTC and its abbreviation ("CET").
    // A recording writes them into events.log so that its times can be placed on any machine.
    int utc_offset_minutes = 0;
    std::string zone;

    // Seconds since local midnight, with the milliseconds as fraction.
    double SecondsOfDay() const {
        return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0;
    }
};

// "UTC+01:00 (CET)": the zone of `t` as events.log writes it ("UTC-03:30", without the
// brackets, when the zone has no abbreviation).
std::string TimeZoneText(const LocalDateTime& t);

// The civil time `seconds` later (earlier when negative), by the machine's time-zone rules.
LocalDateTime AddSeconds(const LocalDateTime& t, std::int64_t seconds);

// The date and time the way the user's locale writes them (its date and time formats), for
// texts meant for people.
std::string LocaleDateTimeText(const LocalDateTime& t);

class Clock {
  public:
    virtual ~Clock() = default;
    // A monotonic time in microseconds; only differences are meaningful.
    virtual std::int64_t MonotonicMicros() = 0;
    // The local date and time.
    virtual LocalDateTime Now() = 0;
    // Blocks the caller for `ms` milliseconds (a virtual clock just advances).
    virtual void SleepMs(int ms) = 0;
    // Blocks the caller for `us` microseconds (a virtual clock just advances).
    virtual void SleepMicros(std::int64_t us) = 0;

    std::int64_t MonotonicMillis() { return MonotonicMicros() / 1000; }
};

// The real clock of the machine.
class SystemClock final : public Clock {
  public:
    std::int64_t MonotonicMicros() override;
    LocalDateTime Now() override;
    void SleepMs(int ms) override;
    void SleepMicros(std::int64_t us) override;
};

// Answers every question with its default: OK, Yes (or Cancel where only OK/Cancel), the input
// box's default text. Used where no user is present and no script was given.
class DefaultAnswerDialogs final : public Dialogs {
  public:
    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;
};

}  // namespace lumivo
