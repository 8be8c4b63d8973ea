// The output of a run: data running across parts, headers kept whole in one
// part, and the end of a run when the next part is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/ZipExceptions.h"
#include "engine/ZipParts.h"
#include "tests/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

// Writes ("w N", N bytes of data) and headers ("h N", N bytes kept in one
// part) into parts of the given capacities; the parts' contents come out,
// each byte telling which operation wrote it.
struct PartsCase {
    const char* name;
    std::vector<int64_t> capacities;  // of the first part, then of each next one
    std::vector<std::pair<char, int64_t>> operations;
    std::vector<std::string> parts;
};

TEST(PartOutput, DataRunsAcrossPartsAndHeadersStayWhole)
{
    const PartsCase cases[] = {
        {"data cut where each part is full", {10, 7}, {{'w', 25}}, {"aaaaaaaaaa", "aaaaaaa", "aaaaaaa", "a"}},
        {"a full part is closed only when more comes", {4, 4}, {{'w', 4}}, {"aaaa"}},
        {"a header that does not fit starts the next part", {6, 6}, {{'w', 3}, {'h', 4}, {'w', 1}},
         {"aaa", "bbbbc"}},
        {"a header that fits stays", {6, 6}, {{'w', 2}, {'h', 4}, {'w', 1}}, {"aabbbb", "c"}},
    };
    for (const PartsCase& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir t;
        std::vector<std::string> names = {t / "p0"};
        TPartOutput out(names[0], k.capacities[0],
                        [&](int part, const std::string& previous) {
                            EXPECT_EQ(previous, names.back());
                            names.push_back(t / ("p" + std::to_string(part)));
                            return std::pair(names.back(), k.capacities[std::min<size_t>(part, 1)]);
                        },
                        false);
        char tag = 'a';
        for (const auto& [op, n] : k.operations) {
            const std::string bytes(size_t(n), tag++);
            if (op == 'h')
                out.MakeRoom(n);
            out.Write(bytes.data(), n);
        }
        EXPECT_EQ(out.Part() + 1, int(k.parts.size()));
        EXPECT_EQ(out.Finished(), std::vector<std::string>(names.begin(), names.end() - 1));
        out.Close();
        std::vector<std::string> contents;
        for (const std::string& name : names)
            contents.push_back(ReadFile(name));
        EXPECT_EQ(contents, k.parts);
    }
}

TEST(PartOutput, WhatCannotGoOnEndsTheRun)
{
    TempDir t;
    // A header larger than a whole part.
    TPartOutput small(t / "s0", 8, [&](int, const std::string&) { return std::pair(t / "s1", int64_t(8)); }, false);
    EXPECT_THROW(small.MakeRoom(9), ENotEnoughRoom);

    // A next part refused (a disk not given): no part is being written.
    TPartOutput refused(t / "r0", 2, [](int, const std::string&) -> std::pair<std::string, int64_t> {
        throw EUserCanceled();
    }, false);
    EXPECT_THROW(refused.Write("abc", 3), EUserCanceled);
    EXPECT_EQ(refused.Name(), "");
    EXPECT_EQ(refused.Finished(), std::vector<std::string>{t / "r0"});

    // One file has no parts: it takes everything.
    TPartOutput one(t / "one", false);
    one.MakeRoom(int64_t(1) << 40);
    one.Write("abc", 3);
    EXPECT_FALSE(one.HasParts());
    one.Close();
    EXPECT_EQ(ReadFile(t / "one"), "abc");
}

}  // namespace
