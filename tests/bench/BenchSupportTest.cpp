#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "bench/BenchSupport.h"

using namespace zelbench;

TEST(BenchSupport, MedianOfSamples) {
    struct Case {
        std::vector<double> samples;
        double median;
    } cases[] = {
        {{}, 0.0},
        {{4.0}, 4.0},
        {{9.0, 1.0, 5.0}, 5.0},
        {{8.0, 2.0, 4.0, 6.0}, 5.0},
        {{1.0, 100.0, 2.0, 3.0, 1000.0}, 3.0}, // outliers do not move it
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(Median(c.samples), c.median) << c.samples.size() << " samples";
    }
}

// Over `count` repetitions every alternative runs once in every position, so
// no alternative is always first on a cold cache.
TEST(BenchSupport, RotatedOrderPutsEveryAlternativeInEveryPosition) {
    for (int count : {1, 2, 3, 4}) {
        std::vector<std::vector<int>> seen(count, std::vector<int>(count, 0));
        for (int repetition = 0; repetition < count; ++repetition) {
            const std::vector<int> order = RotatedOrder(count, repetition);
            ASSERT_EQ(order.size(), static_cast<std::size_t>(count));
            for (int position = 0; position < count; ++position) {
                ASSERT_GE(order[position], 0);
                ASSERT_LT(order[position], count);
                ++seen[order[position]][position];
            }
        }
        for (int alternative = 0; alternative < count; ++alternative) {
            for (int position = 0; position < count; ++position) {
                EXPECT_EQ(seen[alternative][position], 1)
                    << "count " << count << " alternative " << alternative;
            }
        }
    }
    EXPECT_EQ(RotatedOrder(3, 4), (std::vector<int>{1, 2, 0}));
    EXPECT_TRUE(RotatedOrder(0, 1).empty());
}

TEST(BenchSupport, IterationsReachTheTargetTime) {
    struct Case {
        double sample;
        double target;
        std::uint64_t iterations;
    } cases[] = {
        {0.001, 0.05, 50}, {0.03, 0.05, 2}, {0.2, 0.05, 1}, {0.0, 0.05, 1}, {-1.0, 0.05, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IterationsFor(c.sample, c.target), c.iterations) << c.sample;
    }
}

// The stream as the benchmarks write it, chunk after chunk.
std::vector<std::uint8_t> Written(const StreamPattern& pattern, std::uint64_t bytes,
                                  std::uint32_t chunk, std::uint64_t skipChunkAt = ~0ULL) {
    std::vector<std::uint8_t> out;
    for (std::uint64_t offset = 0; offset < bytes; offset += chunk) {
        if (offset == skipChunkAt) {
            continue;
        }
        const std::uint8_t* data = pattern.At(offset);
        out.insert(out.end(), data, data + chunk);
    }
    return out;
}

// How the benchmark reads a file back: in blocks of at most MaxSpan bytes.
bool Holds(const StreamPattern& pattern, const std::vector<std::uint8_t>& file) {
    for (std::size_t offset = 0; offset < file.size(); offset += pattern.MaxSpan()) {
        const std::size_t size = std::min(pattern.MaxSpan(), file.size() - offset);
        if (!pattern.Matches(offset, file.data() + offset, size)) {
            return false;
        }
    }
    return true;
}

TEST(BenchSupport, StreamPatternCatchesLostDoubledAndSwappedChunks) {
    const StreamPattern pattern(64 * 1024);
    for (std::uint32_t chunk : {4096u, 65536u}) {
        // Longer than one period, so that the stream wraps around.
        const std::uint64_t bytes = pattern.Period() + std::uint64_t{40} * chunk;
        const std::uint64_t total = bytes - bytes % chunk;
        std::vector<std::uint8_t> good = Written(pattern, total, chunk);
        EXPECT_TRUE(Holds(pattern, good)) << chunk;

        std::vector<std::uint8_t> lost = Written(pattern, total, chunk, 3 * chunk);
        EXPECT_FALSE(Holds(pattern, lost)) << "a lost chunk at " << chunk;

        std::vector<std::uint8_t> doubled = good;
        doubled.insert(doubled.begin() + 2 * chunk, good.begin() + chunk, good.begin() + 2 * chunk);
        doubled.resize(good.size());
        EXPECT_FALSE(Holds(pattern, doubled)) << "a doubled chunk at " << chunk;

        std::vector<std::uint8_t> swapped = good;
        std::swap_ranges(swapped.begin() + chunk, swapped.begin() + 2 * chunk,
                         swapped.begin() + 2 * chunk);
        EXPECT_FALSE(Holds(pattern, swapped)) << "swapped chunks at " << chunk;

        std::vector<std::uint8_t> flipped = good;
        flipped[flipped.size() - 1] ^= 1;
        EXPECT_FALSE(Holds(pattern, flipped)) << "one flipped bit at " << chunk;
    }
    std::vector<std::uint8_t> tooLong(pattern.MaxSpan() + 1);
    EXPECT_FALSE(pattern.Matches(0, tooLong.data(), tooLong.size()));
}

