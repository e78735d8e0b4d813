#include "tests/app/model/ModelTestSupport.hpp"

#include "core/snapshot/ScanArchive.hpp"

using namespace varnok;
using namespace varnok::testing;

namespace {

struct Sizes {
    std::int64_t disk = 0;
    std::int64_t apparent = 0;
};

} // namespace

class ExploreCompareTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void aRescanComparedWithTheSavedScanShowsWhatChanged() {
        ScratchHome h;
        const std::string top = h.home + "/top";
        writeFile(top + "/grows.bin", std::string(5000, 'g'));
        writeFile(top + "/shrinks.bin", std::string(20000, 's'));
        writeFile(top + "/gone.bin", std::string(9000, 'x'));
        writeFile(top + "/sub/inner.bin", std::string(3000, 'i'));
        const std::string saved = h.home + "/before.json.gz";
        ModelFixture f;
        AppModel& model = *f.model;

        model.explore().compareWith(saved); // the sample is not a scan of anything
        QVERIFY(model.error().has_value() && !model.explore().comparingWith());
        model.setError(std::nullopt);

        QVERIFY(f.explore(top));
        std::map<std::string, Sizes> before;
        for (const FileNode& node : model.explore().root().children) {
            before[node.name()] = {node.allocatedSize, node.logicalSize};
        }
        model.explore().saveScan(saved);
        QTRY_VERIFY(model.note().has_value());
        model.setNote(std::nullopt);

        writeFile(top + "/grows.bin", std::string(30000, 'g'));
        writeFile(top + "/shrinks.bin", std::string(1000, 's'));
        writeFile(top + "/fresh/new.bin", std::string(7000, 'n'));
        std::filesystem::remove(top + "/gone.bin");
        QVERIFY(f.explore(top));

        model.explore().compareWith(saved);
        QCOMPARE(model.explore().comparingWith(), std::optional(QString::fromStdString(saved)));
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        QVERIFY(model.explore().comparison() != nullptr);
        QCOMPARE(model.explore().comparison()->file, QString::fromStdString(saved));
        QVERIFY(model.explore().comparison()->takenAt > 0);

        // Both measures, each as the explorer shows it.
        for (bool apparent : {false, true}) {
            model.explore().setApparentSize(apparent);
            auto then = [&](const std::string& name) {
                return apparent ? before[name].apparent : before[name].disk;
            };
            const FileNode& tree = model.explore().shownTree();
            using Kind = NodeChange::Kind;
            const NodeChange grows = model.explore().changeOf(childNamed(tree, "grows.bin"));
            QCOMPARE(grows.kind, Kind::grew);
            QCOMPARE(grows.before, then("grows.bin"));
            QCOMPARE(grows.after, childNamed(tree, "grows.bin").logicalSize);
            // Each kind is the tree comparison's own business; these show the scans line up.
            const FileNode& fresh = childNamed(tree, "fresh");
            QCOMPARE(model.explore().changeOf(fresh).kind, Kind::appeared);
            QCOMPARE(model.explore().changeOf(childNamed(tree, "sub")).kind, Kind::unchanged);

            const ChangeTotals totals = model.explore().changesBelow(tree);
            QCOMPARE(totals.gone, then("gone.bin"));
            QCOMPARE(totals.appeared, fresh.logicalSize);
            QCOMPARE(totals.grew - totals.shrank + totals.appeared - totals.gone,
                     model.explore().changeOf(tree).change());
        }
        model.explore().setApparentSize(false);

        // Not a scan: an error, and the comparison shown stays as it was.
        const auto shown = model.explore().comparison();
        writeFile(h.home + "/not-a-scan.json", "[1, 0, {\"progname\": 3}]");
        model.explore().compareWith(h.home + "/not-a-scan.json");
        QVERIFY(f.settle());
        QVERIFY(model.error().has_value() && !model.error()->isEmpty());
        QCOMPARE(model.explore().comparison(), shown);
        model.setError(std::nullopt);

        // A scan of another folder is refused, by name.
        ScanResult elsewhere;
        elsewhere.root = FileNode(Url::file(h.home + "/elsewhere", true), true, 0, 0, {}, 0, 0,
                                  false, false, true);
        ScanArchive::save(elsewhere, 0, h.home + "/elsewhere.json");
        model.explore().compareWith(h.home + "/elsewhere.json");
        QVERIFY(f.settle());
        QVERIFY(model.error().has_value());
        QVERIFY2(model.error()->contains(QString::fromStdString(h.home + "/elsewhere")),
                 qPrintable(*model.error()));
        QCOMPARE(model.explore().comparison(), shown);
        model.setError(std::nullopt);

        // Stopping, and a new scan, end it.
        model.explore().clearComparison();
        QVERIFY(model.explore().comparison() == nullptr);
        QCOMPARE(
            model.explore().changeOf(childNamed(model.explore().shownTree(), "grows.bin")).kind,
            NodeChange::Kind::unchanged);
        model.explore().compareWith(saved);
        QVERIFY(f.settle());
        QVERIFY(model.explore().comparison() != nullptr);
        QVERIFY(f.explore(top));
        QVERIFY(model.explore().comparison() == nullptr);

        // A comparison still being read when the tree is replaced never lands on the new one.
        model.explore().compareWith(saved);
        QVERIFY(f.explore(top));
        QTest::qWait(200);
        QVERIFY(model.explore().comparison() == nullptr);
    }

    void anEarlierRememberedScanIsOfferedAndCompares() {
        ScratchHome h;
        const std::string top = h.home + "/top";
        writeFile(top + "/grows.bin", std::string(5000, 'g'));
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.explore(top));
        QVERIFY(model.explore().earlierScans().empty()); // only the shown scan itself
        QTest::qWait(1100);                              // scans are timed to the second
        writeFile(top + "/grows.bin", std::string(50000, 'g'));
        QVERIFY(f.explore(top));
        const auto earlier = model.explore().earlierScans();
        QCOMPARE(earlier.size(), size_t(1));
        QVERIFY(earlier.front().takenAt <
                model.remembered().scansOf(Url::file(top, true)).front().takenAt);
        // Named by its date in the window, not by the store's file name.
        QVERIFY(model.remembered().holds(earlier.front().file));
        QVERIFY(!model.remembered().holds(top + "/grows.bin"));
        model.explore().compareWith(earlier.front().file);
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        QCOMPARE(
            model.explore().changeOf(childNamed(model.explore().shownTree(), "grows.bin")).kind,
            NodeChange::Kind::grew);
    }
};

QTEST_GUILESS_MAIN(ExploreCompareTest)
#include "ExploreCompareTest.moc"
