#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace ombrelo::ui {

// A window-modal dialog laid out as a sheet: content on top, buttons at the bottom right.
// Opened with open(), never exec(), so that nothing re-enters the event loop.
class Sheet : public QDialog {
    Q_OBJECT
public:
    explicit Sheet(QWidget* parent, const QString& objectName);

    QVBoxLayout* content() const { return content_; }
    // Adds a button to the bottom row, left to right after a stretch.
    QPushButton* addButton(const QString& text);
    QHBoxLayout* buttonRow() const { return buttons_; }
    // Enter presses this button; Escape always rejects.
    void setDefaultButton(QPushButton* button);

private:
    QVBoxLayout* content_;
    QHBoxLayout* buttons_;
};

} // namespace ombrelo::ui
