#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <string_view>

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
    // Filled with the accent colour: the one action the sheet is about.
    static void makeProminent(QPushButton* button);

private:
    QVBoxLayout* content_;
    QHBoxLayout* buttons_;
};

// A short question or report in the window's own style: a symbol, a heading, a text and its
// buttons. `clicked` tells which button closed it (none after Escape).
class Alert : public Sheet {
    Q_OBJECT
public:
    Alert(QWidget* parent, const QString& objectName, std::string_view symbol,
          const QString& heading, const QString& text);
    // Accepting buttons close it accepted, the others rejected.
    QPushButton* addAction(const QString& text, bool accepts);
    // The button with this text, if any.
    QPushButton* button(const QString& text) const;
    QPushButton* clicked() const { return clicked_; }

private:
    QPushButton* clicked_ = nullptr;
};

} // namespace ombrelo::ui
