// The user guide inside the program (Help > Contents): the Markdown guide built into the
// program, shown in a text browser with its pictures, a list of its sections and a find box.
#pragma once

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBrowser>
#include <QWidget>
#include <vector>

namespace lumivo::app {

// Where the guide is built into the program.
inline constexpr const char* kUserGuideUrl = "qrc:/guide/user-guide.md";

class Frm_help : public QWidget {
    Q_OBJECT
  public:
    explicit Frm_help(QWidget* parent = nullptr);

    // The section titles listed beside the guide (its level 1 and 2 headings).
    QStringList SectionTitles() const;
    // Scrolls the guide to section `index` of SectionTitles().
    void ShowSection(int index);
    // Finds the next occurrence of `text` (wrapping to the start); false when there is none,
    // which the line beside the find box then says.
    bool FindText(const QString& text);
    QString GuideText() const { return guide_->toPlainText(); }
    int LoadedImageCount() const;

  protected:
    // Pictures follow the width of the text view.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LoadGuide();
    // Shows every picture at its own size, or narrower when the view is narrower.
    void FitImages();

    QTextBrowser* guide_;
    QListWidget* sections_;
    QLineEdit* find_;
    QLabel* find_status_;
    std::vector<int> section_positions_;  // document positions of the listed headings
};

}  // namespace lumivo::app
