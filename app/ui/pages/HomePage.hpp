#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ombrelo::ui {

// Bars of shares of a whole, each with its label and size.
class ShareBars : public QWidget {
public:
    explicit ShareBars(QWidget* parent = nullptr);
    void setValues(QStringList labels, std::vector<std::int64_t> values);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList labels_;
    std::vector<std::int64_t> values_;
};

// The overview: the home volume and how the home folder grew, what the last cleanup found, and
// the last explored folder by age and kind.
class HomePage : public QWidget {
    Q_OBJECT
public:
    HomePage(varnok::AppModel& model, QWidget* parent = nullptr);

    QLabel* volumeLine;
    QProgressBar* volumeBar;
    // "Since {date}: {size} more in {folder}", when the last two scans of the home folder show
    // it grew.
    QLabel* growthLine;
    QLabel* cleanupLine;
    QPushButton* cleanupButton;
    QPushButton* projectsButton;
    QPushButton* exploreButton;
    QLabel* folderLine;
    QLabel* sampleMark;
    ShareBars* ages;
    ShareBars* types;

private:
    void refresh();
    varnok::AppModel& model_;
};

} // namespace ombrelo::ui
