#include "core/duplicates/VerifiedFile.hpp"

#include "core/common/CleanupProblem.hpp"
#include "tests/duplicates/DuplicateTestSupport.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

TEST(VerifiedFile, RefusesWhatCannotBeOpenedSafelyAndLeavesNothingOpen) {
    TempDir dir;
    int descriptorsBefore = openDescriptorCount();
    // A search opens the first file of a device the long way and later ones the short way; both
    // must refuse what open refuses, with its message.
    VerifiedFile::LocalDevices devices;
    FileNode warm = scannedFile(writeFile(dir.at("warm.txt"), "w"));
    VerifiedFile::openForSearch(warm, warm.id.path(), devices);
    EXPECT_TRUE(devices.contains(static_cast<std::uint64_t>(warm.identity->device)));
    auto openFailure = [&](const FileNode& node) {
        std::string plain = failureOf([&] { VerifiedFile::open(node); });
        std::string inSearch =
            failureOf([&] { VerifiedFile::openForSearch(node, node.id.path(), devices); });
        return plain == inSearch ? plain : plain + " | in a search: " + inSearch;
    };

    FileNode changed = scannedFile(writeFile(dir.at("changed.txt"), "one"));
    writeFile(dir.at("changed.txt"), "two");
    setModifiedSecondsAgo(dir.at("changed.txt"), 100);
    EXPECT_EQ(openFailure(changed), "changed.txt changed or cannot be verified. Scan again.");

    writeFile(dir.at("real/inner.txt"), "x");
    makeSymlink(dir.at("real"), dir.at("link"));
    EXPECT_EQ(openFailure(scannedFile(dir.at("link/inner.txt"))),
              "inner.txt changed or cannot be verified. Scan again.");

    // A file with a size but no blocks on disk may be a placeholder whose contents are elsewhere.
    std::string sparse = writeFile(dir.at("sparse.bin"), "");
    ASSERT_EQ(::truncate(sparse.c_str(), 1 << 20), 0);
    EXPECT_EQ(openFailure(scannedFile(sparse)),
              "Cloud-only or unreadable files are excluded from duplicate cleanup.");

    std::string secret = writeFile(dir.at("secret.txt"), "nobody may read");
    setMode(secret, 0);
    FileNode secretNode = scannedFile(secret);
    auto child = runUnprivileged([&] { return openFailure(secretNode); });
    EXPECT_EQ(child.output, "The selected file cannot be opened safely.");

    FileNode readable = scannedFile(writeFile(dir.at("readable.txt"), "contents"));
    {
        FileHandle handle = VerifiedFile::openForSearch(readable, readable.id.path(), devices);
        char buffer[16];
        EXPECT_EQ(std::string(buffer, handle.read(buffer, sizeof buffer)), "contents");
    }

    // An open handle verifies only against the object it was opened for.
    FileNode first = scannedFile(writeFile(dir.at("first.txt"), "same"));
    FileNode second = scannedFile(writeFile(dir.at("second.txt"), "same"));
    {
        FileHandle handle = VerifiedFile::open(first);
        EXPECT_EQ(failureOf([&] { VerifiedFile::verify(handle, second); }),
                  "The opened file changed during verification.");
        FileNode unrecorded = first;
        unrecorded.identity.reset();
        EXPECT_THROW(VerifiedFile::verify(handle, unrecorded), CleanupProblem);
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(VerifiedFile, MetadataHoldsOwnerModeFlagsAndEveryAttribute) {
    TempDir dir;
    std::string path = writeFile(dir.at("plain.txt"), "contents");
    setMode(path, 0640);
    // Only root can give the file away; a normal user checks its own ids.
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
    ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
    VerifiedFile::Metadata plain;
    {
        FileHandle handle = VerifiedFile::open(scannedFile(path));
        plain = VerifiedFile::metadata(handle);
    }
    EXPECT_EQ(plain.owner, owner);
    EXPECT_EQ(plain.group, group);
    EXPECT_EQ(plain.mode, S_IFREG | 0640);
    for (const auto& [name, value] : plain.extendedAttributes) {
        EXPECT_NE(name.rfind("user.", 0), 0u) << name;
    }

    if (!setUserAttribute(path, "user.empty", "") ||
        !setUserAttribute(path, "user.tag", std::string("bin\0ary", 7))) {
        GTEST_SKIP() << "the temporary folder's file system has no user extended attributes";
    }
    FileHandle handle = VerifiedFile::open(scannedFile(path));
    VerifiedFile::Metadata tagged = VerifiedFile::metadata(handle);
    ASSERT_EQ(tagged.extendedAttributes.count("user.empty"), 1u);
    EXPECT_EQ(tagged.extendedAttributes.at("user.empty"), "");
    EXPECT_EQ(tagged.extendedAttributes.at("user.tag"), std::string("bin\0ary", 7));
    EXPECT_NE(tagged, plain);
}