TEST(BenchSupport, CountLinesCountsOnlyExactCompleteLines) {
    const std::string a = "       : X: #879: ...";
    const std::string b = "       : X: #892: done";
    struct Case {
        std::string text;
        std::uint64_t first, second, other;
    } cases[] = {
        {"", 0, 0, 0},
        {a + "\r\n" + b + "\r\n" + a + "\r\n" + b + "\r\n", 2, 2, 0},
        {a + "\r\n" + "       : X: #599: ...\r\n" + b + "\r\n", 1, 1, 1},
        {a + " \r\n", 0, 0, 1},                 // trailing blank
        {a + "\r\n" + b, 1, 0, 1},              // last line torn
        {a + "\n" + b + "\n", 0, 0, 1},         // LF only: not the log's line ends
        {a + "\r\n\r\n" + b + "\r\n", 1, 1, 1}, // an empty line
        {b.substr(0, 10) + "\r\n", 0, 0, 1},    // a prefix of a line
    };
    for (const Case& c : cases) {
        const LineCounts counts = CountLines(c.text, a, b);
        EXPECT_EQ(counts.first, c.first) << c.text;
        EXPECT_EQ(counts.second, c.second) << c.text;
        EXPECT_EQ(counts.other, c.other) << c.text;
    }
}

TEST(BenchSupport, FormatTableAlignsColumns) {
    const std::string table = FormatTable(
        {{"capture", "monitor", "12.5", "MB/s", "x"}, {"c", "raw", "1234.0", "MB/s", ""}});
    // Header, rule and two rows; the numbers end in the same column.
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = table.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(table.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].find("12.5") + 4, lines[3].find("1234.0") + 6);
    EXPECT_EQ(lines[3].back(), 's') << "no trailing blanks";
}

TEST(BenchSupport, Throughput) {
    EXPECT_DOUBLE_EQ(MegabytesPerSecond(256000000, 2.0), 128.0);
    EXPECT_DOUBLE_EQ(MegabytesPerSecond(1, 0.0), 0.0);
    EXPECT_EQ(Fixed(0.94999, 3), "0.950");
}

TEST(BenchSupport, GoalsAreJudgedByTheirOwnSummaryLine) {
    const std::vector<Goal> goals = {{"ratio at 4 KiB: ", 0.95, true},
                                     {"ratio at 64 KiB: ", 0.95, true},
                                     {"cost 1000/10: ", 1.2, false}};
    struct Case {
        std::vector<std::string> summary;
        std::vector<std::string> judged;
    } cases[] = {
        {{"ratio at 4 KiB: 0.950", "ratio at 64 KiB: 0.949", "cost 1000/10: 1.200"},
         {"ratio at 4 KiB: 0.950 >= 0.95: met", "ratio at 64 KiB: 0.949 >= 0.95: MISSED",
          "cost 1000/10: 1.200 <= 1.20: met"}},
        {{"cost 1000/10: 1.201", "ratio at 64 KiB: 1.300"},
         {"ratio at 4 KiB: not measured >= 0.95", "ratio at 64 KiB: 1.300 >= 0.95: met",
          "cost 1000/10: 1.201 <= 1.20: MISSED"}},
        {{"ratio at 4 KiB: n/a", "other: 1.0"},
         {"ratio at 4 KiB: n/a >= 0.95: unreadable", "ratio at 64 KiB: not measured >= 0.95",
          "cost 1000/10: not measured <= 1.20"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeGoals(goals, c.summary), c.judged);
    }
    // Every goal judges a line that the benchmarks print.
    for (const Goal& goal : Goals()) {
        EXPECT_EQ(goal.prefix.substr(goal.prefix.size() - 2), ": ") << goal.prefix;
    }
}

TEST(BenchSupport, SectionListsSplitAtCommas) {
    EXPECT_EQ(SplitList("capture,enum"), (std::set<std::string>{"capture", "enum"}));
    EXPECT_EQ(SplitList("e2e"), (std::set<std::string>{"e2e"}));
    EXPECT_EQ(SplitList(",memory,,fixed,"), (std::set<std::string>{"memory", "fixed"}));
    EXPECT_TRUE(SplitList("").empty());
}

// The check that decides whether a timed capture counts: the file read back
// must be the stream, no more and no less.
TEST(BenchFiles, FileHoldsStreamOnlyForTheWholeExactStream) {
    const StreamPattern pattern(64 * 1024);
    const std::uint64_t size = pattern.Period() + 100000; // several blocks, wraps once
    std::vector<std::uint8_t> stream;
    for (std::uint64_t offset = 0; offset < size; offset += pattern.MaxSpan()) {
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(pattern.MaxSpan(), size - offset));
        stream.insert(stream.end(), pattern.At(offset), pattern.At(offset) + span);
    }
    wchar_t directory[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH, directory), 0u);
    const std::wstring path = std::wstring(directory) + L"zel-bench-files-test.tmp";

    struct Case {
        const char* name;
        std::vector<std::uint8_t> contents;
        bool holds;
    } cases[] = {
        {"exact", stream, true},
        {"one byte short", {stream.begin(), stream.end() - 1}, false},
        {"one byte more", stream, false},
        {"last byte changed", stream, false},
        {"empty", {}, false},
    };
    cases[2].contents.push_back(0);
    cases[3].contents.back() ^= 0x80;
    for (const Case& c : cases) {
        std::FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(c.contents.data(), 1, c.contents.size(), file), c.contents.size());
        ASSERT_EQ(std::fclose(file), 0);
        std::string why;
        EXPECT_EQ(FileHoldsStream(path, pattern, size, why), c.holds) << c.name;
        EXPECT_EQ(why.empty(), c.holds) << c.name << ": " << why;
    }
    DeleteFileW(path.c_str());
    std::string why;
    EXPECT_FALSE(FileHoldsStream(path, pattern, size, why));
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
}
