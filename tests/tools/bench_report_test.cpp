// The benchmark report (scripts/bench_report.py) on Google Benchmark's JSON: rows pair "ours"
// and "peer" whatever suffixes follow the side ("/manual_time" of peers timed by hand), and a
// side that did not run is named with its reason instead of a bare "n/a".
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

std::string Report(const std::string& json) {
    ScratchDir dir;
    const std::string in = dir.Write("results.json", ToBytes(json)), out = dir / "rows.tsv";
    const std::string command = std::string("/usr/bin/python3 ") + QV_SOURCE_DIR +
                                "/scripts/bench_report.py " + in + " " + out + " >/dev/null";
    if (std::system(command.c_str()) != 0) return "the report failed";
    const auto bytes = ReadBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

TEST(BenchReport, PairsManualTimeRowsAndNamesSidesThatDidNotRun) {
    const std::string json = R"({"benchmarks": [
        {"name": "B1:loop/ours", "run_type": "iteration", "real_time": 10.0, "time_unit": "ms"},
        {"name": "B1:loop/peer", "run_type": "iteration", "real_time": 25.0, "time_unit": "ms"},
        {"name": "B1:loop/ours_mean", "run_type": "aggregate", "real_time": 99.0,
         "time_unit": "ms"},
        {"name": "G4a:quantise 256/ours", "run_type": "iteration", "real_time": 4.0,
         "time_unit": "ms"},
        {"name": "G4a:quantise 256/peer/manual_time", "run_type": "iteration",
         "real_time": 6.0, "time_unit": "ms"},
        {"name": "G5g:distort vs convert/ours", "run_type": "iteration", "real_time": 8.0,
         "time_unit": "ms"},
        {"name": "G5g:distort vs convert/peer/iterations:5/manual_time", "run_type": "iteration",
         "error_occurred": true, "error_message": "convert-im6.q16 failed", "real_time": 0,
         "time_unit": "ms"},
        {"name": "G5h:swirl/ours", "run_type": "iteration", "real_time": 2.0, "time_unit": "ms"},
        {"name": "helper without a side", "run_type": "iteration", "real_time": 1.0,
         "time_unit": "ms"}
    ]})";
    EXPECT_EQ(Report(json),
              "id\tname\tours\tpeer\tunit\tratio\n"
              "B1\tloop\t10.0\t25.0\tms\t2.50\n"
              "G4a\tquantise 256\t4.0\t6.0\tms\t1.50\n"
              "G5g\tdistort vs convert\t8.0\tn/a\tms\tpeer did not run (convert-im6.q16 failed)\n"
              "G5h\tswirl\t2.0\tn/a\tms\tpeer did not run (no result)\n");
}

}  // namespace
}  // namespace qv
