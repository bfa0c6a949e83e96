// What a recording tells someone who is not watching: every kind of notice reaches the
// command of the settings, and a command that hangs or a server that cannot be reached changes
// nothing in what is recorded.
#include <gtest/gtest.h>

#include <chrono>

#include "acquisition_rig.h"
#include "core/notify/notifier.h"
#include "support/smtp_server.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Notices, EveryKindOfNoticeReachesTheCommand) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 6;
    const fs::path got = rig.temp.path() / "notices.txt";
    notify::NotifySettings settings;
    settings.command = {"/bin/sh", "-c",
                        "printf '%s|%s|%s\\n' \"$LUMIVO_EVENT\" \"$LUMIVO_ACQUISITION\" "
                        "\"$LUMIVO_TIME\" >> " +
                            got.string()};
    settings.rules.lost_minutes = 1;
    settings.rules.temperature_minutes = 0;
    settings.rules.temperature_band = 1.0;
    notify::Notifier notifier(settings);
    rig.engine.SetNotices(&notifier);

    // Thermostat on at 30 C with the plate at 22 C; then the disk fills up, leaving room for
    // less than the rest of the run.
    rig.climate.temperature_control_enabled = true;
    rig.climate.temperature_tenths = 300;
    ASSERT_EQ(rig.Start("watched"), StartOutcome::Started);
    rig.files.free_bytes = 2u * 1024 * 1024;
    rig.RunWindows(1);
    rig.file_ops.fail = true;  // a window cannot be written
    rig.RunWindows(1);
    rig.file_ops.fail = false;
    rig.files.free_bytes.reset();
    rig.RunWindows(1);
    rig.socket.Pull();  // lost for more than a minute
    rig.RunFor(75.0);
    rig.socket.Plug(rig.instrument);
    rig.RunFor(600.0);
    ASSERT_FALSE(rig.engine.Running());
    const fs::path folder = rig.Folder();

    // A start that fails: a register that garbles every write.
    rig.controls.AutoCalibrateOnStart = true;
    rig.instrument.Faults().bad_echo_channels = {5};
    rig.clock.AdvanceMicros(60'000'000);
    EXPECT_EQ(rig.Start("failing"), StartOutcome::Failed);

    ASSERT_TRUE(notifier.WaitIdle(30s));
    const std::string text = ReadFile(got);
    for (const char* kind : {"temperature", "disk-space", "write-failure", "instrument-lost",
                             "instrument-reconnected", "run-ended", "run-failed"}) {
        EXPECT_NE(text.find(std::string(kind) + "|"), std::string::npos) << kind << "\n" << text;
    }
    EXPECT_NE(text.find("run-ended|" + folder.string() + "|2026-03-14T09:"), std::string::npos)
        << text;
    // Each once.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7) << text;
    // The outcomes go into events.log while the run is recorded.
    const std::string log = ReadFile(folder / kEventLogFileName);
    EXPECT_NE(log.find("Notification (instrument-lost) sent by the command /bin/sh -c"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Temperature out of its band: The plate is at 2"), std::string::npos);
    EXPECT_NE(log.find("Low disk space: the disk of "), std::string::npos);
}

TEST(Notices, AHungCommandAndAnUnreachableServerChangeNothingInTheRecording) {
    auto record = [](notify::Notifier* notifier) {
        AcquisitionRig rig;
        rig.app.project.Setup.Aq_lapse = 3;
        rig.engine.SetNotices(notifier);
        rig.climate.temperature_control_enabled = true;
        rig.climate.temperature_tenths = 300;  // a notice at every window close until sent
        EXPECT_EQ(rig.Start("unbothered"), StartOutcome::Started);
        rig.RunTicks(20000);
        EXPECT_FALSE(rig.engine.Running());
        return std::pair{ReadFile(rig.Folder() / kCountsFileName),
                         ReadFile(rig.Folder() / RawPageFileName(0))};
    };
    const auto plain = record(nullptr);

    TempFolder dir("lumivo-notices");
    notify::NotifySettings settings;
    settings.command = {"/bin/sleep", "600"};
    settings.mail = true;
    settings.smtp_host = "127.0.0.1";
    settings.smtp_port = FreeTcpPort();
    settings.starttls = false;
    settings.mail_from = "lumivo@lab.example";
    settings.mail_to = "night@lab.example";
    settings.rules.temperature_minutes = 0;
    notify::NotifierTiming timing;
    timing.command_timeout = 1s;
    timing.mail_attempts = 2;
    timing.mail_retry_pause = 100ms;
    notify::Notifier notifier(settings, timing);
    const auto bothered = record(&notifier);
    EXPECT_EQ(bothered.first, plain.first);
    EXPECT_EQ(bothered.second, plain.second);
    ASSERT_TRUE(notifier.WaitIdle(30s));
    const auto reports = notifier.TakeReports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_NE(reports[0].find("did not end within 1 s and was killed"), std::string::npos)
        << reports[0];
    EXPECT_NE(reports[1].find("could not be mailed through 127.0.0.1:"), std::string::npos)
        << reports[1];
}

}  // namespace
}  // namespace lumivo::testing
