// Speed of the diagnostic statistics over a realistic hour of one port.
//
//   quorvane-stats-bench [--megabytes N] [--repeat N]   analyse a generated hour in memory
//   quorvane-stats-bench --write FILE [--megabytes N]  write the generated hour to FILE
//   quorvane-stats-bench --file FILE [--repeat N]      analyse FILE (read once, then timed)
//
// The generated text is what a fast instrument at 921600 baud sends in an
// hour (about 330 MB): whole lines of eight blank-separated fields, a status
// flag and seven readings, as a sonic anemometer with gas analyser gives
// them. The statistics summarise the seven readings with the flag as error
// check. Prints MB/s (1 MB = 10^6 bytes) and the rows, so that other tools'
// figures can be set beside them (bench/statistics_vs_tools.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "acquisition/statistics_analysis.h"

namespace {

constexpr double kBytesPerHourAt921600 = 921600.0 / 10.0 * 3600.0;  // 8N1: 10 bits a byte

std::string GenerateHour(std::size_t bytes) {
    std::mt19937 random(20240601);
    std::normal_distribution<double> noise(0.0, 1.0);
    double u = -1.2, v = 0.5, w = 0.05, t = 21.4, h2o = 12.3, co2 = 398.2, p = 1013.2;
    std::string text;
    text.reserve(bytes + 128);
    char line[128];
    while (text.size() < bytes) {
        u += 0.05 * noise(random);
        v += 0.05 * noise(random);
        w = 0.1 * noise(random);
        t += 0.002 * noise(random);
        h2o += 0.003 * noise(random);
        co2 += 0.05 * noise(random);
        p += 0.001 * noise(random);
        const int length = std::snprintf(
            line, sizeof line, "0 %.3f %.3f %.3f %.2f %.3f %.2f %.1f\n", u, v, w, t, h2o, co2, p);
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}

struct Settings {
    std::vector<int32_t> positions{1, 2, 3, 4, 5, 6, 7};
    std::vector<int32_t> error_positions{0, 0, 0, 0, 0, 0, 0};
    std::vector<double> error_values{1, 1, 1, 1, 1, 1, 1};
    const char* labels[7] = {"u", "v", "w", "T", "H2O", "CO2", "P"};

    PortStatisticsSettings Port() const {
        PortStatisticsSettings settings;
        settings.terminator = '\n';
        settings.count = static_cast<int32_t>(positions.size());
        settings.positions = positions.data();
        settings.error_positions = error_positions.data();
        settings.error_values = error_values.data();
        return settings;
    }
};

// Appends the whole file to `text` with one allocation and one read.
bool ReadWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        const std::size_t offset = text.size();
        text.resize(offset + static_cast<std::size_t>(size));
        ok = std::fread(text.data() + offset, 1, static_cast<std::size_t>(size), file) ==
             static_cast<std::size_t>(size);
    }
    std::fclose(file);
    return ok;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quorvane-stats-bench [--megabytes N] [--repeat N] [--write FILE | --file "
                 "FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double megabytes = kBytesPerHourAt921600 / 1e6;
    int repeat = 5;
    std::string write_path;
    std::string read_path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        if (arg == "--megabytes") {
            megabytes = std::atof(argv[++i]);
        } else if (arg == "--repeat") {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--write") {
            write_path = argv[++i];
        } else if (arg == "--file") {
            read_path = argv[++i];
        } else {
            return Usage();
        }
    }

    // The capture holds whole lines: as in a period that began at a line end,
    // its first line is a record too.
    std::string text = "\n";
    if (!read_path.empty()) {
        if (!ReadWholeFile(read_path, text)) {
            std::fprintf(stderr, "cannot read %s\n", read_path.c_str());
            return 1;
        }
    } else {
        text += GenerateHour(static_cast<std::size_t>(megabytes * 1e6));
    }
    if (!write_path.empty()) {
        std::ofstream out(write_path, std::ios::binary | std::ios::trunc);
        out.write(text.data() + 1, static_cast<std::streamsize>(text.size() - 1));
        return out ? 0 : 1;
    }

    // Processor time is the figure that counts on a station (and the one that
    // stays meaningful on a busy machine); wall time is shown beside it.
    const Settings settings;
    std::vector<double> cpu_seconds;
    std::vector<double> wall_seconds;
    std::vector<StatisticsRow> rows;
    for (int r = 0; r < repeat; ++r) {
        const std::clock_t cpu_start = std::clock();
        const auto wall_start = std::chrono::steady_clock::now();
        rows = AnalysePortText(text.data(), text.size(), settings.Port(), nullptr);
        const auto wall_stop = std::chrono::steady_clock::now();
        const std::clock_t cpu_stop = std::clock();
        cpu_seconds.push_back(static_cast<double>(cpu_stop - cpu_start) / CLOCKS_PER_SEC);
        wall_seconds.push_back(std::chrono::duration<double>(wall_stop - wall_start).count());
    }
    std::sort(cpu_seconds.begin(), cpu_seconds.end());
    std::sort(wall_seconds.begin(), wall_seconds.end());
    const double mb = static_cast<double>(text.size()) / 1e6;
    std::printf("bytes %zu\n", text.size());
    std::printf(
        "quorvane statistics: cpu best %.3f s (%.0f MB/s), median %.3f s (%.0f MB/s); "
        "wall best %.3f s (%.0f MB/s); %d runs\n",
        cpu_seconds.front(), mb / cpu_seconds.front(), cpu_seconds[repeat / 2],
        mb / cpu_seconds[repeat / 2], wall_seconds.front(), mb / wall_seconds.front(), repeat);
    for (std::size_t j = 0; j < rows.size(); ++j) {
        std::printf("%s", FormatStatisticsRow("bench", settings.labels[j], rows[j]).c_str());
    }
    return 0;
}
