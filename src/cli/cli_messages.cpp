#include "cli/cli_messages.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>

#include "cli/cli_args.h"
#include "core/common/com_ports.h"
#include "core/platform/install_dir.h"
#include "core/setup/project_ops.h"

namespace lumivo::cli {

void PrintMessage(std::ostream& out, std::string_view command, std::string_view text) {
    const std::string prefix = "lumivo-cli " + std::string(command) + ": ";
    std::string all;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        all += prefix;
        all += line;
        all += '\n';
        if (end == std::string_view::npos || end + 1 == text.size()) break;
        start = end + 1;
    }
    out << all << std::flush;
}

void PrintError(std::string_view command, std::string_view text) {
    PrintMessage(std::cerr, command, text);
}

MsgResult CliDialogs::MessageBox(const std::string& text, MsgButtons buttons, const std::string&) {
    if (before_message) before_message();
    Print(text);
    return Answer(buttons);
}

std::optional<std::string> CliDialogs::InputBox(const std::string&, const std::string&,
                                                const std::string& default_text) {
    return default_text;
}

MsgResult CliDialogs::Answer(MsgButtons buttons) {
    return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgResult::Ok
                                                                        : MsgResult::Yes;
}

void CliDialogs::Print(std::string_view text) const {
    PrintError(command_, text);
}

std::optional<std::string> OptionDialogs::InputBox(const std::string&, const std::string&,
                                                   const std::string&) {
    return std::nullopt;
}

void OptionDialogs::ProcessEvents() {
    if (process_events) process_events();
}

MsgResult OptionDialogs::Answer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
            return MsgResult::Ok;
        case MsgButtons::OkCancel:
            return ok_always || yes ? MsgResult::Ok : MsgResult::Cancel;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel:
            break;
    }
    if (!yes_option_.empty())
        Print(yes ? std::string("answered Yes") : "answered No (" + yes_option_ + " answers Yes)");
    return yes ? MsgResult::Yes : MsgResult::No;
}

namespace {

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += c == '\n' ? ' ' : c;
    }
    return out;
}

}  // namespace

MsgResult ReportDialogs::MessageBox(const std::string& text, MsgButtons buttons,
                                    const std::string&) {
    using reporting::ZeroBasalPolicy;
    if (buttons == MsgButtons::YesNo) {  // "You have N BASAL WELLS with 0 activity..."
        Print(text);
        if (zero_basal) return MsgResult::Yes;
        missing = "--zero-basal max|average|discard is needed to go on with zero-basal wells";
        return MsgResult::No;
    }
    if (buttons == MsgButtons::YesNoCancel) {  // the zero-basal policy
        switch (zero_basal.value_or(ZeroBasalPolicy::Discard)) {
            case ZeroBasalPolicy::Maximum:
                return MsgResult::Yes;
            case ZeroBasalPolicy::PlateAverage:
                return MsgResult::No;
            case ZeroBasalPolicy::Discard:
                return MsgResult::Cancel;
        }
        return MsgResult::Cancel;
    }
    Print(text);
    return buttons == MsgButtons::OkCancel ? MsgResult::Cancel : MsgResult::Ok;
}

std::optional<std::string> ReportDialogs::InputBox(const std::string& prompt, const std::string&,
                                                   const std::string&) {
    // The basal-minutes question; a second question means the answer was refused.
    if (basal_minutes && !asked_) {
        asked_ = true;
        return std::to_string(*basal_minutes);
    }
    missing = basal_minutes ? "--basal-minutes is out of range: " + OneLine(prompt)
                            : "--basal-minutes is needed: " + OneLine(prompt);
    return std::nullopt;
}

