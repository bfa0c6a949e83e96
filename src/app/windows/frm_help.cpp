#include "app/windows/frm_help.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QVBoxLayout>
#include <algorithm>

namespace lumivo::app {

Frm_help::Frm_help(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Frm_help");
    setWindowTitle("Lumivo user guide");
    resize(1000, 720);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout();
    top->addWidget(new QLabel("Find:", this));
    find_ = new QLineEdit(this);
    find_->setObjectName("txt_find");
    find_->setPlaceholderText("word or phrase, Enter for the next match");
    find_->setClearButtonEnabled(true);
    top->addWidget(find_, 1);
    // What the last search found: nothing found is said, not left as an unmoved view.
    find_status_ = new QLabel(this);
    find_status_->setObjectName("lbl_find");
    top->addWidget(find_status_);
    layout->addLayout(top);

    auto* split = new QSplitter(this);
    sections_ = new QListWidget(split);
    sections_->setObjectName("lst_sections");
    guide_ = new QTextBrowser(split);
    guide_->setObjectName("txt_guide");
    guide_->setOpenExternalLinks(true);
    split->addWidget(sections_);
    split->addWidget(guide_);
    split->setStretchFactor(1, 1);
    split->setSizes({290, 710});
    layout->addWidget(split, 1);

    guide_->viewport()->installEventFilter(this);
    connect(sections_, &QListWidget::currentRowChanged, this, &Frm_help::ShowSection);
    connect(find_, &QLineEdit::returnPressed, this, [this] { FindText(find_->text()); });
    auto* find_key = new QShortcut(QKeySequence::Find, this);
    connect(find_key, &QShortcut::activated, this, [this] {
        find_->setFocus();
        find_->selectAll();
    });
    auto* close_key = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close_key, &QShortcut::activated, this, &QWidget::close);

    LoadGuide();
}

void Frm_help::LoadGuide() {
    guide_->setSource(QUrl(kUserGuideUrl), QTextDocument::MarkdownResource);
    sections_->clear();
    section_positions_.clear();
    const QTextDocument* doc = guide_->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const int level = b.blockFormat().headingLevel();
        if (level < 1 || level > 2 || b.text().trimmed().isEmpty()) continue;
        sections_->addItem((level == 2 ? "    " : "") + b.text().trimmed());
        section_positions_.push_back(b.position());
    }
    FitImages();
}

bool Frm_help::eventFilter(QObject* watched, QEvent* event) {
    if (watched == guide_->viewport() && event->type() == QEvent::Resize) FitImages();
    return QWidget::eventFilter(watched, event);
}

void Frm_help::FitImages() {
    QTextDocument* doc = guide_->document();
    const double room = std::max(200, guide_->viewport()->width() - 40);
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QVariant stored = doc->resource(QTextDocument::ImageResource, QUrl(image.name()));
            const QImage picture = stored.value<QImage>();
            if (picture.isNull()) continue;
            const double width = std::min(room, static_cast<double>(picture.width()));
            if (image.width() == width) continue;
            image.setWidth(width);
            image.setHeight(width * picture.height() / picture.width());
            QTextCursor cursor(doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
}

QStringList Frm_help::SectionTitles() const {
    QStringList out;
    for (int i = 0; i < sections_->count(); ++i) out << sections_->item(i)->text().trimmed();
    return out;
}

void Frm_help::ShowSection(int index) {
    if (index < 0 || index >= static_cast<int>(section_positions_.size())) return;
    QTextCursor cursor(guide_->document());
    cursor.setPosition(section_positions_[static_cast<std::size_t>(index)]);
    // The heading goes to the top of the view: scroll to the end first, then back to it.
    guide_->verticalScrollBar()->setValue(guide_->verticalScrollBar()->maximum());
    guide_->setTextCursor(cursor);
    guide_->ensureCursorVisible();
}

bool Frm_help::FindText(const QString& text) {
    if (text.isEmpty()) {
        find_status_->clear();
        return false;
    }
    bool found = guide_->find(text);
    if (!found) {
        // Wrap round to the start once; with no match the view stays where it was.
        const QTextCursor before = guide_->textCursor();
        guide_->setTextCursor(QTextCursor(guide_->document()));
        found = guide_->find(text);
        if (!found) guide_->setTextCursor(before);
    }
    find_status_->setText(found ? QString() : QString("\"%1\" is not in the guide").arg(text));
    return found;
}

int Frm_help::LoadedImageCount() const {
    int count = 0;
    const QTextDocument* doc = guide_->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFormat f = it.fragment().charFormat();
            if (!f.isImageFormat()) continue;
            const QVariant image =
                doc->resource(QTextDocument::ImageResource, QUrl(f.toImageFormat().name()));
            if (image.isValid() && !image.isNull()) ++count;
        }
    }
    return count;
}

}  // namespace lumivo::app
