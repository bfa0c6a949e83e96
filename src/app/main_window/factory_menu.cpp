#include "app/main_window/factory_menu.h"

#include "core/control/sensor_calibration.h"

namespace lumivo::app {

FactoryMenu::FactoryMenu(QObject* parent, AppContext& ctx, ParentWindow& main,
                         std::function<bool()> port_free)
    : QObject(parent), ctx_(ctx), main_(main), port_free_(std::move(port_free)) {
    setObjectName("factory_menu");
}

QAction* FactoryMenu::AddTo(QMenu* tools) {
    QMenu* menu = tools->addMenu("Factory");
    QAction* sensor = menu->addAction("Temperature Sensing Calibration...");
    sensor->setObjectName("mn_factory_sensor");
    QAction* bench = menu->addAction("Channel Calibration Station...");
    bench->setObjectName("mn_factory_bench");
    connect(sensor, &QAction::triggered, this, &FactoryMenu::mn_factory_sensor_Click);
    connect(bench, &QAction::triggered, this, &FactoryMenu::mn_factory_bench_Click);
    return menu->menuAction();
}

bool FactoryMenu::Allowed() {
    AppContext& ctx = ctx_;
    const ConnectionState& c = ctx.state.connection;
    return FactoryWindowsAllowed(ctx.dialogs, c.OfflineMode || !c.InstrumentConnected,
                                 port_free_());
}

void FactoryMenu::ShowInPlaceOfMain(QWidget* window) {
    window->move(main_.window().frameGeometry().topLeft() + QPoint(30, 30));
    main_.window().hide();
    window->show();
    window->raise();
    window->activateWindow();
}

void FactoryMenu::mn_factory_sensor_Click() {
    if (!Allowed()) return;
    if (sensor_ == nullptr) {
        sensor_ = new Frm_Factory(ctx_, &main_.window());
        sensor_->Unloaded = [this] { main_.ShowMainWindow(); };
    }
    sensor_->Form_Load();
    ShowInPlaceOfMain(sensor_);
}

void FactoryMenu::mn_factory_bench_Click() {
    if (!Allowed()) return;
    if (bench_ == nullptr) {
        bench_ = new Frm_Bench(ctx_, &main_.window());
        bench_->Unloaded = [this] { main_.ShowMainWindow(); };
        bench_->ExitProgram = [this] { main_.window().close(); };
    }
    bench_->Form_Load();
    ShowInPlaceOfMain(bench_);
}

}  // namespace lumivo::app
