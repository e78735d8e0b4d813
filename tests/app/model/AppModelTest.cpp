#include "app/model/AppModel.hpp"

#include <QtTest>

using namespace varnok;

class AppModelTest : public QObject {
    Q_OBJECT

private slots:
    void startsInDemoState() {
        AppModel model;
        QVERIFY(model.isDemo());
    }
};

QTEST_GUILESS_MAIN(AppModelTest)
#include "AppModelTest.moc"