std::string PortOpenFailure(const std::filesystem::path& install_dir, int port,
                            const std::string& device, const CommErrorRecord& error) {
    const std::string name = ComPortName(port);
    const bool named_port = device == name;
    const std::filesystem::path path =
        named_port ? ResolveComDevice(install_dir, port) : std::filesystem::path(device);
    std::string text =
        "cannot open " + device + (named_port ? " (" + path.string() + ")" : "") + ": " +
        error.operation + ": " +
        (error.message.empty() ? "error " + std::to_string(error.code) : error.message);
    const std::string link = ComLinkPath(install_dir, port).string();
    const std::string simulator =
        "lumivo-sim --install " + install_dir.string() + " --com " + std::to_string(port);
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (error.code == ENOTTY && exists && S_ISREG(st.st_mode)) {
        text += "\n" + path.string() +
                " is a regular file, not a serial device. Replace it with a link to the "
                "instrument's serial device (for example: ln -sf /dev/ttyUSB0 " +
                link + ") or start the simulated instrument with: " + simulator;
    } else if (error.code == ENOTTY || error.code == EISDIR) {
        text += "\n" + path.string() +
                " is not a serial device. Link it to the instrument's serial device (for "
                "example: ln -sf /dev/ttyUSB0 " +
                link + ")";
    } else if (error.code == ENOENT) {
        text += "\nConnect the instrument and link " + link +
                " to its serial device (for example: ln -sf /dev/ttyUSB0 " + link +
                "), or start the simulated instrument with: " + simulator;
    } else if (error.code == EACCES || error.code == EPERM) {
        text += "\nYour user may not open " + path.string() +
                ": add it to the device's group (usually dialout: sudo usermod -aG dialout "
                "$USER) and log in again.";
    } else if (error.code == EBUSY || error.code == -1) {
        text +=
            "\nAnother program (lumivo, lumivo-cli or lumivo-sim) is using the port; end it "
            "or choose another port with --com.";
    }
    return text;
}

std::string NoInstrumentAnswer(const std::filesystem::path& install_dir, int port,
                               const std::string& device) {
    const std::string name = ComPortName(port);
    const std::string path =
        device == name ? ResolveComDevice(install_dir, port).string() : std::string(device);
    return "no answer from the instrument on " + device +
           (path != device ? " (" + path + ")" : "") +
           ": check that the instrument is switched on and connected to this port (or that "
           "lumivo-sim serves it), then try again.";
}

bool OpenInstrumentPort(std::string_view command, DeviceLink& link,
                        const std::filesystem::path& install_dir, int port,
                        const std::string& device) {
    const InstrumentAtPort opened = OpenInstrumentAt(link, port, device);
    switch (opened.result) {
        case InstrumentAtPort::Result::Answered:
            return true;
        case InstrumentAtPort::Result::PortNotOpened:
            PrintError(command, PortOpenFailure(install_dir, port, device, opened.error));
            return false;
        case InstrumentAtPort::Result::NoAnswer:
            PrintError(command, NoInstrumentAnswer(install_dir, port, device));
            return false;
    }
    return false;
}

std::string StoredProjectFailure(int number, const ProjectLoadFailure& failure) {
    return "cannot load project " + std::to_string(number) + ": " + failure.Describe() +
           "\nNothing was changed. Repair or restore the file (the program recovers setup.dat "
           "from setup.bak or the latest acquisition when it loads the project), then run the "
           "command again.";
}

bool LoadStoredProject(StorageContext& storage, std::string_view command, int number,
                       ProjectState& project, PlateMap& plate, SetupUse use) {
    const auto failure = LoadProjectAsStored(storage, number, project, plate, use);
    if (!failure) return true;
    PrintError(command, StoredProjectFailure(number, *failure));
    return false;
}

std::filesystem::path AcquisitionFolderArgument(const std::filesystem::path& install_dir,
                                                const std::string& text) {
    namespace fs = std::filesystem;
    fs::path p(text);
    std::error_code ec;
    if (!fs::is_directory(p, ec)) {
        const fs::path relative = p.lexically_normal();
        const std::string first =
            relative.begin() != relative.end() ? relative.begin()->string() : "";
        const auto number = ParseInteger(first);
        if (number && *number >= 0 && *number <= kLastProjectNumber && relative.has_parent_path())
            p = ProjectFolderFor(install_dir, static_cast<int>(*number)) / relative.filename();
        else
            p = install_dir / relative;
    }
    p = fs::absolute(p, ec).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    return p;
}

}  // namespace lumivo::cli
