#include "tests/support/TreeFixtures.hpp"

#include <algorithm>

namespace varnok::testing {

FileNode fileNode(const std::string& path, std::int64_t size) {
    return FileNode(Url::file(path, false), false, size, size, {}, 1, 0, false, false, true);
}

FileNode folderNode(const std::string& path, std::vector<FileNode> children) {
    std::stable_sort(children.begin(), children.end(), [](const FileNode& a, const FileNode& b) {
        return a.logicalSize > b.logicalSize ||
               (a.logicalSize == b.logicalSize && a.name() < b.name());
    });
    std::int64_t logical = 0, allocated = 0, files = 0, folders = 0;
    for (const FileNode& child : children) {
        logical += child.logicalSize;
        allocated += child.allocatedSize;
        files += child.fileCount;
        folders += child.folderCount + (child.isDirectory ? 1 : 0);
    }
    return FileNode(Url::file(path, true), true, logical, allocated, std::move(children), files,
                    folders, false, false, true);
}

std::vector<FileNode> filesIn(const std::string& folder, const std::vector<std::int64_t>& sizes) {
    std::vector<FileNode> nodes;
    for (size_t i = 0; i < sizes.size(); ++i) {
        nodes.push_back(fileNode(folder + "/f" + std::to_string(i), sizes[i]));
    }
    return nodes;
}

FileNode randomTree(std::mt19937& random, const std::string& path, int levels, int breadth) {
    std::uniform_int_distribution<int> count(0, breadth);
    std::uniform_int_distribution<int> magnitude(0, 9);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<FileNode> children;
    int entries = count(random);
    for (int i = 0; i < entries; ++i) {
        std::string childPath = path + "/e" + std::to_string(i);
        if (levels > 0 && percent(random) < 30) {
            children.push_back(randomTree(random, childPath, levels - 1, breadth));
        } else if (percent(random) < 5) {
            children.push_back(fileNode(childPath, 0));
        } else {
            std::int64_t scale = 1;
            for (int m = magnitude(random); m > 0; --m) {
                scale *= 10;
            }
            children.push_back(fileNode(childPath, scale + percent(random) * scale / 10));
        }
    }
    return folderNode(path, std::move(children));
}

FileNode buildListing(const Listing& listing, const std::string& root, const FileMaker& file,
                      const std::string& below) {
    std::vector<FileNode> children;
    const std::string prefix = below.empty() ? "" : below + "/";
    for (auto it = listing.lower_bound(prefix); it != listing.end(); ++it) {
        const std::string& path = it->first;
        if (path.compare(0, prefix.size(), prefix) != 0) {
            break;
        }
        if (path.size() == prefix.size() || path.find('/', prefix.size()) != std::string::npos) {
            continue;
        }
        children.push_back(it->second.isDirectory ? buildListing(listing, root, file, path)
                                                  : file(root + "/" + path, it->second.size));
    }
    return folderNode(below.empty() ? root : root + "/" + below, std::move(children));
}

Listing randomListing(std::mt19937& random, int levels, const std::vector<std::string>& names,
                      int absent, const std::function<std::int64_t(int)>& size,
                      const std::string& below) {
    std::uniform_int_distribution<int> percent(0, 99);
    Listing listing;
    for (const std::string& name : names) {
        if (percent(random) < absent) {
            continue;
        }
        const std::string path = below.empty() ? name : below + "/" + name;
        if (levels > 0 && percent(random) < 40) {
            listing[path] = {true, 0};
            listing.merge(randomListing(random, levels - 1, names, absent, size, path));
        } else {
            listing[path] = {false, size(percent(random))};
        }
    }
    return listing;
}

} // namespace varnok::testing
