#pragma once

#include "app/model/ScanMemory.hpp"
#include "core/common/Url.hpp"
#include "core/scan/ScanResult.hpp"

#include <QObject>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

class AppModel;

// The explorer's remembered scans: each completed folder scan is saved in the background, the
// list is shown and pruned in Settings, and a scan of the home folder is weighed against the one
// before it for the Home page.
class RememberFlow : public QObject {
    Q_OBJECT

public:
    enum class Field { rememberedScans, homeGrowth, isRemembering };
    Q_ENUM(Field)

    explicit RememberFlow(AppModel& shell);
    ~RememberFlow() override;

    // Every remembered scan, newest first.
    const std::vector<RememberedScan>& rememberedScans() const { return rememberedScans_; }
    // The earlier scans of `folder`, newest first: what a comparison can be made with.
    std::vector<RememberedScan> scansOf(const Url& folder) const;
    // Bytes on disk all remembered scans take.
    std::int64_t rememberedTotal() const;
    // The biggest growth of the home folder between its last two scans, if it grew.
    const std::optional<HomeGrowth>& homeGrowth() const { return homeGrowth_; }
    // A scan is being saved.
    bool isRemembering() const { return pending_ > 0; }

    // Saves the scanned `tree` of `folder` in the background; for the home folder, also weighs it
    // against the scan of it remembered before. A failure is a note: the scan itself is shown all
    // the same.
    void remember(const Url& folder, std::shared_ptr<const FileNode> tree,
                  std::vector<std::string> otherFileSystems, std::int64_t takenAt);
    // Removes one remembered scan.
    void forget(const std::string& id);
    // Reads the list and the growth again from the store.
    void reload();
    // Another store (other limits or folder), for tests.
    void setStore(ScanMemory store);
    const ScanMemory& store() const { return store_; }
    // Whether `file` is one of the remembered scans, whose file name means nothing to the user.
    bool holds(const std::string& file) const;

signals:
    void changed(varnok::RememberFlow::Field field);

private:
    AppModel& shell_;
    ScanMemory store_;
    std::vector<RememberedScan> rememberedScans_;
    std::optional<HomeGrowth> homeGrowth_;
    int pending_ = 0;
    // Never changes: every save's end is applied.
    QUuid token_;
};

} // namespace varnok
