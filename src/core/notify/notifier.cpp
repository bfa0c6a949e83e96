#include "core/notify/notifier.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

extern char** environ;

namespace lumivo::notify {

namespace {

std::string Millis(std::chrono::milliseconds ms) {
    if (ms.count() % 1000 == 0) return std::to_string(ms.count() / 1000) + " s";
    return std::to_string(ms.count()) + " ms";
}

std::string Lead(const Notice& n) {
    return std::string("Notification (") + NoticeKindName(n.kind) + ")";
}

// The date of an e-mail (RFC 5322) from the machine's clock.
std::string MailDate() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &tm);
    return text;
}

std::vector<std::string> Addresses(const std::string& list) {
    std::vector<std::string> out;
    std::string one;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ',' || list[i] == ';') {
            const auto b = one.find_first_not_of(" \t");
            const auto e = one.find_last_not_of(" \t");
            if (b != std::string::npos) out.push_back(one.substr(b, e - b + 1));
            one.clear();
        } else {
            one += list[i];
        }
    }
    return out;
}

// One line of text for a header field: line breaks become blanks.
std::string HeaderText(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

struct Upload {
    const std::string* text;
    std::size_t at = 0;
};

std::size_t ReadUpload(char* out, std::size_t size, std::size_t count, void* user) {
    auto* up = static_cast<Upload*>(user);
    const std::size_t room = size * count;
    const std::size_t n = std::min(room, up->text->size() - up->at);
    std::memcpy(out, up->text->data() + up->at, n);
    up->at += n;
    return n;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

Delivery RunNoticeCommand(const std::vector<std::string>& command, const Notice& notice,
                          std::chrono::milliseconds timeout) {
    Delivery d;
    const std::string who = "the command " + JoinCommandLine(command);
    if (command.empty() || command.front().empty()) {
        d.report = Lead(notice) + " not sent: no command is set";
        return d;
    }
    std::vector<std::string> env_text = {
        std::string("LUMIVO_EVENT=") + NoticeKindName(notice.kind),
        "LUMIVO_MESSAGE=" + notice.message,
        "LUMIVO_ACQUISITION=" + notice.acquisition,
        "LUMIVO_TIME=" + notice.time,
    };
    std::vector<char*> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::strncmp(*e, "LUMIVO_", 7) != 0) env.push_back(*e);
    }
    for (std::string& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Its own process group, so a kill reaches whatever it started; no input, and its output
    // kept off ours (the last line of lumivo-cli's output is a path scripts read).
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    pid_t pid = -1;
    const int e = posix_spawnp(&pid, argv[0], &files, &attr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    if (e != 0) {
        d.report =
            Lead(notice) + " not sent: " + who + " could not be started (" + std::strerror(e) + ")";
        return d;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) {
            d.report = Lead(notice) + ": " + who + " could not be waited for";
            return d;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            d.report = Lead(notice) + " not sent: " + who + " did not end within " +
                       Millis(timeout) + " and was killed";
            return d;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        d.ok = true;
        d.report = Lead(notice) + " sent by " + who;
    } else if (WIFEXITED(status)) {
        d.report =
            Lead(notice) + ": " + who + " ended with status " + std::to_string(WEXITSTATUS(status));
    } else {
        d.report =
            Lead(notice) + ": " + who + " was ended by signal " + std::to_string(WTERMSIG(status));
    }
    return d;
}

std::string NoticeMail(const NotifySettings& s, const Notice& n, const std::string& date) {
    std::string subject = std::string("Lumivo: ") + NoticeKindTitle(n.kind);
    if (!n.acquisition.empty()) {
        const auto slash = n.acquisition.find_last_of('/');
        subject += " (" + n.acquisition.substr(slash == std::string::npos ? 0 : slash + 1) + ")";
    }
    std::string m;
    m += "Date: " + date + "\r\n";
    m += "To: " + HeaderText(s.mail_to) + "\r\n";
    m += "From: " + HeaderText(s.mail_from) + "\r\n";
    m += "Subject: " + HeaderText(subject) + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\n";
    m += "Content-Transfer-Encoding: 8bit\r\n";
    m += "\r\n";
    std::string body =
        n.message + "\r\n\r\nEvent: " + NoticeKindName(n.kind) + "\r\nTime: " + n.time + "\r\n";
    if (!n.acquisition.empty()) body += "Acquisition: " + n.acquisition + "\r\n";
    // A line holding a lone "." would end the message early on some servers.
    std::string safe;
    std::size_t at = 0;
    while (at < body.size()) {
        std::size_t end = body.find("\r\n", at);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(at, end - at);
        if (!line.empty() && line[0] == '.') line.insert(0, ".");
        safe += line + "\r\n";
        at = end + 2;
    }
    return m + safe;
}

Delivery MailNotice(const NotifySettings& s, const Notice& n, const NotifierTiming& timing) {
    Delivery d;
    const std::string server = s.smtp_host + ":" + std::to_string(s.smtp_port);
    if (const std::string problem = s.Problem(); !problem.empty()) {
        d.report = Lead(n) + " not mailed: " + problem;
        return d;
    }
    InitCurlOnce();
    const std::string text = NoticeMail(s, n, MailDate());
    // Port 465 speaks TLS from the start; the others may be asked to STARTTLS.
    const std::string url = (s.smtp_port == 465 ? "smtps://" : "smtp://") + server;
    std::string last_error;
    const int attempts = std::max(timing.mail_attempts, 1);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        CURL* curl = curl_easy_init();
        if (curl == nullptr) {
            last_error = "libcurl could not be started";
            break;
        }
        char error[CURL_ERROR_SIZE] = {};
        curl_slist* rcpt = nullptr;
        for (const std::string& a : Addresses(s.mail_to)) rcpt = curl_slist_append(rcpt, a.c_str());
        Upload up{&text};
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_MAIL_FROM, s.mail_from.c_str());
        curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadUpload);
        curl_easy_setopt(curl, CURLOPT_READDATA, &up);
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timing.mail_timeout.count()));
        curl_easy_setopt(
            curl, CURLOPT_CONNECTTIMEOUT_MS,
            static_cast<long>(std::min<long long>(timing.mail_timeout.count(), 15000)));
        if (s.starttls && s.smtp_port != 465)
            curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        if (!s.smtp_user.empty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, s.smtp_user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, s.smtp_password.c_str());
        }
        const CURLcode rc = curl_easy_perform(curl);
        curl_slist_free_all(rcpt);
        curl_easy_cleanup(curl);
        if (rc == CURLE_OK) {
            d.ok = true;
            d.report = Lead(n) + " mailed to " + s.mail_to + " through " + server +
                       (attempt > 1 ? " at attempt " + std::to_string(attempt) : std::string());
            return d;
        }
        last_error = error[0] != '\0' ? error : curl_easy_strerror(rc);
        if (attempt < attempts) std::this_thread::sleep_for(timing.mail_retry_pause);
    }
    d.report = Lead(n) + " could not be mailed through " + server + " after " +
               std::to_string(attempts) + (attempts == 1 ? " attempt: " : " attempts: ") +
               last_error;
    return d;
}

