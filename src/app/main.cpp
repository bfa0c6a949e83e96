// lumivo: the desktop program. Options: "--install DIR" (installation folder), "--simulate"
// (serve the built-in simulated instrument as a port of the installation folder); what remains
// of the command line is tested for the autorun switch "/RUN".
#include <pthread.h>
#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window/frm_main.h"
#include "app/support/app_context.h"
#include "app/support/qt_dialogs.h"
#include "core/acquisition/sampling_priority.h"
#include "core/device/mod_comm.h"
#include "core/platform/install_dir.h"
#include "core/startup/startup.h"
#include "core/storage/config_file.h"
#include "core/storage/installation.h"
#include "sim/simulator_host.h"

namespace {

// The configured port, read without bothering the user (the start-up reads it again with its
// messages): the simulated instrument is placed there when that port is free.
int ConfiguredPort(lumivo::FileSystem& files, const std::filesystem::path& install_dir) {
    lumivo::DefaultAnswerDialogs quiet;
    lumivo::StorageContext storage{install_dir, quiet, files};
    lumivo::GlobalConfig config;
    if (lumivo::ConfigFileExists(storage)) lumivo::LoadConfig(storage, config);
    return config.ComPortNumber;
}

// SIGINT and SIGTERM end the program through its event loop, so the simulated instrument's
// port link is removed and the ports are closed as on a normal exit. The signals are blocked
// before any thread starts and taken by one thread with sigwait(): no handler, no global state.
class SignalWatcher {
  public:
    explicit SignalWatcher(sigset_t blocked) : blocked_(blocked) {
        thread_ = std::thread([this] {
            for (;;) {
                int sig = 0;
                if (sigwait(&blocked_, &sig) != 0) continue;
                if (done_.load()) return;
                QMetaObject::invokeMethod(
                    qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
            }
        });
    }
    ~SignalWatcher() {
        done_.store(true);
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

  private:
    sigset_t blocked_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace lumivo;
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    // "--help" and "--version" answer before the window system is opened, so they work on a
    // terminal without a display (and for help2man).
    {
        const AppCommandLine early =
            ParseAppCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (early.help || early.version) {
            std::fputs(early.help ? AppUsage().c_str() : AppVersionLine().c_str(), stdout);
            return 0;
        }
    }

    QApplication qt(argc, argv);
    // The program ends through its own exits (the launcher's "EXIT", closing the main window).
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt has taken its own options (-platform, -style, ...) out of argv by now.
    const AppCommandLine command_line =
        ParseAppCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!command_line.usage_error.empty()) {
        std::fprintf(stderr, "lumivo: %s\n%s", command_line.usage_error.c_str(),
                     AppUsage().c_str());
        return 2;
    }
    app::QtDialogs qt_dialogs;
    Dialogs& dialogs = qt_dialogs;
    LocalFileSystem files;
    SystemClock clock;

    const InstallationResult installed =
        EnsureInstallation(files, command_line.install_dir, InstalledDataDir());
    if (!installed.ok()) {
        dialogs.MessageBox(installed.error);
        return 1;
    }

    std::unique_ptr<sim::SimulatorHost> simulator;
    if (command_line.simulate) {
        try {
            sim::SimConfig config;
            config.store_path = command_line.install_dir / "ports" / "simulator.store";
            simulator = sim::SimulatorHost::AsPort(command_line.install_dir,
                                                   ConfiguredPort(files, command_line.install_dir),
                                                   std::move(config));
        } catch (const std::exception& e) {
            dialogs.MessageBox(std::string("The simulated instrument could not be started: ") +
                               e.what());
        }
    }

    int status = 0;
    {
        app::AppContext ctx(clock, dialogs, files, command_line.install_dir,
                            TerminalDeviceOpener(command_line.install_dir));
        ctx.state.config_restored = installed.ConfigRestored();
        app::Frm_Main main_window(ctx);
        SignalWatcher watcher(blocked);
        // The sampling loop ticks on this thread between the window events: a raised priority
        // keeps its ticks on the serial line's pace while other programs load the processors.
        const SamplingPriority priority = RaiseCallingThreadPriority();
        std::fprintf(stderr, "lumivo: %s\n", priority.text.c_str());
        main_window.AppendLog(priority.text);
        QTimer::singleShot(0, &main_window, [&main_window, &command_line] {
            main_window.Form_Load(command_line.remaining);
        });
        status = QApplication::exec();
    }
    simulator.reset();
    return status;
}
