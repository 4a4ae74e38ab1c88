#include "bench/Benchmarks.h"
namespace zelbench {
void RunJobFixedCosts(const MonitorHost&, const Options&, Results&) {}
void RunEnumPorts(const MonitorHost&, const Options&, Results&) {}
void RunAddPortUi(const MonitorHost&, const Options&, Results&) {}
void RunMemory(const MonitorHost&, const Options&, Results&) {}
void RunEndToEnd(const Options&, Results&) {}
} // namespace zelbench
