// The instrument search and the connect/disconnect/port-menu logic, against the in-process
// simulated instrument on a virtual clock. The opener records every port the search opens.
#include "core/device/connection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

#include "core/storage/file_system.h"
#include "sim/instrument.h"
#include "sim/sim_transport.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo {
namespace {

using testing::FakeClock;
using testing::ScriptedDialogs;

struct RecordingView final : ConnectionView {
    std::vector<std::string> status, news, autotext;
    std::vector<bool> panels;
    int checked = 0;
    std::vector<std::string> offline_notices;

    void SetStatusText(const std::string& t) override { status.push_back(t); }
    void SetLauncherNews(const std::string& t) override { news.push_back(t); }
    void SetAutoActionText(const std::string& t) override { autotext.push_back(t); }
    void ShowAutoActionPanels(bool v) override { panels.push_back(v); }
    void CheckPortMenuEntry(int port) override { checked = port; }
    void ShowOffline(const std::string& notice) override { offline_notices.push_back(notice); }
};

// Scripted dialogs with a hook that runs when the port prompt appears (the user plugging the
// instrument in before typing its port).
struct PromptHookDialogs final : Dialogs {
    ScriptedDialogs script;
    std::function<void()> on_input;
    MsgResult MessageBox(const std::string& text, MsgButtons b, const std::string& t) override {
        return script.MessageBox(text, b, t);
    }
    std::optional<std::string> InputBox(const std::string& p, const std::string& t,
                                        const std::string& d) override {
        if (on_input) on_input();
        return script.InputBox(p, t, d);
    }
    void ProcessEvents() override { script.ProcessEvents(); }
};

// A transport whose line settings cannot be applied: CommOpen fails after opening the device.
struct UnconfigurableTransport final : SerialTransport {
    int GetLineSettings(LineSettings& out) override {
        out = {};
        return 0;
    }
    int Configure(const LineSettings&) override { return EIO; }
    int Purge() override { return 0; }
    IoResult Read(std::uint8_t*, std::size_t, const ReadTimeouts&) override { return {}; }
    IoResult Write(std::span<const std::uint8_t> b, std::int64_t) override { return {b.size(), 0}; }
    int SetLine(LineFunction) override { return 0; }
    std::uint32_t TakeErrorFlags() override { return 0; }
    int Close() override { return 0; }
};

const std::filesystem::path kInstall = "/inst";

struct Bench {
    explicit Bench(int instrument_port, sim::SimConfig sim_config = {})
        : instrument(std::move(sim_config)), port(instrument_port) {
        files.CreateFolders(kInstall);
    }

    TransportOpener Opener() {
        return [this](int p, const std::string& name) {
            opened.push_back(p);
            EXPECT_EQ(name, "COM" + std::to_string(p));
            if (p == broken_port && broken_opens > 0) {
                --broken_opens;
                return TransportOpenResult{std::make_unique<UnconfigurableTransport>(), 0};
            }
            if (p != port) return TransportOpenResult{nullptr, ENOENT};
            return TransportOpenResult{std::make_unique<sim::SimTransport>(instrument, clock), 0};
        };
    }

    bool PortOpen(int p) const { return link.ports.table[static_cast<std::size_t>(p)].open; }
    int OpenPortCount() const {
        int n = 0;
        for (int p = 1; p <= 16; ++p) n += PortOpen(p) ? 1 : 0;
        return n;
    }