Notifier::Notifier(NotifySettings settings, NotifierTiming timing)
    : settings_(std::move(settings)), timing_(timing), worker_([this] { Work(); }) {}

Notifier::~Notifier() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void Notifier::Post(const Notice& notice) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!settings_.any()) return;
        queue_.push_back(notice);
    }
    changed_.notify_all();
}

NoticeRules Notifier::Rules() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.rules;
}

void Notifier::SetSettings(NotifySettings settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(settings);
}

NotifySettings Notifier::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

std::vector<std::string> Notifier::TakeReports() {
    std::vector<std::string> out;
    for (Delivery& d : TakeDeliveries()) out.push_back(std::move(d.report));
    return out;
}

std::vector<Delivery> Notifier::TakeDeliveries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(reports_, {});
}

bool Notifier::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void Notifier::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and everything was delivered
        const Notice notice = queue_.front();
        queue_.pop_front();
        busy_ = true;
        const NotifySettings settings = settings_;
        lock.unlock();
        std::vector<Delivery> done;
        if (!settings.command.empty())
            done.push_back(RunNoticeCommand(settings.command, notice, timing_.command_timeout));
        if (settings.mail) done.push_back(MailNotice(settings, notice, timing_));
        lock.lock();
        for (Delivery& d : done) reports_.push_back(std::move(d));
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace lumivo::notify
