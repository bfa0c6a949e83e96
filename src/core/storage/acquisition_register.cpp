#include "core/storage/acquisition_register.h"

#include <cstdio>
#include <exception>

#include "core/storage/field_record.h"
#include "core/storage/well_map.h"

namespace lumivo {

namespace fs = std::filesystem;

std::string AcquisitionFolderName(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100);
    return buf;
}

namespace {

std::string FormatRegister(const AcquisitionRegister& reg) {
    RecordWriter out;
    out.Text(reg.name).EndLine();
    out.Text(reg.description).EndLine();
    return out.Take();
}

AcquisitionRegister ParseRegister(const std::string& content, bool need_description) {
    RecordReader in(content);
    AcquisitionRegister reg;
    reg.name = in.AnyRecord().front().text;
    if (need_description || in.HasData()) reg.description = in.AnyRecord().front().text;
    return reg;
}

}  // namespace

void WriteAcquisitionRegister(StorageContext& ctx, const fs::path& folder,
                              const AcquisitionRegister& reg) {
    ctx.files.WriteFile(folder / kRegisterFileName, FormatRegister(reg));
}

std::string CreateAcquisitionFolder(StorageContext& ctx, int actual_project_number,
                                    const ProjectState& project, const LocalDateTime& now,
                                    const std::string& experiment_name,
                                    const std::string& description) {
    std::string refusal = CheckStorableText(experiment_name, "The experiment name");
    if (refusal.empty()) refusal = CheckStorableText(description, "The description");
    if (!refusal.empty()) throw StorageError(refusal);
    const std::string name = AcquisitionFolderName(now);
    const fs::path folder = project.ProjectFolder / name;
    // An existing folder of the same minute is reused; a failure to create it shows up as a
    // failure to write the files into it.
    if (!ctx.files.IsFolder(folder)) (void)ctx.files.CreateFolders(folder);
    SaveProjectFiles(ctx, folder, actual_project_number, project);
    // The plate map goes with the other project files, byte for byte: the acquisition is
    // analysed with the map it was recorded under, even when the project's changes later.
    const fs::path wells = WellMapPath(project.ProjectFolder);
    if (ctx.files.IsFile(wells))
        ctx.files.WriteFile(WellMapPath(folder), ctx.files.ReadFile(wells));
    WriteAcquisitionRegister(ctx, folder, {experiment_name, description});
    return name;
}

std::optional<AcquisitionRegister> ReadAcquisitionRegister(StorageContext& ctx,
                                                           const fs::path& folder) {
    const fs::path file = folder / kRegisterFileName;
    if (!ctx.files.IsFile(file)) return std::nullopt;
    try {
        return ParseRegister(ctx.files.ReadFile(file), false);
    } catch (const StorageError&) {
        return std::nullopt;
    }
}

std::string ReadAcquisitionTitle(StorageContext& ctx, const fs::path& folder) {
    const auto reg = ReadAcquisitionRegister(ctx, folder);
    return reg ? reg->name : std::string();
}

std::string RenameAcquisition(StorageContext& ctx, const fs::path& folder,
                              const std::string& new_name) {
    const fs::path file = folder / kRegisterFileName;
    const fs::path backup = folder / kRegisterBackupName;
    if (!ctx.files.IsFile(file)) return new_name;
    if (auto refusal = CheckStorableText(new_name, "The experiment name"); !refusal.empty()) {
        ctx.dialogs.MessageBox(refusal);
        return "";
    }
    // The copy first, so that a failed rename leaves the old name in subproj.bak as well.
    try {
        ctx.files.WriteFile(backup, ctx.files.ReadFile(file));
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox("error: the acquisition was not renamed: " + backup.string() +
                               " could not be written (" + e.what() + ")");
        return "";
    }
    AcquisitionRegister reg;
    try {
        reg = ParseRegister(ctx.files.ReadFile(backup), true);
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox("error: the acquisition was not renamed: " + file.string() +
                               " does not hold a name line and a description line (" + e.what() +
                               ")");
        return "";
    }
    reg.name = new_name;
    try {
        WriteAcquisitionRegister(ctx, folder, reg);
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox("error: the acquisition was not renamed: " + file.string() +
                               " could not be written (" + e.what() + ")");
        return "";
    }
    return new_name;
}

}  // namespace lumivo
