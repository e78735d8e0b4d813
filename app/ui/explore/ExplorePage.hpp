#pragma once

#include "app/model/AppModel.hpp"
#include "app/ui/explore/MapLegend.hpp"

#include <QElapsedTimer>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeView;

namespace ombrelo::ui {

class FolderMap;
class NodeListModel;

// Scans any folder and shows it as a map beside a sortable list; double clicks open folders,
// with the way back in a breadcrumb.
class ExplorePage : public QWidget {
    Q_OBJECT
public:
    ExplorePage(varnok::AppModel& model, QWidget* parent = nullptr);

    QLineEdit* folderField;
    QPushButton* chooseButton;
    QPushButton* scanButton;
    QPushButton* stopButton;
    QLabel* progressLine;
    QLabel* sampleNote;
    // While comparing with an earlier scan: which one, and the way back.
    QLabel* comparisonLine;
    QPushButton* stopComparingButton;
    QHBoxLayout* breadcrumb;
    QButtonGroup* modeButtons;
    QSpinBox* depthBox;
    QComboBox* colouring;
    QCheckBox* expandBox;
    // Off: sizes are bytes on disk, as du counts them.
    QCheckBox* apparentBox;
    FolderMap* map;
    // The colours in use on the map, under it.
    MapLegend* legend;
    QTreeView* list;
    NodeListModel* listModel;
    QPushButton* revealButton;
    QLabel* selectionLine;
    QLabel* skippedLine;

    // The folder field's text as a folder to scan, or nothing when it is not a usable path.
    std::optional<varnok::Url> typedFolder() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitColumns();
    void exploreChanged(varnok::ExploreFlow::Field field);
    void showFolder();
    void showSelection();
    void showMapSettings();
    void showLegend();
    void showLegendOf(const MapLegend::Use& use, bool byAge);
    void showProgress();
    void showSkipped();
    void showComparison();
    void rebuildBreadcrumb();

    varnok::AppModel& model_;
    QWidget* mapPanel_;
    QWidget* listPanel_;
    QTimer* ticker_;
    QElapsedTimer elapsed_;
};

} // namespace ombrelo::ui
