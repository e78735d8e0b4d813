#include "app/model/RememberFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/common/DecodingError.hpp"
#include "core/common/FileError.hpp"
#include "core/snapshot/ScanArchive.hpp"
#include "platform/Platform.hpp"

namespace varnok {

namespace {

std::string folderPath(const Url& folder) {
    return folder.withDirectoryForm(false).standardized().path();
}

} // namespace

RememberFlow::RememberFlow(AppModel& shell) : shell_(shell), token_(QUuid::createUuid()) {
    reload();
}

RememberFlow::~RememberFlow() = default;

std::vector<RememberedScan> RememberFlow::scansOf(const Url& folder) const {
    const std::string wanted = folderPath(folder);
    std::vector<RememberedScan> scans;
    for (const RememberedScan& scan : rememberedScans_) {
        if (scan.folder == wanted) {
            scans.push_back(scan);
        }
    }
    return scans;
}

std::int64_t RememberFlow::rememberedTotal() const {
    std::int64_t total = 0;
    for (const RememberedScan& scan : rememberedScans_) {
        total += scan.sizeOnDisk;
    }
    return total;
}

void RememberFlow::reload() {
    // A few small records: cheap enough for the GUI thread.
    rememberedScans_ = store_.all();
    emit changed(Field::rememberedScans);
    auto growth = store_.homeGrowth();
    if (growth != homeGrowth_) {
        homeGrowth_ = std::move(growth);
        emit changed(Field::homeGrowth);
    }
}

void RememberFlow::setStore(ScanMemory store) {
    store_ = std::move(store);
    reload();
}

bool RememberFlow::holds(const std::string& file) const {
    return PathText::parent(PathText::standardize(file)) == PathText::standardize(store_.root);
}

void RememberFlow::forget(const std::string& id) {
    store_.forget(id);
    reload();
}

void RememberFlow::remember(const Url& folder, std::shared_ptr<const FileNode> tree,
                            std::vector<std::string> otherFileSystems, std::int64_t takenAt) {
    const std::string path = folderPath(folder);
    const std::string home = folderPath(Platform::current().homeDirectory());
    const ScanMemory store = store_;
    ++pending_;
    if (pending_ == 1) {
        emit changed(Field::isRemembering);
    }
    model::runInBackground(
        this, &RememberFlow::token_, token_,
        [store, tree, otherFileSystems = std::move(otherFileSystems), path, home, takenAt] {
            if (path == home) {
                const auto earlier = store.scansOf(path);
                if (!earlier.empty()) {
                    // A damaged earlier scan leaves the last summary as it was.
                    std::optional<SavedScan> older;
                    try {
                        older = ScanArchive::load(earlier.front().file);
                    } catch (const FileError&) {
                    } catch (const DecodingError&) {
                    }
                    if (older) {
                        store.setHomeGrowth(ScanMemory::growthOf(
                            older->result.root, *tree, earlier.front().takenAt, home, store.root));
                    }
                }
            }
            store.remember(*tree, otherFileSystems, path, takenAt);
            return true;
        },
        [](RememberFlow& flow, model::Outcome<bool> outcome) {
            --flow.pending_;
            flow.reload();
            if (flow.pending_ == 0) {
                emit flow.changed(Field::isRemembering);
            }
            if (outcome.failure) {
                flow.shell_.setNote(tr("This scan was not remembered for later comparison: %1")
                                        .arg(*outcome.failure));
            }
        });
}

} // namespace varnok
