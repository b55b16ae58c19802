#pragma once
// What both sides' folder calls must do under `root`, a folder that does not
// exist yet, named in UTF-8.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/directory.h"
#include "platform/whole_file.h"

namespace vorpane {

inline void ExpectFoldersMadeListedAndRemoved(const std::string& root) {
    const std::string deep = JoinPath(JoinPath(root, "a"), "b");
    ASSERT_EQ(MakeDirectories(deep), 0);
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_EQ(MakeDirectories(deep), 0) << "a folder already there is no error";
    const uint8_t byte = 1;
    const std::string file = JoinPath(root, "000001-session-1.png");
    ASSERT_EQ(WriteNewFile(file, &byte, 1).status, NewFileStatus::kWritten);
    EXPECT_FALSE(IsDirectory(file));
    EXPECT_NE(MakeDirectories(file), 0);
    EXPECT_NE(MakeDirectories(JoinPath(file, "below")), 0);

    auto listed = ListDirectory(root);
    ASSERT_EQ(listed.error, 0);
    std::sort(listed.entries.begin(), listed.entries.end(),
              [](const auto& x, const auto& y) { return x.name < y.name; });
    ASSERT_EQ(listed.entries.size(), 2u);
    EXPECT_EQ(listed.entries[0].name, "000001-session-1.png");
    EXPECT_TRUE(listed.entries[0].regularFile);
    EXPECT_EQ(listed.entries[1].name, "a");
    EXPECT_FALSE(listed.entries[1].regularFile);
    EXPECT_NE(ListDirectory(JoinPath(root, "missing")).error, 0);
    EXPECT_TRUE(ListDirectory(JoinPath(root, "missing")).entries.empty());

    EXPECT_NE(RemoveEmptyDirectory(JoinPath(root, "a")), 0) << "it holds b";
    EXPECT_EQ(RemoveEmptyDirectory(deep), 0);
    EXPECT_EQ(RemoveEmptyDirectory(JoinPath(root, "a")), 0);
    EXPECT_TRUE(RemoveFile(file));
    EXPECT_EQ(RemoveEmptyDirectory(root), 0);
    EXPECT_FALSE(IsDirectory(root));
}

// Paths and what JoinPath, PathStem and PathExtension make of them; `sep`
// is the side's own separator.
inline void ExpectPathNames(char sep) {
    const std::string s(1, sep);
    const struct {
        std::string dir, name, joined;
    } joins[] = {{"out", "x.png", "out" + s + "x.png"},
                 {"out" + s, "x.png", "out" + s + "x.png"},
                 {"", "x.png", "x.png"},
                 {s, "x.png", s + "x.png"}};
    for (const auto& j : joins) {
        EXPECT_EQ(JoinPath(j.dir, j.name), j.joined) << j.dir;
    }
    const struct {
        std::string path, stem, extension;
    } names[] = {{"a" + s + "receipt.bin", "a" + s + "receipt", ".bin"},
                 {"a.d" + s + "receipt", "a.d" + s + "receipt", ""},
                 {"r.tar.gz", "r.tar", ".gz"},
                 {s + ".hidden", s + ".hidden", ""},
                 {"end.", "end", "."},
                 {"..", "..", ""}};
    for (const auto& n : names) {
        EXPECT_EQ(PathStem(n.path), n.stem) << n.path;
        EXPECT_EQ(PathExtension(n.path), n.extension) << n.path;
    }
}

}  // namespace vorpane
