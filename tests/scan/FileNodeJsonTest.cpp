#include "core/scan/FileNodeJson.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok;

namespace {

FileNode leaf(Url url) {
    return FileNode(std::move(url), false, 1, 1, {}, 1, 0, false, false, true);
}

FileNode folder(Url url, std::vector<FileNode> children) {
    return FileNode(std::move(url), true, 0, 0, std::move(children), 0, 0, false, false, true);
}

std::vector<std::string> idsOf(const nlohmann::json& node) {
    std::vector<std::string> ids{node["id"].get<std::string>()};
    for (const auto& child : node["children"]) {
        for (auto& id : idsOf(child)) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}

} // namespace

// The streaming writer forms a child's text from its parent's when the child's URL was appended
// to the parent's; any other child's URL is written whole.
TEST(FileNodeJson, WritesTheSameIdsHoweverTheUrlsWereMade) {
    const Url root = Url::file("/tmp/r o", true);
    const Url sub = root.appendingPathComponent("Caf\xC3\xA9 100%", true);
    const Url plain = Url::file("/tmp/r o/plain", false);
    ScanResult result;
    result.root = folder(
        root,
        {folder(sub, {leaf(sub.appendingPathComponent("#a?b;c")), leaf(Url::file("/elsewhere/x y")),
                      folder(Url::file("/tmp/r o/Caf\xC3\xA9 100%/flat", true),
                             {leaf(Url::file("/tmp/r o/Caf\xC3\xA9 100%/flat", true)
                                       .appendingPathComponent("z"))})}),
         leaf(plain), folder(*Url::parse("varnok-group://g"), {leaf(plain)}),
         // A file URL made from a file, not a folder, still gets its separating "/".
         leaf(plain.appendingPathComponent("inner", true))});

    std::string streamed;
    writeScanResultJson(result, [&](std::string_view piece) { streamed += piece; });
    const auto ids = idsOf(nlohmann::json::parse(streamed)["root"]);
    const std::vector<std::string> expected = {
        "file:///tmp/r%20o/",
        "file:///tmp/r%20o/Caf%C3%A9%20100%25/",
        "file:///tmp/r%20o/Caf%C3%A9%20100%25/%23a%3Fb%3Bc",
        "file:///elsewhere/x%20y",
        "file:///tmp/r%20o/Caf%C3%A9%20100%25/flat/",
        "file:///tmp/r%20o/Caf%C3%A9%20100%25/flat/z",
        "file:///tmp/r%20o/plain",
        "varnok-group://g",
        "file:///tmp/r%20o/plain",
        "file:///tmp/r%20o/plain/inner/",
    };
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(nlohmann::json::parse(streamed)["root"], nlohmann::json(result.root));
}
