// Times the CSV batch reader against awk on the same file in the same run.
//
//   batch_read_bench [rows] [distinct] [repetitions]
//
// Writes a CSV file of `rows` records (default 1,000,000) with five columns, the second
// holding one of `distinct` zip codes (default 30,000), to the temporary folder; then
// reads it `repetitions` times (default 7) with ReadBatchData and with
// awk -F, '!seen[$2]++', and prints the median of each and their ratio.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "input/batch_reader.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds of this process, and of its waited-for children (awk and its shell).
double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double childrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void writeFile(const std::filesystem::path& path, long rows, int distinct) {
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> code(0, distinct - 1);
    std::ofstream out(path, std::ios::binary);
    std::string line;
    char zip[16];
    out << "Id,Zip,Name,City,Amount\r\n";
    for (long i = 0; i < rows; ++i) {
        std::snprintf(zip, sizeof zip, "%05d", (code(rng) * 3) % 100000);
        line.clear();
        line += std::to_string(i);
        line += ',';
        line += zip;
        line += ",Customer ";
        line += std::to_string(i % 977);
        line += ",Springfield,";
        line += std::to_string((i * 37) % 10007);
        line += ".50\r\n";
        out << line;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const int distinct = argc > 2 ? std::atoi(argv[2]) : 30'000;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 7;
    if (rows <= 0 || distinct <= 0 || distinct > 33'333 || repetitions <= 0) {
        std::cerr << "usage: batch_read_bench [rows] [distinct<=33333] [repetitions]\n";
        return 2;
    }

    const auto path = std::filesystem::temp_directory_path() /
                      ("zembra-batch-bench-" + std::to_string(::getpid()) + ".csv");
    writeFile(path, rows, distinct);
    const auto bytes = std::filesystem::file_size(path);

    zembra::client::BatchSource source;
    source.csvPath = path.string();
    source.csvFieldName = "Zip";
    const std::string awk = "awk -F, '!seen[$2]++' '" + path.string() + "' > /dev/null";

    std::vector<double> reader;
    std::vector<double> awkTimes;
    std::vector<double> readerCpu;
    std::vector<double> awkCpu;
    std::size_t found = 0;
    int status = 0;
    for (int i = 0; i < repetitions; ++i) {
        auto start = Clock::now();
        double cpu = processCpuMs();
        const auto zips = zembra::client::ReadBatchData(source, {});
        readerCpu.push_back(processCpuMs() - cpu);
        reader.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        found = zips.size();

        start = Clock::now();
        cpu = childrenCpuMs();
        status |= std::system(awk.c_str());
        awkCpu.push_back(childrenCpuMs() - cpu);
        awkTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::filesystem::remove(path);

    const double readerMedian = median(reader);
    const double awkMedian = median(awkTimes);
    std::cout << "file: " << rows << " records, " << bytes / (1024.0 * 1024.0) << " MiB, " << found
              << " distinct codes found\n"
              << "medians over " << repetitions << " runs (wall ms / CPU ms):\n"
              << "  ReadBatchData: " << readerMedian << " / " << median(readerCpu) << "\n"
              << "  awk:           " << awkMedian << " / " << median(awkCpu) << "\n"
              << "awk / ReadBatchData: " << awkMedian / readerMedian << "x wall, "
              << median(awkCpu) / median(readerCpu) << "x CPU\n";
    if (status != 0) {
        std::cerr << "awk failed\n";
        return 1;
    }
    return found == static_cast<std::size_t>(distinct) ? 0 : 1;
}