    FakeClock clock;
    PromptHookDialogs dialogs;
    MemoryFileSystem files;
    StorageContext storage{kInstall, dialogs, files};
    GlobalConfig config{1, 1, 4, 0};
    sim::Instrument instrument;
    int port;
    int broken_port = 0;
    int broken_opens = 0;
    std::vector<int> opened;
    DeviceLink link{clock, dialogs, Opener()};
    ConnectionState state;
    RecordingView view;
    ConnectionContext ctx{link, state, view, storage, config};
};

sim::SimConfig WithSerial(int serial) {
    sim::SimConfig c;
    c.serial_number = serial;
    return c;
}

TEST(OpenInstrumentPort, ConfiguredPortFirstThenScanFromOne) {
    Bench b(6);
    b.link.ComPortNumber = 4;
    ASSERT_TRUE(OpenInstrumentPort(b.ctx));
    // 4 (configured), then 1..6 (4 again), then 6 reopened to stay open.
    EXPECT_EQ(b.opened, (std::vector<int>{4, 1, 2, 3, 4, 5, 6, 6}));
    EXPECT_EQ(b.link.ComPortNumber, 6);
    EXPECT_EQ(b.link.SerialNumber, 123);
    EXPECT_FALSE(b.state.OfflineMode);
    EXPECT_TRUE(b.PortOpen(6));
    EXPECT_EQ(b.OpenPortCount(), 1);
    EXPECT_EQ(b.view.news, (std::vector<std::string>{"Status = Connected on COM[ 6 ]"}));
    EXPECT_EQ(b.view.status.front(), "Opening Port [4]");
    EXPECT_EQ(b.view.status.back(), "Connected on COM[ 6 ]");
    EXPECT_TRUE(b.dialogs.script.shown().empty());
    EXPECT_EQ(b.config.ComPortNumber, 6);  // the next connect starts where it was found
}

TEST(OpenInstrumentPort, SerialNumberWindowsOfConfiguredPortAndScan) {
    struct Case {
        int serial;
        std::vector<int> opened;  // when found
        bool found;
    };
    const std::vector<Case> cases = {
        {12, {4, 1, 2, 3, 4, 4}, true},  // refused on the configured port, taken in the scan
        {10, {4, 1, 2, 3, 4, 4}, true},  // lowest number the scan takes
        {14, {4, 1, 2, 3, 4, 4}, true},
        {15, {4, 4}, true},  // lowest number the configured port takes
        {200, {4, 4}, true},
        {9, {}, false},
        {201, {}, false},
        {32 * 255, {}, false},  // a one-byte answer 0x20: far above the window
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        Bench b(4, WithSerial(c.serial));
        b.link.ComPortNumber = 4;
        if (!c.found) b.dialogs.script.QueueInput("");
        EXPECT_EQ(OpenInstrumentPort(b.ctx), c.found);
        if (c.found) {
            EXPECT_EQ(b.opened, c.opened);
            EXPECT_EQ(b.link.SerialNumber, c.serial);
            EXPECT_TRUE(b.PortOpen(4));
        } else {
            EXPECT_TRUE(b.state.OfflineMode);
            EXPECT_EQ(b.link.SerialNumber, 0);
            EXPECT_EQ(b.OpenPortCount(), 0);
        }
    }
}

TEST(OpenInstrumentPort, NothingFoundAsksNamingPort15AndAnswersGoOffline) {
    struct Case {
        std::optional<std::string> answer;
    };
    // <Enter>, Cancel, not a number, out of range: offline without any further message.
    const std::vector<Case> cases = {{""}, {std::nullopt}, {"abc"}, {"0"}, {"16"}, {"3x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.value_or("<cancel>"));
        Bench b(0);
        b.link.ComPortNumber = 4;
        b.dialogs.script.QueueInput(c.answer);
        EXPECT_FALSE(OpenInstrumentPort(b.ctx));
        EXPECT_TRUE(b.state.OfflineMode);
        ASSERT_EQ(b.dialogs.script.shown().size(), 1u);
        EXPECT_EQ(b.dialogs.script.shown()[0].text,
                  "COM(15) PORT ERROR. Type New Port number or <Enter> to go Offline");
        EXPECT_EQ(b.opened,
                  (std::vector<int>{4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
        EXPECT_FALSE(b.files.IsFile(kInstall / "config.dat"));
    }
}

TEST(OpenInstrumentPort, TypedPortWithInstrumentIsIdentifiedKeptOpenAndSaved) {
    Bench b(3);
    b.link.ComPortNumber = 4;
    b.instrument.Faults().silent = true;  // not answering during the scan
    b.dialogs.on_input = [&] { b.instrument.Faults().silent = false; };
    b.dialogs.script.QueueInput(" 3 ");
    ASSERT_TRUE(OpenInstrumentPort(b.ctx));
    EXPECT_FALSE(b.state.OfflineMode);
    EXPECT_EQ(b.link.ComPortNumber, 3);
    EXPECT_EQ(b.link.SerialNumber, 123);
    EXPECT_TRUE(b.PortOpen(3));  // an acquisition would talk to the instrument
    EXPECT_EQ(b.OpenPortCount(), 1);
    EXPECT_EQ(b.files.ReadFile(kInstall / "config.dat"),
              "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n"
              "1,1,3,0\r\n");
    EXPECT_TRUE(b.dialogs.script.Messages().empty());
}

TEST(OpenInstrumentPort, TypedPortWithoutInstrumentGoesOfflineWithMessage) {
    struct Case {
        int typed;
        bool device_present;  // the port opens but nothing answers
    };
    for (const Case c : {Case{3, true}, Case{7, false}}) {
        SCOPED_TRACE(c.typed);
        Bench b(3);
        b.link.ComPortNumber = 4;
        b.instrument.Faults().silent = true;
        b.dialogs.script.QueueInput(std::to_string(c.typed));
        EXPECT_FALSE(OpenInstrumentPort(b.ctx));
        EXPECT_TRUE(b.state.OfflineMode);
        EXPECT_EQ(b.OpenPortCount(), 0);
        EXPECT_EQ(b.dialogs.script.Messages(),
                  (std::vector<std::string>{"Invalid Port Number. Offline Mode"}));
        EXPECT_FALSE(b.files.IsFile(kInstall / "config.dat"));
        EXPECT_EQ(b.link.ComPortNumber, c.typed);
    }
}

TEST(OpenInstrumentPort, PortThatFailedHalfwayCanBeOpenedAgain) {
    // The configured port 2 opens but its line settings fail; the scan must be able to open it
    // again rather than find the slot "in use".
    Bench b(2);
    b.link.ComPortNumber = 2;
    b.broken_port = 2;
    b.broken_opens = 1;
    ASSERT_TRUE(OpenInstrumentPort(b.ctx));
    EXPECT_EQ(b.opened, (std::vector<int>{2, 1, 2, 2}));
    EXPECT_EQ(b.link.ComPortNumber, 2);
    EXPECT_TRUE(b.PortOpen(2));
}

TEST(ConnectInstrument, ConnectsReadsSensorCalibrationAndMarksMenu) {
    sim::SimConfig sc;
    // Calibrated 03/25, offset -1.5 degrees, slope 0.250.
    sc.sensor_registers = {0, 3, 25, 1, 15, 250, 0, 0};
    Bench b(4, sc);
    ConnectInstrument(b.ctx);
    EXPECT_TRUE(b.state.InstrumentConnected);
    EXPECT_FALSE(b.state.OfflineMode);
    EXPECT_EQ(b.view.checked, 4);
    EXPECT_TRUE(b.link.sensor.calibrated);
    EXPECT_DOUBLE_EQ(b.link.sensor.slope, 0.25);
    EXPECT_DOUBLE_EQ(b.link.sensor.offset, -1.5);
    EXPECT_EQ(b.link.sensor.month, 3);
    EXPECT_EQ(b.view.autotext, (std::vector<std::string>{"CONNECTING:", ""}));
    EXPECT_EQ(b.view.panels, (std::vector<bool>{true, false}));
    EXPECT_EQ(b.view.status.front(), "STARTING.....");
    ASSERT_GE(b.view.status.size(), 2u);
    EXPECT_EQ(b.view.status[b.view.status.size() - 2], "Reading Factory Calibration...");
    EXPECT_EQ(b.view.status.back(), "");
    EXPECT_TRUE(b.view.offline_notices.empty());
    EXPECT_TRUE(b.PortOpen(4));
    EXPECT_EQ(LauncherConnectedNews(b.state, b.link.ComPortNumber),
              std::optional<std::string>("status: Connected in COM4"));
}

TEST(ConnectInstrument, EnterAtThePortQuestionGoesOffline) {
    Bench b(0);
    b.dialogs.script.QueueInput("");
    b.link.sensor.slope = 0.3;  // left from an earlier connection
    ConnectInstrument(b.ctx);
    EXPECT_TRUE(b.state.OfflineMode);
    EXPECT_FALSE(b.state.InstrumentConnected);
    // Offline as the question said: no second message, no other window.
    EXPECT_TRUE(b.dialogs.script.Messages().empty());
    EXPECT_EQ(b.view.offline_notices, std::vector<std::string>{kOfflineNotice});
    EXPECT_EQ(b.view.checked, 15);
    EXPECT_DOUBLE_EQ(b.link.sensor.slope, kDefaultSensorSlope);
    EXPECT_NE(std::find(b.view.status.begin(), b.view.status.end(), "Equipment not found"),
              b.view.status.end());
    EXPECT_FALSE(LauncherConnectedNews(b.state, b.link.ComPortNumber).has_value());
}

TEST(ConnectInstrument, SecondConnectReleasesTheOpenPortFirst) {
    Bench b(4);
    ConnectInstrument(b.ctx);
    ASSERT_TRUE(b.state.InstrumentConnected);
    b.opened.clear();
    ConnectInstrument(b.ctx);
    EXPECT_TRUE(b.state.InstrumentConnected);
    EXPECT_EQ(b.opened, (std::vector<int>{4, 4}));
    EXPECT_TRUE(b.dialogs.script.shown().empty());
}

TEST(DisconnectInstrument, ClosesThePortUnlessOffline) {
    Bench b(4);
    ConnectInstrument(b.ctx);
    ASSERT_TRUE(b.PortOpen(4));
    DisconnectInstrument(b.ctx);
    EXPECT_FALSE(b.PortOpen(4));
    EXPECT_FALSE(b.state.InstrumentConnected);

    Bench off(0);
    off.state.OfflineMode = true;
    off.link.ComPortNumber = 5;
    DisconnectInstrument(off.ctx);
    EXPECT_EQ(off.link.ports.error.code, 0);  // nothing was touched
}

TEST(SelectComPort, SavesTheChoiceAndKeepsTheOpenPort) {
    Bench b(4);
    ConnectInstrument(b.ctx);
    SelectComPort(b.ctx, 7);
    EXPECT_EQ(b.view.checked, 7);
    EXPECT_EQ(b.config.ComPortNumber, 7);
    EXPECT_NE(b.files.ReadFile(kInstall / "config.dat").find("\r\n1,1,7,0\r\n"), std::string::npos);
    // Still talking to the connected instrument until the next connect.
    EXPECT_EQ(b.link.ComPortNumber, 4);
    EXPECT_TRUE(b.PortOpen(4));

    for (int bad : {0, 16, -1}) {
        SelectComPort(b.ctx, bad);
        EXPECT_EQ(b.config.ComPortNumber, 7);
    }

    Bench idle(0);
    SelectComPort(idle.ctx, 9);
    EXPECT_EQ(idle.link.ComPortNumber, 9);
}

TEST(OpenInstrumentAt, AnsweringPortStaysOpenOthersAreClosedWithTheReason) {
    struct Case {
        const char* what;
        int port;
        bool silent;
        InstrumentAtPort::Result result;
        int error_code;
    };
    const Case cases[] = {
        {"the instrument answers", 4, false, InstrumentAtPort::Result::Answered, 0},
        {"nothing at the port", 5, false, InstrumentAtPort::Result::PortNotOpened, ENOENT},
        {"the port opens, nobody answers", 4, true, InstrumentAtPort::Result::NoAnswer, 0},
        {"the line cannot be set up", 7, false, InstrumentAtPort::Result::PortNotOpened, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimConfig config = WithSerial(77);
        config.faults.silent = c.silent;
        Bench b(4, config);
        b.broken_port = 7;
        b.broken_opens = 1;
        const InstrumentAtPort r = OpenInstrumentAt(b.link, c.port, ComPortName(c.port));
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.error.code, c.error_code);
        const bool answered = c.result == InstrumentAtPort::Result::Answered;
        EXPECT_EQ(b.PortOpen(c.port), answered);
        EXPECT_EQ(b.OpenPortCount(), answered ? 1 : 0);
        EXPECT_EQ(b.link.ComPortNumber, c.port);
        EXPECT_EQ(b.link.SerialNumber, answered ? 77 : 0);
        // Opening identifies the instrument; only accepting it connects the program.
        EXPECT_FALSE(b.state.InstrumentConnected);
        if (answered) {
            b.state.OfflineMode = true;
            AcceptInstrument(b.link, b.state);
            EXPECT_TRUE(b.state.InstrumentConnected);
            EXPECT_FALSE(b.state.OfflineMode);
            EXPECT_TRUE(b.link.sensor.registers[0] >= 0);  // the sensor registers were read
        }
    }
}

TEST(ParseTypedPort, DigitsOnly) {
    struct Case {
        const char* text;
        std::optional<int> port;
    };
    const Case cases[] = {{"3", 3},
                          {" 12 ", 12},
                          {"015", 15},
                          {"", std::nullopt},
                          {"  ", std::nullopt},
                          {"-3", std::nullopt},
                          {"+3", std::nullopt},
                          {"3.0", std::nullopt},
                          {"COM3", std::nullopt},
                          {"99999999999999", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ParseTypedPort(c.text), c.port) << c.text;
}

}  // namespace
}  // namespace lumivo
