// The launcher: four choices shown at start-up ("Setup a New Project", "Run Latest Project",
// "Analyze recorded experiments", "EXIT"), a news line and the version label.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "core/platform/ui_port.h"
#include "core/startup/startup.h"

namespace lumivo::app {

inline const char* const kVersionLabel = kVersionText;

class Frm_Init : public QWidget {
    Q_OBJECT
  public:
    explicit Frm_Init(Dialogs& dialogs, QWidget* parent = nullptr);

    QLabel* LblNews() const { return LblNews_; }
    QLabel* Label_version() const { return Label_version_; }
    QLabel* Label_option(int index) const {
        return labels_.at(static_cast<std::size_t>(index - 1));
    }
    QFrame* Frame_option(int index) const {
        return frames_.at(static_cast<std::size_t>(index - 1));
    }

    // Whether the choices react yet (the launcher is shown, not usable, while start-up runs).
    void SetUsable(bool usable);
    bool usable() const { return usable_; }

    // A click on option 1..4 (on its label or on its frame).
    void Option_Click(int index);
    // The mouse moved over option 1..4: that frame light yellow, the other three white.
    void Frame_MouseMove(int index);
    // The frame highlighted last (0 when none).
    int highlighted() const { return highlighted_; }

    // Asked each time the launcher becomes the active window: the news text to show then
    // (the connected port while an instrument is connected), or nullopt to keep the line.
    void SetActivationNews(std::function<std::optional<std::string>()> news) {
        activation_news_ = std::move(news);
    }
    void Form_Activate();

  signals:
    void setupNewProject();
    void runLatestProject();
    void analyzeRecorded();
    void exitConfirmed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    // Closing the launcher's window is the "EXIT" choice.
    void closeEvent(QCloseEvent* event) override;

  private:
    Dialogs& dialogs_;
    std::array<QFrame*, 4> frames_{};
    std::array<QLabel*, 4> labels_{};
    QLabel* LblNews_ = nullptr;
    QLabel* Label_version_ = nullptr;
    QLabel* maker_ = nullptr;
    bool usable_ = false;
    int highlighted_ = 0;
    bool placed_ = false;
    std::function<std::optional<std::string>()> activation_news_;
};

}  // namespace lumivo::app
