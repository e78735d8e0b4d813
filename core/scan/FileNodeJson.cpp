#include "core/scan/FileNodeJson.hpp"

#include "core/common/Url.hpp"

#include <charconv>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

namespace varnok {

void to_json(nlohmann::json& json, const FileNode& root) {
    // Built with a heap stack: a folder chain tens of thousands of levels deep must not exhaust
    // the call stack.
    std::vector<std::pair<const FileNode*, nlohmann::json*>> pending{{&root, &json}};
    while (!pending.empty()) {
        auto [node, target] = pending.back();
        pending.pop_back();
        nlohmann::json& out = *target;
        out = nlohmann::json::object();
        out["id"] = node->id.absoluteString();
        out["isDirectory"] = node->isDirectory;
        out["logicalSize"] = node->logicalSize;
        out["allocatedSize"] = node->allocatedSize;
        out["fileCount"] = node->fileCount;
        out["folderCount"] = node->folderCount;
        out["isSymbolicLink"] = node->isSymbolicLink;
        out["hasReadErrors"] = node->hasReadErrors;
        if (node->identity) {
            out["identity"] = *node->identity;
        }
        out["allocatedSizeComplete"] = node->allocatedSizeComplete;
        if (node->isRepeatedLink) {
            out["repeatedLink"] = true;
        }
        // Sized once, so that the addresses pushed below stay valid.
        auto& children =
            (out["children"] = nlohmann::json::array()).get_ref<nlohmann::json::array_t&>();
        children.resize(node->children.size());
        for (size_t i = 0; i < children.size(); ++i) {
            pending.emplace_back(&node->children[i], &children[i]);
        }
    }
}

void to_json(nlohmann::json& json, const ScanResult& result) {
    json = nlohmann::json::object();
    json["root"] = result.root;
    nlohmann::json paths = nlohmann::json::array();
    for (const auto& path : result.inaccessiblePaths) {
        paths.push_back(PathText::displayable(path));
    }
    json["inaccessiblePaths"] = paths;
    json["skippedCount"] = result.skippedCount;
    json["ageSizes"] = result.ageSizes;
    json["typeSizes"] = result.typeSizes;
    json["duration"] = result.duration;
}

namespace {

class Writer {
public:
    explicit Writer(const std::function<void(std::string_view)>& sink) : sink_(sink) {
        buffer_.reserve(capacity + 4096);
    }
    ~Writer() = default;

    void flush() {
        if (!buffer_.empty()) {
            sink_(buffer_);
            buffer_.clear();
        }
    }
    void raw(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= capacity) {
            flush();
        }
    }
    template <typename T> void integer(T value) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        raw(std::string_view(digits, static_cast<size_t>(end - digits)));
    }
    void boolean(bool value) { raw(value ? "true" : "false"); }
    void string(std::string_view text) { raw(nlohmann::json(PathText::displayable(text)).dump()); }

    // The tree depth first with a heap stack, so that any depth fits.
    void tree(const FileNode& root) {
        std::vector<Open> open;
        open.push_back(opening(root, nullptr));
        while (!open.empty()) {
            Open& top = open.back();
            if (top.next == top.node->children.size()) {
                closing(*top.node);
                open.pop_back();
                continue;
            }
            const FileNode& child = top.node->children[top.next];
            if (top.next++ > 0) {
                raw(",");
            }
            Open opened = opening(child, &top);
            open.push_back(opened);
        }
    }

private:
    // An open node, its next child and where its URL text lies in `urls_`.
    struct Open {
        const FileNode* node;
        size_t next;
        size_t urlStart;
        size_t urlEnd;
    };

