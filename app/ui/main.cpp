#include "app/model/AppModel.hpp"
#include "app/ui/MainWindow.hpp"
#include "app/ui/common/Symbols.hpp"
#include "app/ui/common/Widgets.hpp"
#include "ombrelo/Version.hpp"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

const char* const usage = "Usage: ombrelo [--screenshot FILE]\n"
                          "Opens the Ombrelo window, which finds space in your home folder that "
                          "can be given back\nsafely and moves what you choose to the Trash.\n\n"
                          "  --screenshot FILE  draw the first screen into FILE (PNG) and quit\n"
                          "  --version          print the version and quit\n"
                          "  --help             print this help and quit\n\n"
                          "Qt's own options (-platform, -style, ...) are accepted too.\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("ombrelo %s\n", OMBRELO_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
    }

    QApplication application(argc, argv);
    // The style asked for (-style, the desktop's), with field frames that stay visible.
    QApplication::setStyle(new ombrelo::ui::FramedStyle(QApplication::style()->name()));
    QApplication::setOrganizationName(QStringLiteral("Ombrelo"));
    QApplication::setApplicationName(QStringLiteral("Ombrelo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ombrelo"));
    QApplication::setApplicationVersion(QStringLiteral(OMBRELO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.ombrelo.Ombrelo"));
    QApplication::setWindowIcon(ombrelo::ui::applicationIcon());

    // Qt has taken its own options out of the arguments; what is left is ours.
    QString screenshot;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--screenshot")) {
            if (i + 1 == arguments.size()) {
                std::fprintf(stderr, "ombrelo: --screenshot needs a FILE\n\n%s", usage);
                return 2;
            }
            screenshot = arguments[++i];
            continue;
        }
        std::fprintf(stderr, "ombrelo: unknown option '%s'\n\n%s", qPrintable(arguments[i]), usage);
        return 2;
    }

    varnok::AppModel model;
    ombrelo::ui::MainWindow window(model);
    window.show();
    if (!screenshot.isEmpty()) {
        // Queued behind the show, so the picture is the screen a user sees first.
        QTimer::singleShot(0, &window, [&window, &screenshot] {
            if (!window.grab().save(screenshot, "PNG")) {
                std::fprintf(stderr, "ombrelo: could not write %s\n", qPrintable(screenshot));
                QApplication::exit(1);
                return;
            }
            QApplication::exit(0);
        });
    }
    return QApplication::exec();
}
