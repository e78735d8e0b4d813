#include "core/scan/FileNodeJson.hpp"

#include "core/common/Url.hpp"

#include <charconv>
#include <nlohmann/json.hpp>

namespace varnok {

void to_json(nlohmann::json& json, const FileNode& node) {
    json = nlohmann::json::object();
    json["id"] = node.id.absoluteString();
    json["isDirectory"] = node.isDirectory;
    json["logicalSize"] = node.logicalSize;
    json["allocatedSize"] = node.allocatedSize;
    json["children"] = nlohmann::json::array();
    for (const FileNode& child : node.children) {
        json["children"].push_back(child);
    }
    json["fileCount"] = node.fileCount;
    json["folderCount"] = node.folderCount;
    json["isSymbolicLink"] = node.isSymbolicLink;
    json["hasReadErrors"] = node.hasReadErrors;
    if (node.identity) {
        json["identity"] = *node.identity;
    }
    json["allocatedSizeComplete"] = node.allocatedSizeComplete;
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

    void node(const FileNode& node) {
        // URL texts are percent-encoded ASCII and need no escaping.
        raw("{\"id\":\"");
        node.id.appendAbsoluteString(buffer_);
        raw("\"");
        raw(",\"isDirectory\":");
        boolean(node.isDirectory);
        raw(",\"logicalSize\":");
        integer(node.logicalSize);
        raw(",\"allocatedSize\":");
        integer(node.allocatedSize);
        raw(",\"children\":[");
        bool first = true;
        for (const FileNode& child : node.children) {
            if (!first) {
                raw(",");
            }
            first = false;
            this->node(child);
        }
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
        raw("}");
    }

private:
    static constexpr size_t capacity = 1 << 16;
    const std::function<void(std::string_view)>& sink_;
    std::string buffer_;
};

} // namespace

void writeScanResultJson(const ScanResult& result,
                         const std::function<void(std::string_view)>& sink) {
    Writer writer(sink);
    writer.raw("{\"root\":");
    writer.node(result.root);
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
