#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <string>

namespace ombrelo::ui {

enum class TextRole { title, heading, body, strong, secondary, caption, positive, warning };

// A plain-text label in one of the window's text styles; long texts wrap.
QLabel* makeLabel(const QString& text, TextRole role, QWidget* parent = nullptr);
void setTextRole(QLabel* label, TextRole role);

// Colours derived from the palette so that both light and dark palettes read well.
QColor secondaryTextColor(const QPalette& palette);
QColor positiveColor(const QPalette& palette);
QColor warningColor(const QPalette& palette);
QColor accentColor(const QPalette& palette);
// The accent as a background for the highlighted text colour, darkened or lightened just enough
// for that text to read at 4.5:1 or better.
QColor accentFill(const QPalette& palette);
bool isDark(const QPalette& palette);

// A rounded panel on the base colour, the window's way of grouping related content.
class Card : public QFrame {
public:
    enum class Tone { base, tinted, warning };
    explicit Card(QWidget* parent = nullptr, Tone tone = Tone::base);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_;
};

// A symbol drawn in the text colour (or the accent), redrawn on palette and scale changes.
class SymbolView : public QLabel {
public:
    SymbolView(std::string name, int size, TextRole role, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void render();
    std::string name_;
    int size_;
    TextRole role_;
};

// A flat button drawn as a link.
QPushButton* makeLinkButton(const QString& text, QWidget* parent = nullptr);
// A button with a symbol and a text that may contain "&".
QPushButton* makeButton(const QString& text, QWidget* parent = nullptr);
void setButtonText(QPushButton* button, const QString& text);
// The visible text of a button with the shortcut escapes undone.
QString buttonText(const QPushButton* button);
void setButtonSymbol(QPushButton* button, std::string_view symbol);
// Fills a button with the accent (on) or gives it back its ordinary look (off). The fill is the
// palette's accent moved just far enough from its text colour for the text to read at 4.5:1 or
// better; hovering and pressing move it further, never back towards the text.
void setAccentFill(QPushButton* button, bool on);

// Names a text field for screen readers, and its clear button (if it has one) after it.
void nameField(QLineEdit* field, const QString& name);

// The application's style: the platform's (or the given) style, with the frames of text fields
// and check boxes drawn at 3:1 against the field or more. A style that derives them from the
// window colour (Fusion does) leaves them faint in light palettes and invisible in dark ones.
class FramedStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// A horizontal separator line.
QFrame* makeSeparator(QWidget* parent = nullptr);

// A path on one line: when it does not fit, its middle gives way, never a name broken across
// lines. The whole path is its tooltip and what a screen reader hears.
class PathLabel : public QLabel {
    Q_OBJECT
public:
    PathLabel(const QString& prefix, const QString& path, TextRole role, QWidget* parent = nullptr);
    const QString& path() const { return path_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString prefix_;
    QString path_;
};

} // namespace ombrelo::ui