    // The URL texts of the open nodes are kept in `urls_`, each after its parent's: a child made
    // from its parent's URL extends the parent's text by its encoded name, instead of encoding
    // its whole path again, and shares its start.
    Open urlOf(const FileNode& node, const Open* parent) {
        const size_t end = parent == nullptr ? 0 : parent->urlEnd;
        urls_.resize(end);
        if (parent == nullptr || !node.id.isAppendedTo(parent->node->id)) {
            node.id.appendAbsoluteString(urls_);
            return {&node, 0, end, urls_.size()};
        }
        if (urls_.back() != '/') {
            urls_ += '/';
        }
        PathText::appendPercentEncoded(urls_, node.id.lastPathComponentView());
        if (node.id.hasDirectoryPath()) {
            urls_ += '/';
        }
        return {&node, 0, parent->urlStart, urls_.size()};
    }

    // The node's members up to the opening of its children.
    Open opening(const FileNode& node, const Open* parent) {
        Open opened = urlOf(node, parent);
        // URL texts are percent-encoded ASCII and need no escaping.
        raw("{\"id\":\"");
        raw(std::string_view(urls_).substr(opened.urlStart, opened.urlEnd - opened.urlStart));
        raw("\"");
        raw(",\"isDirectory\":");
        boolean(node.isDirectory);
        raw(",\"logicalSize\":");
        integer(node.logicalSize);
        raw(",\"allocatedSize\":");
        integer(node.allocatedSize);
        raw(",\"children\":[");
        return opened;
    }
    // The closing of the node's children and its remaining members.
    void closing(const FileNode& node) {
        raw("],\"fileCount\":");
        integer(node.fileCount);
        raw(",\"folderCount\":");
        integer(node.folderCount);
        raw(",\"isSymbolicLink\":");
        boolean(node.isSymbolicLink);
        raw(",\"hasReadErrors\":");
        boolean(node.hasReadErrors);
        if (node.identity) {
            const FileIdentity& id = *node.identity;
            raw(",\"identity\":{\"changedNanoseconds\":");
            integer(id.changedNanoseconds);
            raw(",\"changedSeconds\":");
            integer(id.changedSeconds);
            raw(",\"device\":");
            integer(id.device);
            raw(",\"inode\":");
            integer(id.inode);
            raw(",\"linkCount\":");
            integer(id.linkCount);
            raw(",\"mode\":");
            integer(id.mode);
            raw(",\"modifiedNanoseconds\":");
            integer(id.modifiedNanoseconds);
            raw(",\"modifiedSeconds\":");
            integer(id.modifiedSeconds);
            raw(",\"size\":");
            integer(id.size);
            raw("}");
        }
        raw(",\"allocatedSizeComplete\":");
        boolean(node.allocatedSizeComplete);
        if (node.isRepeatedLink) {
            raw(",\"repeatedLink\":true");
        }
        raw("}");
    }

    static constexpr size_t capacity = 1 << 16;
    const std::function<void(std::string_view)>& sink_;
    std::string buffer_;
    std::string urls_;
};

} // namespace

void writeScanResultJson(const ScanResult& result,
                         const std::function<void(std::string_view)>& sink) {
    Writer writer(sink);
    writer.raw("{\"root\":");
    writer.tree(result.root);
    writer.raw(",\"inaccessiblePaths\":[");
    for (size_t i = 0; i < result.inaccessiblePaths.size(); ++i) {
        if (i > 0) {
            writer.raw(",");
        }
        writer.string(result.inaccessiblePaths[i]);
    }
    writer.raw("],\"skippedCount\":");
    writer.integer(result.skippedCount);
    auto array = [&](const char* name, const std::array<std::int64_t, 4>& values) {
        writer.raw(name);
        for (size_t i = 0; i < values.size(); ++i) {
            writer.raw(i == 0 ? "[" : ",");
            writer.integer(values[i]);
        }
        writer.raw("]");
    };
    array(",\"ageSizes\":", result.ageSizes);
    array(",\"typeSizes\":", result.typeSizes);
    writer.raw(",\"duration\":");
    writer.raw(nlohmann::json(result.duration).dump());
    writer.raw("}");
    writer.flush();
}

} // namespace varnok
