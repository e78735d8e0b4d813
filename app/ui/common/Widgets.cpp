#include "app/ui/common/Widgets.hpp"

#include "app/ui/common/Symbols.hpp"
#include "app/ui/common/UiText.hpp"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace ombrelo::ui {
namespace {

QColor blend(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() * (1 - t) + b.redF() * t,
                            a.greenF() * (1 - t) + b.greenF() * t,
                            a.blueF() * (1 - t) + b.blueF() * t);
}

QColor roleColor(const QPalette& palette, TextRole role) {
    switch (role) {
    case TextRole::secondary:
    case TextRole::caption:
        return secondaryTextColor(palette);
    case TextRole::positive:
        return positiveColor(palette);
    case TextRole::warning:
        return warningColor(palette);
    default:
        return palette.color(QPalette::WindowText);
    }
}

// Relative luminance as the usual contrast ratio defines it.
double luminance(const QColor& color) {
    const auto linear = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
           0.0722 * linear(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Moves `fill` away from `text` (towards black under a light text, white under a dark one)
// until the two reach `ratio`.
QColor awayFrom(QColor fill, const QColor& text, double ratio) {
    const QColor target = luminance(text) > luminance(fill) ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 0; step < 60 && contrast(fill, text) < ratio; ++step) {
        fill = blend(fill, target, 0.04);
    }
    return fill;
}

} // namespace

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor secondaryTextColor(const QPalette& palette) {
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.38);
}

QColor positiveColor(const QPalette& palette) {
    return isDark(palette) ? QColor(0x5c, 0xd0, 0x7a) : QColor(0x1a, 0x7f, 0x37);
}

QColor warningColor(const QPalette& palette) {
    return isDark(palette) ? QColor(0xf2, 0xb8, 0x4b) : QColor(0x9a, 0x5b, 0x00);
}

QColor accentColor(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QColor accentFill(const QPalette& palette) {
    // A little above 4.5 so that rounding to 8-bit channels never lands below it.
    return awayFrom(accentColor(palette), palette.color(QPalette::HighlightedText), 4.7);
}

void setTextRole(QLabel* label, TextRole role) {
    QFont font = label->font();
    font.setBold(false);
    qreal base = QFont().pointSizeF();
    switch (role) {
    case TextRole::title:
        font.setPointSizeF(base * 1.75);
        font.setBold(true);
        break;
    case TextRole::heading:
        font.setPointSizeF(base * 1.2);
        font.setBold(true);
        break;
    case TextRole::strong:
    case TextRole::positive:
        font.setPointSizeF(base);
        font.setBold(true);
        break;
    case TextRole::caption:
        font.setPointSizeF(base * 0.9);
        break;
    default:
        font.setPointSizeF(base);
        break;
    }
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, roleColor(QPalette(), role));
    label->setPalette(palette);
    label->setProperty("textRole", static_cast<int>(role));
}

QLabel* makeLabel(const QString& text, TextRole role, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(role != TextRole::title);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    setTextRole(label, role);
    return label;
}

Card::Card(QWidget* parent, Tone tone) : QFrame(parent), tone_(tone) {
    setFrameShape(QFrame::NoFrame);
    setAttribute(Qt::WA_StyledBackground, false);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    QColor fill = pal.color(QPalette::Base);
    QColor border = blend(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.14);
    if (tone_ == Tone::tinted) {
        fill = blend(pal.color(QPalette::Base), accentColor(pal), isDark(pal) ? 0.16 : 0.08);
        border = blend(pal.color(QPalette::Base), accentColor(pal), 0.35);
    } else if (tone_ == Tone::warning) {
        fill = blend(pal.color(QPalette::Base), warningColor(pal), isDark(pal) ? 0.14 : 0.10);
        border = blend(pal.color(QPalette::Base), warningColor(pal), 0.45);
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(path, fill);
    painter.setPen(QPen(border, 1));
    painter.drawPath(path);
}

SymbolView::SymbolView(std::string name, int size, TextRole role, QWidget* parent)
    : QLabel(parent), name_(std::move(name)), size_(size), role_(role) {
    setFixedSize(size, size);
    setAlignment(Qt::AlignCenter);
    render();
}

void SymbolView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        render();
    }
    QLabel::changeEvent(event);
}

