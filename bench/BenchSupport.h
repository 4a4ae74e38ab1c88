#pragma once

// The arithmetic and bookkeeping of the benchmarks: statistics, the order in
// which alternatives run, the reproducible print stream and the checks that
// prove the timed work was done. Nothing here calls the system, so every piece
// is tested on its own.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zelbench {

// Median of the samples (mean of the middle two for an even count); 0 when
// there are none.
double Median(std::vector<double> samples);

// The order in which `count` alternatives run in repetition `repetition`: the
// list 0..count-1 rotated left by the repetition number, so that each
// alternative takes every position equally often and none always runs first
// on a cold cache or last on a dirty one.
std::vector<int> RotatedOrder(int count, int repetition);

// How many times to repeat an operation that took `sampleSeconds` once so that
// one timed sample lasts about `targetSeconds`; at least 1.
std::uint64_t IterationsFor(double sampleSeconds, double targetSeconds);

// A print stream of any length whose byte at offset o is a fixed pseudo-random
// function of o with a period that is no multiple of any chunk size. A chunk
// that is lost, doubled or written out of order therefore shifts the rest of
// the file against the pattern and is caught by Matches().
class StreamPattern {
public:
    // `maxSpan` is the longest run that At() hands out or Matches() checks.
    explicit StreamPattern(std::size_t maxSpan);

    // The stream's bytes from `offset` on, valid for `maxSpan` bytes.
    const std::uint8_t* At(std::uint64_t offset) const;
    // Whether `data` equals the stream from `offset` on (size <= maxSpan).
    bool Matches(std::uint64_t offset, const void* data, std::size_t size) const;
    std::size_t MaxSpan() const { return maxSpan_; }
    std::size_t Period() const { return period_; }

private:
    std::size_t maxSpan_;
    std::size_t period_;
    std::vector<std::uint8_t> bytes_; // one period plus maxSpan, so spans never wrap
};

// How often each of two exact lines occurs in a log's text (lines end in
// CR LF), and how many lines are neither.
struct LineCounts {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::uint64_t other = 0;
};
LineCounts CountLines(const std::string& text, const std::string& first, const std::string& second);

// One row of the printed table.
struct Row {
    std::string item;   // e.g. "capture 4 KiB"
    std::string label;  // e.g. "monitor"
    std::string value;  // formatted number
    std::string unit;   // e.g. "MB/s"
    std::string detail; // free text
};

// The rows as a fixed-width table, one line per row plus a header.
std::string FormatTable(const std::vector<Row>& rows);

// A number with `decimals` digits after the point, C locale.
std::string Fixed(double value, int decimals);

// Throughput in MB/s (10^6 bytes per second).
double MegabytesPerSecond(std::uint64_t bytes, double seconds);

// A goal judges the summary line that starts with `prefix` (which ends in
// ": "): its number must be at least, or at most, `limit`.
struct Goal {
    std::string prefix;
    double limit;
    bool atLeast;
};
// The goals the benchmarks are held to.
const std::vector<Goal>& Goals();
// One line per goal: the summary line, the comparison and "met" or "MISSED";
// "not measured" when no summary line has the goal's prefix.
std::vector<std::string> JudgeGoals(const std::vector<Goal>& goals,
                                    const std::vector<std::string>& summary);

// The names of a comma-separated list, empty names left out.
std::set<std::string> SplitList(const std::string& list);

} // namespace zelbench
