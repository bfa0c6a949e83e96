#include "app/windows/frm_init.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QMouseEvent>
#include <QUrl>
#include <QVBoxLayout>

#include "app/support/qt_dialogs.h"
#include "app/support/window_placement.h"

namespace lumivo::app {

namespace {

const char* const kOptionCaptions[4] = {"Setup a New Project", "Run Latest Project",
                                        "Analyze recorded experiments", "EXIT"};
const char* const kMakerWebSite = "https://lumivo.example/";

void Paint(QFrame* frame, const QColor& colour) {
    QPalette p = frame->palette();
    p.setColor(QPalette::Window, colour);
    frame->setPalette(p);
    frame->setAutoFillBackground(true);
    frame->update();
}

}  // namespace

Frm_Init::Frm_Init(Dialogs& dialogs, QWidget* parent) : QWidget(parent), dialogs_(dialogs) {
    setObjectName("Frm_Init");
    setWindowTitle("Lumivo");
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(24, 18, 24, 18);

    auto* logo = new QLabel("LUMIVO", this);
    logo->setObjectName("Image_logo");
    logo->setAlignment(Qt::AlignCenter);
    QFont logo_font = logo->font();
    logo_font.setPointSize(26);
    logo_font.setBold(true);
    logo->setFont(logo_font);
    logo->installEventFilter(this);
    layout->addWidget(logo);

    maker_ = new QLabel("Activity monitor for small organisms", this);
    maker_->setObjectName("Label_maker");
    maker_->setAlignment(Qt::AlignCenter);
    maker_->installEventFilter(this);
    layout->addWidget(maker_);

    for (int i = 0; i < 4; ++i) {
        auto* frame = new QFrame(this);
        frame->setObjectName(QString("Frame_option%1").arg(i + 1));
        frame->setFrameShape(QFrame::Box);
        frame->setMouseTracking(true);
        frame->setMinimumHeight(44);
        frame->setCursor(Qt::PointingHandCursor);
        auto* fl = new QVBoxLayout(frame);
        auto* label = new QLabel(kOptionCaptions[i], frame);
        label->setObjectName(QString("Label_option%1").arg(i + 1));
        label->setAlignment(Qt::AlignCenter);
        QFont f = label->font();
        f.setPointSize(13);
        f.setBold(true);
        label->setFont(f);
        label->setMouseTracking(true);
        fl->addWidget(label);
        frame->installEventFilter(this);
        label->installEventFilter(this);
        Paint(frame, Qt::white);
        frames_[static_cast<std::size_t>(i)] = frame;
        labels_[static_cast<std::size_t>(i)] = label;
        layout->addWidget(frame);
    }

    LblNews_ = new QLabel(kInitialNews, this);
    LblNews_->setObjectName("LblNews");
    LblNews_->setAlignment(Qt::AlignCenter);
    layout->addWidget(LblNews_);

    Label_version_ = new QLabel(kVersionLabel, this);
    Label_version_->setObjectName("Label_version");
    Label_version_->setAlignment(Qt::AlignRight);
    layout->addWidget(Label_version_);

    resize(460, 440);
    SetUsable(false);
}

void Frm_Init::SetUsable(bool usable) {
    usable_ = usable;
    for (auto* f : frames_) f->setEnabled(usable);
}

void Frm_Init::Frame_MouseMove(int index) {
    if (index < 1 || index > 4) return;
    highlighted_ = index;
    for (int i = 0; i < 4; ++i)
        Paint(frames_[static_cast<std::size_t>(i)],
              i + 1 == index ? QColor(255, 255, 192) : QColor(Qt::white));
}

void Frm_Init::Option_Click(int index) {
    if (!usable_) return;
    switch (index) {
        case 1:
            hide();
            emit setupNewProject();
            break;
        case 2:
            hide();
            emit runLatestProject();
            break;
        case 3:
            hide();
            emit analyzeRecorded();
            break;
        case 4:
            if (dialogs_.MessageBox(kSureToQuitMessage, MsgButtons::YesNo) == MsgResult::Yes)
                emit exitConfirmed();
            break;
        default:
            break;
    }
}

void Frm_Init::Form_Activate() {
    if (!activation_news_) return;
    if (const auto news = activation_news_()) LblNews_->setText(ToQ(*news));
}

bool Frm_Init::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    if (e->type() == QEvent::Show && !placed_) {
        placed_ = true;
        CenterOnScreen(this);
    }
    return QWidget::event(e);
}

void Frm_Init::closeEvent(QCloseEvent* e) {
    // The window stays; a confirmed exit ends the program through exitConfirmed. While the
    // start-up still runs the question waits until the choices are usable.
    e->ignore();
    if (usable_) Option_Click(4);
}

bool Frm_Init::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == maker_ || watched->objectName() == "Image_logo")) {
        QDesktopServices::openUrl(QUrl(kMakerWebSite));
        return true;
    }
    for (int i = 0; i < 4; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        if (watched != frames_[idx] && watched != labels_[idx]) continue;
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
            Frame_MouseMove(i + 1);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton) Option_Click(i + 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace lumivo::app