void SymbolView::showEvent(QShowEvent* event) {
    render();
    QLabel::showEvent(event);
}

void SymbolView::render() {
    QColor color = role_ == TextRole::title ? accentColor(palette()) : roleColor(palette(), role_);
    setPixmap(symbolPixmap(name_, color, size_, devicePixelRatioF()));
}

QPushButton* makeLinkButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(parent);
    setButtonText(button, text);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, QPalette().color(QPalette::Link));
    button->setPalette(palette);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px 0; "
                                         "text-align: left; }"));
    return button;
}

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(parent);
    setButtonText(button, text);
    button->setAutoDefault(false);
    return button;
}

void setButtonText(QPushButton* button, const QString& text) {
    button->setText(mnemonicSafe(text));
    button->setAccessibleName(text);
}

QString buttonText(const QPushButton* button) {
    QString text = button->text();
    return text.replace(QLatin1String("&&"), QLatin1String("&"));
}

void setButtonSymbol(QPushButton* button, std::string_view symbol) {
    button->setIcon(symbolIcon(symbol, button->palette().color(QPalette::ButtonText)));
}

void setAccentFill(QPushButton* button, bool on) {
    if (!on) {
        button->setStyleSheet(QString());
        return;
    }
    const QPalette palette = button->palette();
    const QColor text = palette.color(QPalette::HighlightedText);
    const QColor fill = accentFill(palette);
    const QColor hover = awayFrom(fill, text, contrast(fill, text) * 1.12);
    const QColor pressed = awayFrom(hover, text, contrast(hover, text) * 1.12);
    const QColor focus = palette.color(QPalette::WindowText);
    const QColor disabledFill = palette.color(QPalette::Disabled, QPalette::Button);
    const QColor disabledText = palette.color(QPalette::Disabled, QPalette::ButtonText);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %1; "
                       "border-radius: 5px; padding: 4px 14px; min-height: 18px; }"
                       "QPushButton:hover { background-color: %3; border-color: %3; }"
                       "QPushButton:pressed { background-color: %4; border-color: %4; }"
                       "QPushButton:focus { border: 2px solid %5; }"
                       "QPushButton:disabled { background-color: %6; color: %7; "
                       "border-color: %6; }")
            .arg(fill.name(), text.name(), hover.name(), pressed.name(), focus.name(),
                 disabledFill.name(), disabledText.name()));
}

void nameField(QLineEdit* field, const QString& name) {
    field->setAccessibleName(name);
    // The clear button is a tool button Qt adds for the clear action; it has no text of its own.
    for (QToolButton* button : field->findChildren<QToolButton*>()) {
        button->setAccessibleName(QLineEdit::tr("Clear %1").arg(name));
    }
}

void FramedStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool field = element == PE_FrameLineEdit;
    const bool checkBox = element == PE_IndicatorCheckBox;
    // A focused field already carries the accent's outline.
    if (!(field || checkBox) || (field && (option->state & State_HasFocus) != 0)) {
        return;
    }
    const QPalette& palette = option->palette;
    QColor frame = blend(palette.color(QPalette::Window), palette.color(QPalette::WindowText),
                         (option->state & State_Enabled) != 0 ? 0.45 : 0.25);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(frame, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter->restore();
}

QFrame* makeSeparator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, blend(QPalette().color(QPalette::Window),
                                                 QPalette().color(QPalette::WindowText), 0.15));
    line->setPalette(palette);
    return line;
}

PathLabel::PathLabel(const QString& prefix, const QString& path, TextRole role, QWidget* parent)
    : QLabel(parent), prefix_(prefix), path_(path) {
    setTextRole(this, role);
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setToolTip(path_);
    setAccessibleName(prefix_ + path_);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    elide();
}

QSize PathLabel::minimumSizeHint() const {
    return QSize(80, QLabel::minimumSizeHint().height());
}

void PathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void PathLabel::elide() {
    const int room = std::max(0, width() - fontMetrics().horizontalAdvance(prefix_));
    setText(prefix_ + fontMetrics().elidedText(path_, Qt::ElideMiddle, room));
}

} // namespace ombrelo::ui
