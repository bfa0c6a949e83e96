// A mark on an acquisition folder while a run records into it, so that other parts of the
// program, and other processes (a second desktop program, lumivo-cli), can tell that the folder
// must not be renamed or rewritten meanwhile.
//
// The mark is an open-file-description read lock on the folder itself: it needs no file in the
// folder, it is dropped by the kernel when the recording process ends for any reason (a crash
// included), and testing for it takes no lock, so a look from the browser never gets in the
// recording's way.
#pragma once

#include <filesystem>

namespace lumivo {

class RecordingMark {
  public:
    RecordingMark() = default;
    ~RecordingMark() { Release(); }
    RecordingMark(const RecordingMark&) = delete;
    RecordingMark& operator=(const RecordingMark&) = delete;

    // Marks `folder` (releasing any earlier mark). False when the folder cannot be opened or
    // locked; the recording goes on without the mark.
    bool Take(const std::filesystem::path& folder);
    void Release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// True while some process holds a RecordingMark on `folder`.
bool IsBeingRecorded(const std::filesystem::path& folder);

}  // namespace lumivo
