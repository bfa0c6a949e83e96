// Shared by the desktop program's tests: one QApplication on the offscreen platform for the
// whole test program, and a rig holding a complete program (shipped installation folder in
// memory, scripted dialogs, virtual clock, simulated instrument on one port) around Frm_Main.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window/acquisition_window.h"
#include "app/main_window/control_panels.h"
#include "app/main_window/frm_main.h"
#include "app/support/app_context.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"
#include "sim/instrument.h"
#include "sim/sim_transport.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"
#include "support/sim_plates.h"

namespace lumivo::app::testing {

// The one application object of the test program, created on first use. It is never
// destroyed: Qt's own globals are gone by the time static destructors would run.
inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QApplication* const app = [] {
        // Tests never need a display.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        auto* created = new QApplication(argc, argv);
        // Remembered window places go to a folder of this test program, never the user's.
        static QTemporaryDir settings;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        return created;
    }();
    return *app;
}

inline const std::filesystem::path kInstall = "/inst";

// The control called `name` (its kept name) inside `window`; null, and a failed expectation, when
// there is none.
template <typename W>
W* Control(const QObject* window, const QString& name) {
    W* control = window->findChild<W*>(name);
    EXPECT_NE(control, nullptr) << "no control " << name.toStdString();
    return control;
}

// What a label, button or box shows.
template <typename W>
std::string Text(const W* widget) {
    return widget->text().toStdString();
}

// The main window's parts, found by their object names.
inline AcquisitionWindow& Acquisition(Frm_Main& window) {
    return *window.findChild<AcquisitionWindow*>("acquisition");
}
inline ControlPanels& Panels(Frm_Main& window) {
    return *window.findChild<ControlPanels*>("control_panels");
}

// Forgets the window sizes and positions remembered by earlier tests of this program.
inline void ForgetWindowPlaces() {
    TestApplication();
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Lumivo", "lumivo").clear();
}

// Scripted dialogs whose pass of window events can run a step of the test, as a user acting
// while a long operation lets the window react.
class EventScriptedDialogs final : public Dialogs {
  public:
    MsgResult MessageBox(const std::string& text, MsgButtons b, const std::string& t) override {
        return script_.MessageBox(text, b, t);
    }
    std::optional<std::string> InputBox(const std::string& p, const std::string& t,
                                        const std::string& d) override {
        return script_.InputBox(p, t, d);
    }
    // The window's events run while the question is open (`on_events`, the test's step);
    // once `holds` fails the box goes by itself, as the real one does, and uses no answer.
    MsgResult AskWhile(const std::function<bool()>& holds, const std::string& text,
                       MsgButtons buttons, const std::string& accept,
                       const std::string& title) override {
        if (on_events) {
            auto step = std::move(on_events);
            on_events = nullptr;
            step();
        }
        if (holds && !holds()) {
            withdrawn.push_back(text);
            return MsgResult::Cancel;
        }
        return accept.empty() ? script_.MessageBox(text, buttons, title)
                              : script_.Confirm(text, accept, title);
    }
    // The questions that went away by themselves.
    std::vector<std::string> withdrawn;

    void ProcessEvents() override {
        script_.ProcessEvents();
        if (on_events) {
            auto step = std::move(on_events);
            on_events = nullptr;
            step();
        }
    }

    void QueueAnswer(MsgResult r) { script_.QueueAnswer(r); }
    void QueueInput(std::optional<std::string> text) { script_.QueueInput(std::move(text)); }
    const std::vector<lumivo::testing::ScriptedDialogs::Shown>& shown() const {
        return script_.shown();
    }
    std::vector<std::string> Messages() const { return script_.Messages(); }
    bool Showed(const std::string& text) const { return script_.Showed(text); }
    bool AllAnswersUsed() const { return script_.AllAnswersUsed(); }

    // Runs once, at the next pass of window events.
    std::function<void()> on_events;

  private:
    lumivo::testing::ScriptedDialogs script_;
};

struct AppRig {
    // instrument_port 0: no instrument anywhere.
    explicit AppRig(int instrument_port, sim::SimConfig sim_config = {})
        : instrument(std::move(sim_config)), port(instrument_port) {
        TestApplication();
        files.CreateFolders(kInstall);
        EnsureInstallation(files, kInstall);
        ctx = std::make_unique<AppContext>(clock, dialogs, files, kInstall, Opener());
        ctx->storage.list_separator_source = [] { return std::string(","); };
        ctx->exit_program = [this](int code) { exits.push_back(code); };
        ctx->open_document = [this](const QUrl& url) {
            opened_documents.push_back(url.toLocalFile().toStdString());
            return true;
        };
        window = std::make_unique<Frm_Main>(*ctx);
    }
    ~AppRig() {
        window.reset();
        ctx.reset();
    }

    TransportOpener Opener() {
        return [this](int p, const std::string&) {
            opened_ports.push_back(p);
            if (p != port) return TransportOpenResult{nullptr, ENOENT};
            return TransportOpenResult{std::make_unique<sim::SimTransport>(instrument, clock), 0};
        };
    }

    bool PortOpen(int p) const { return ctx->link.ports.table[static_cast<std::size_t>(p)].open; }
    Frm_Init& launcher() { return *window->launcher(); }
    AppState& state() { return ctx->state; }

    lumivo::testing::FakeClock clock;
    EventScriptedDialogs dialogs;
    MemoryFileSystem files;
    sim::Instrument instrument;
    int port;
    std::vector<int> opened_ports;
    std::vector<int> exits;
    std::vector<std::string> opened_documents;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frm_Main> window;
};

// A connected main window on project 1 (created in the in-memory installation), with the
// automatic calibration and zero off so that the start goes straight to sampling.
struct RecordingRig {
    RecordingRig() : r(1) {
        r.window->Form_Load("");
        r.window->cmd_connect_Click();
        AppState& s = r.state();
        s.config.Actual_Project_Number = 1;
        s.project.ProjectFolder = ProjectFolderFor(kInstall, 1);
        r.files.CreateFolders(s.project.ProjectFolder);
        r.ctx->tools.calibration.AutoCalibrateOnStart = false;
        r.ctx->tools.calibration.AutoZeroOnStart = false;
    }
    AcquisitionWindow& acq() { return Acquisition(*r.window); }
    AppRig r;
};

using lumivo::testing::EmptyPlate;

// The program loaded, its window shown and connected to the instrument on COM1.
struct ConnectedRig {
    explicit ConnectedRig(sim::SimConfig config = EmptyPlate()) : r(1, std::move(config)) {
        r.window->Form_Load("");
        r.launcher().hide();
        r.window->show();
        r.window->cmd_connect_Click();
        EXPECT_TRUE(r.state().connection.InstrumentConnected);
    }
    Frm_Main& w() { return *r.window; }
    AppRig r;
};

}  // namespace lumivo::app::testing
