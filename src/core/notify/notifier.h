// Delivering notices: the settings' command is run without a shell, given the notice in its
// environment (LUMIVO_EVENT, LUMIVO_MESSAGE, LUMIVO_ACQUISITION, LUMIVO_TIME), and killed
// (its whole process group) when it runs too long; the e-mail goes through libcurl's SMTP
// client with a few attempts. All of it runs on a worker thread, so a hung command or an
// unreachable server never holds the sampling; each outcome comes back as a line for
// events.log, and a failure is never more than such a line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/notify/notice.h"
#include "core/notify/notify_settings.h"

namespace lumivo::notify {

struct NotifierTiming {
    std::chrono::milliseconds command_timeout{30'000};
    int mail_attempts = 3;
    std::chrono::milliseconds mail_retry_pause{10'000};
    std::chrono::milliseconds mail_timeout{60'000};  // one attempt, connection included
};

// What one delivery came to.
struct Delivery {
    bool ok = false;
    std::string report;  // "Notification (run-ended) sent by the command ...", or why not
};

// Runs `command` with the notice in its environment; waits at most `timeout`.
Delivery RunNoticeCommand(const std::vector<std::string>& command, const Notice& notice,
                          std::chrono::milliseconds timeout);
// Mails the notice through the settings' server, up to timing.mail_attempts times.
Delivery MailNotice(const NotifySettings& settings, const Notice& notice,
                    const NotifierTiming& timing);
// The e-mail's text: its header lines and the body, CR LF.
std::string NoticeMail(const NotifySettings& settings, const Notice& notice,
                       const std::string& date);

class Notifier final : public NoticeSink {
  public:
    explicit Notifier(NotifySettings settings, NotifierTiming timing = {});
    // Delivers what is still queued, each delivery within its own time limits, then ends.
    ~Notifier() override;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void Post(const Notice& notice) override;
    std::vector<std::string> TakeReports() override;
    // The same with whether each delivery succeeded.
    std::vector<Delivery> TakeDeliveries();
    NoticeRules Rules() const override;
    // Notices posted from now on are delivered with `settings` (the settings window saved).
    void SetSettings(NotifySettings settings);
    NotifySettings settings() const;

    // Waits until every notice posted so far was delivered or given up; false when `limit`
    // passed first.
    bool WaitIdle(std::chrono::milliseconds limit);

  private:
    void Work();

    NotifySettings settings_;
    const NotifierTiming timing_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Notice> queue_;
    std::vector<Delivery> reports_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace lumivo::notify
