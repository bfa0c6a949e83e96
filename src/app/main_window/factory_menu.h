// The main window's Tools > "Factory" menu (`mn_factory`) and the two factory windows it opens in
// place of the main window: the temperature-sensor window Frm_Factory and the channel
// calibration station Frm_Bench. Both open only when the program is online and no acquisition
// (nor the device test) runs; otherwise the refusal is shown. Closing one brings the main
// window back.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <functional>

#include "app/support/app_context.h"
#include "app/support/window_roles.h"
#include "app/windows/frm_bench.h"
#include "app/windows/frm_factory.h"

namespace lumivo::app {

class FactoryMenu : public QObject {
    Q_OBJECT
  public:
    // `port_free` says whether no acquisition, blank or device test uses the port.
    // The factory windows open in place of `main` and give it back when they close.
    FactoryMenu(QObject* parent, AppContext& ctx, ParentWindow& main,
                std::function<bool()> port_free);

    // The "Factory" submenu with its two entries, added to `tools`; returns its action.
    QAction* AddTo(QMenu* tools);

    // "Temperature Sensing Calibration..." and "Channel Calibration Station...".
    void mn_factory_sensor_Click();
    void mn_factory_bench_Click();

    Frm_Factory* sensor_window() const { return sensor_; }
    Frm_Bench* bench_window() const { return bench_; }

  private:
    bool Allowed();
    void ShowInPlaceOfMain(QWidget* window);

    AppContext& ctx_;
    ParentWindow& main_;
    std::function<bool()> port_free_;
    Frm_Factory* sensor_ = nullptr;
    Frm_Bench* bench_ = nullptr;
};

}  // namespace lumivo::app
