#include "app/ui/Sheet.hpp"

#include "app/ui/Widgets.hpp"

namespace ombrelo::ui {

Sheet::Sheet(QWidget* parent, const QString& objectName) : QDialog(parent) {
    setObjectName(objectName);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Ombrelo"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 22, 24, 18);
    outer->setSpacing(16);
    content_ = new QVBoxLayout;
    content_->setSpacing(10);
    outer->addLayout(content_, 1);
    buttons_ = new QHBoxLayout;
    buttons_->setSpacing(8);
    buttons_->addStretch(1);
    outer->addLayout(buttons_);
}

QPushButton* Sheet::addButton(const QString& text) {
    QPushButton* button = makeButton(text, this);
    button->setMinimumWidth(96);
    buttons_->addWidget(button);
    return button;
}

void Sheet::setDefaultButton(QPushButton* button) {
    for (QPushButton* other : findChildren<QPushButton*>()) {
        other->setDefault(false);
    }
    button->setAutoDefault(true);
    button->setDefault(true);
}

} // namespace ombrelo::ui
