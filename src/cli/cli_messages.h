// What lumivo-cli tells its user: every line of every message on stderr starts with
// "lumivo-cli COMMAND: ", whether the command or a core procedure (through its message boxes)
// wrote it.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "core/device/mod_comm.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"
#include "core/ui_port.h"

namespace lumivo::cli {

// Writes `text` to `out`, each of its lines (CR LF or LF) prefixed with
// "lumivo-cli COMMAND: ".
void PrintMessage(std::ostream& out, std::string_view command, std::string_view text);
// The same on stderr.
void PrintError(std::string_view command, std::string_view text);

// The message boxes of the core procedures a command runs, printed on stderr. Questions get
// Answer(): OK where OK is offered, Yes otherwise; input boxes their default text.
class CliDialogs : public Dialogs {
  public:
    explicit CliDialogs(std::string command) : command_(std::move(command)) {}

    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;

    const std::string& command() const { return command_; }
    // Called before each message (to end a progress line drawn in place).
    std::function<void()> before_message;

  protected:
    virtual MsgResult Answer(MsgButtons buttons);
    void Print(std::string_view text) const;

  private:
    std::string command_;
};

// Why a port could not be opened and what to do about it: the port, the device it stands for,
// the error record's step and text, then advice for the common causes (a regular file or
// folder where the device should be, a missing device, no permission, a port in use).
std::string PortOpenFailure(const std::filesystem::path& install_dir, int port,
                            const std::string& device, const CommErrorRecord& error);

// "no answer from the instrument on COMn (device)" and what to check.
std::string NoInstrumentAnswer(const std::filesystem::path& install_dir, int port,
                               const std::string& device);

// Loads project `number` from its folder as it is stored (no recovery, no defaults, nothing
// written). When it cannot be loaded, prints which file, how far loading got and why, that
// nothing was changed and what to do, and returns false.
bool LoadStoredProject(StorageContext& storage, std::string_view command, int number,
                       ProjectState& project, PlateMap& plate, SetupUse use);

// The folder of an acquisition named on the command line: a folder path, or "N/yyyymmdd_hhmm"
// and "p0000N/yyyymmdd_hhmm" inside the installation folder; absolute, without a trailing
// separator. Whether it exists is for the caller to check.
std::filesystem::path AcquisitionFolderArgument(const std::filesystem::path& install_dir,
                                                const std::string& text);

}  // namespace lumivo::cli
