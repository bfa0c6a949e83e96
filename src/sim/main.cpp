// lumivo-sim: the simulated instrument on a pseudo-terminal, reachable as port COMn of an
// installation folder.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/platform/install_dir.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
    using namespace lumivo::sim;
    SimProgramOptions options;
    try {
        options = ParseSimArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const SimUsageError& e) {
        std::cerr << "lumivo-sim: " << e.what() << "\n" << SimUsage();
        return 2;
    }
    for (const std::string& note : options.notes) std::cerr << "lumivo-sim: " << note << "\n";
    if (options.help) {
        std::cout << SimUsage();
        return 0;
    }
    if (options.version) {
        std::cout << "lumivo-sim " << LUMIVO_VERSION << "\n";
        return 0;
    }

    // The signals are taken by a thread of their own through sigwait(), so the serving loop
    // needs no handler and no global state. Blocked before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        Instrument instrument(options.config);
        // A store that cannot be written is found out now, not at the first register write.
        std::string store_error;
        if (options.config.store_path.has_parent_path()) {
            std::error_code ignored;  // a failure shows in the save below
            std::filesystem::create_directories(options.config.store_path.parent_path(), ignored);
        }
        if (!options.config.store_path.empty() &&
            !instrument.SaveStore(options.config.store_path, &store_error)) {
            std::cerr << "lumivo-sim: " << store_error << "\n";
            return 1;
        }
        PtyServer server(instrument,
                         {lumivo::ComLinkPath(options.install_dir, options.com_port), 300});
        std::cout << "lumivo-sim: serving " << server.SlavePath().string() << " as "
                  << server.LinkPath().string() << " (serial " << instrument.SerialNumber() << ")"
                  << std::endl;

        std::thread signal_thread([&server, &signals] {
            for (;;) {
                int sig = 0;
                if (sigwait(&signals, &sig) != 0) continue;
                if (sig == SIGUSR1) {
                    server.RequestUnplugToggle();
                    continue;
                }
                server.RequestStop();
                return;
            }
        });
        int status = 0;
        try {
            server.Run();
        } catch (const std::exception& e) {
            std::cerr << "lumivo-sim: " << e.what() << "\n";
            status = 1;
            // Wake the signal thread so it can be joined.
            ::kill(::getpid(), SIGTERM);
        }
        signal_thread.join();
        server.RemoveLink();
        if (!instrument.LastStoreError().empty()) {
            std::cerr << "lumivo-sim: " << instrument.LastStoreError() << "\n";
        }
        return status;
    } catch (const std::exception& e) {
        std::cerr << "lumivo-sim: " << e.what() << "\n";
        return 1;
    }
}
