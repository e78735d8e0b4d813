#include "app/model/AppModel.hpp"
#include "app/ui/MainWindow.hpp"
#include "app/ui/common/Symbols.hpp"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Ombrelo"));
    QApplication::setApplicationName(QStringLiteral("Ombrelo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ombrelo"));
    QApplication::setDesktopFileName(QStringLiteral("ombrelo"));
    QApplication::setWindowIcon(ombrelo::ui::applicationIcon());

    varnok::AppModel model;
    ombrelo::ui::MainWindow window(model);
    window.show();
    return QApplication::exec();
}
