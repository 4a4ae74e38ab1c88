#include "bench/BenchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace zelbench {

double Median(std::vector<double> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    if (samples.size() % 2 == 1) {
        return samples[middle];
    }
    return (samples[middle - 1] + samples[middle]) / 2.0;
}

std::vector<int> RotatedOrder(int count, int repetition) {
    std::vector<int> order;
    if (count <= 0) {
        return order;
    }
    const int shift = ((repetition % count) + count) % count;
    for (int i = 0; i < count; ++i) {
        order.push_back((i + shift) % count);
    }
    return order;
}

std::uint64_t IterationsFor(double sampleSeconds, double targetSeconds) {
    if (!(sampleSeconds > 0.0)) {
        return 1;
    }
    const double iterations = std::ceil(targetSeconds / sampleSeconds);
    return iterations < 1.0 ? 1 : static_cast<std::uint64_t>(iterations);
}

StreamPattern::StreamPattern(std::size_t maxSpan)
    // 1 MiB plus a prime: no power-of-two chunk size divides the period.
    : maxSpan_(maxSpan), period_((std::size_t{1} << 20) + 4099), bytes_(period_ + maxSpan) {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::size_t i = 0; i < period_; ++i) {
        // xorshift64: cheap, and every byte value turns up.
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes_[i] = static_cast<std::uint8_t>(state >> 24);
    }
    for (std::size_t i = period_; i < bytes_.size(); ++i) {
        bytes_[i] = bytes_[i % period_];
    }
}

const std::uint8_t* StreamPattern::At(std::uint64_t offset) const {
    return bytes_.data() + static_cast<std::size_t>(offset % period_);
}

bool StreamPattern::Matches(std::uint64_t offset, const void* data, std::size_t size) const {
    if (size > maxSpan_) {
        return false;
    }
    return std::memcmp(At(offset), data, size) == 0;
}

LineCounts CountLines(const std::string& text, const std::string& first,
                      const std::string& second) {
    LineCounts counts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        // A last line without its CR LF was torn: it counts as neither.
        const bool complete = end != std::string::npos;
        if (!complete) {
            end = text.size();
        }
        const std::size_t length = end - start;
        if (complete && text.compare(start, length, first) == 0 && length == first.size()) {
            ++counts.first;
        } else if (complete && text.compare(start, length, second) == 0 &&
                   length == second.size()) {
            ++counts.second;
        } else {
            ++counts.other;
        }
        start = complete ? end + 2 : end;
    }
    return counts;
}

std::string FormatTable(const std::vector<Row>& rows) {
    std::vector<Row> all;
    all.push_back({"item", "case", "value", "unit", "notes (times are medians)"});
    all.insert(all.end(), rows.begin(), rows.end());
    std::size_t widths[4] = {0, 0, 0, 0};
    for (const Row& row : all) {
        widths[0] = std::max(widths[0], row.item.size());
        widths[1] = std::max(widths[1], row.label.size());
        widths[2] = std::max(widths[2], row.value.size());
        widths[3] = std::max(widths[3], row.unit.size());
    }
    auto pad = [](const std::string& text, std::size_t width, bool right) {
        const std::string fill(width - text.size(), ' ');
        return right ? fill + text : text + fill;
    };
    std::string out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Row& row = all[i];
        std::string line = pad(row.item, widths[0], false) + "  " +
                           pad(row.label, widths[1], false) + "  " +
                           pad(row.value, widths[2], true) + " " + pad(row.unit, widths[3], false);
        if (!row.detail.empty()) {
            line += "  " + row.detail;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
        if (i == 0) {
            out += std::string(widths[0] + widths[1] + widths[2] + widths[3] + 7, '-') + "\n";
        }
    }
    return out;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0.0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
}

const std::vector<Goal>& Goals() {
    static const std::vector<Goal> goals = {
        // The monitor adds at most 5 % over what its design makes it do...
        {"capture/mandated at 4 KiB: ", 0.95, true},
        {"capture/mandated at 64 KiB: ", 0.95, true},
        // ...and where the data dominates, at most 10 % over the bare write.
        {"capture/raw at 1 MiB: ", 0.90, true},
        // Listing ports is linear in their number.
        {"enumports per-port cost 1000/10: ", 1.2, false},
    };
    return goals;
}

std::vector<std::string> JudgeGoals(const std::vector<Goal>& goals,
                                    const std::vector<std::string>& summary) {
    std::vector<std::string> judged;
    for (const Goal& goal : goals) {
        const std::string comparison =
            std::string(goal.atLeast ? " >= " : " <= ") + Fixed(goal.limit, 2);
        std::string verdict = goal.prefix + "not measured" + comparison;
        for (const std::string& line : summary) {
            if (line.compare(0, goal.prefix.size(), goal.prefix) != 0) {
                continue;
            }
            const char* number = line.c_str() + goal.prefix.size();
            char* end = nullptr;
            const double value = std::strtod(number, &end);
            if (end == number) {
                verdict = line + comparison + ": unreadable";
                break;
            }
            const bool met = goal.atLeast ? value >= goal.limit : value <= goal.limit;
            verdict = line + comparison + (met ? ": met" : ": MISSED");
            break;
        }
        judged.push_back(verdict);
    }
    return judged;
}

std::set<std::string> SplitList(const std::string& list) {
    std::set<std::string> names;
    std::stringstream stream(list);
    std::string name;
    while (std::getline(stream, name, ',')) {
        if (!name.empty()) {
            names.insert(name);
        }
    }
    return names;
}

} // namespace zelbench
