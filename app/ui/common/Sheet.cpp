#include "app/ui/common/Sheet.hpp"

#include "app/ui/common/Widgets.hpp"

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
    makeProminent(button);
}

void Sheet::makeProminent(QPushButton* button) {
    setAccentFill(button, true);
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
}

Alert::Alert(QWidget* parent, const QString& objectName, std::string_view symbol,
             const QString& heading, const QString& text)
    : Sheet(parent, objectName) {
    setMinimumWidth(440);
    setMaximumWidth(560);
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(
        new SymbolView(std::string(symbol), 36,
                       symbol == "exclamationmark.triangle" ? TextRole::warning : TextRole::title,
                       this),
        0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(8);
    texts->addWidget(makeLabel(heading, TextRole::heading, this));
    if (!text.isEmpty()) {
        texts->addWidget(makeLabel(text, TextRole::body, this));
    }
    top->addLayout(texts, 1);
    content()->addLayout(top);
}

QPushButton* Alert::addAction(const QString& text, bool accepts) {
    QPushButton* action = addButton(text);
    connect(action, &QPushButton::clicked, this, [this, action, accepts] {
        clicked_ = action;
        if (accepts) {
            accept();
        } else {
            reject();
        }
    });
    return action;
}

QPushButton* Alert::button(const QString& text) const {
    for (QPushButton* each : findChildren<QPushButton*>()) {
        if (buttonText(each) == text) {
            return each;
        }
    }
    return nullptr;
}

} // namespace ombrelo::ui
