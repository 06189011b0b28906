#include "report/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "platform/process.h"

namespace report {
namespace {

constexpr char kTerminal[] =
    "set terminal svg size 960,%d fixed noenhanced font 'sans,11' background '#ffffff'\n";
constexpr int kWideHeight = 320;

// A text as a gnuplot string: single quotes, a quote doubled.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    return quoted + "'";
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

struct AxisTic {
    std::string label;
    int hour = 0;  // from the first day's start
};

// Every third hour for one day; every day for more.
std::vector<AxisTic> TimeAxisTics(const StationReport& report) {
    std::vector<AxisTic> tics;
    if (report.days.size() == 1) {
        for (int hour = 0; hour <= kHoursPerDay; hour += 3) {
            char label[24];
            std::snprintf(label, sizeof label, "%02d h", hour);
            tics.push_back({label, hour});
        }
        return tics;
    }
    const size_t step = std::max<size_t>(1, report.days.size() / 10);
    for (size_t d = 0; d < report.days.size(); d += step) {
        tics.push_back({report.days[d].IsoName().substr(5), static_cast<int>(d) * kHoursPerDay});
    }
    return tics;
}

std::string TimeAxis(const StationReport& report) {
    std::string text = "set xrange [0:" + std::to_string(report.Hours()) + "]\nset xtics (";
    const auto tics = TimeAxisTics(report);
    for (size_t i = 0; i < tics.size(); ++i) {
        text += (i > 0 ? ", " : "") + Quoted(tics[i].label) + " " + std::to_string(tics[i].hour);
    }
    return text + ")\nset grid xtics lc rgb '#dddddd'\nset xlabel 'UTC'\n";
}

// What every plot's script begins with: the image, its size and title, and
// the time axis.
std::string ScriptHead(const StationReport& report, const std::string& image, int height,
                       const std::string& title) {
    char terminal[160];
    std::snprintf(terminal, sizeof terminal, kTerminal, height);
    return std::string("reset\n") + terminal + "set output " + Quoted(image) + "\n" + "set title " +
           Quoted(title) + "\n" + TimeAxis(report);
}

// A directory of its own for the data files, the script and the images.
class WorkDirectory {
public:
    WorkDirectory() {
        std::random_device random;
        std::error_code ec;
        const auto base = std::filesystem::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = base / ("quorvane-report-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
            }
        }
    }
    ~WorkDirectory() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

    bool Write(const std::string& name, const std::string& text) const {
        std::ofstream out(File(name), std::ios::binary);
        out << text;
        return static_cast<bool>(out);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path_;
};

// The grid: one image row per port, one column per hour, the colour the
// bytes archived; the log's marks as symbols in the cells.
std::string AvailabilityScript(const StationReport& report, const WorkDirectory& work) {
    std::string grid;
    std::string marks[4];
    int64_t most = 1;
    for (int h = 0; h < report.Hours(); ++h) {
        for (size_t p = 0; p < report.ports.size(); ++p) {
            const int64_t bytes = report.ports[p].bytes[static_cast<size_t>(h)];
            most = std::max(most, bytes);
            grid += Number(h + 0.5) + " " + std::to_string(p) + " " + std::to_string(bytes) + "\n";
            const unsigned cell = report.ports[p].marks[static_cast<size_t>(h)];
            for (int k = 0; k < 4; ++k) {
                if ((cell & (1u << k)) != 0) {
                    marks[k] += Number(h + 0.2 + 0.2 * k) + " " + std::to_string(p) + "\n";
                }
            }
        }
        grid += "\n";
    }
    work.Write("availability.dat", grid);
    std::string script = ScriptHead(report, work.File("availability.svg"),
                                    120 + 36 * static_cast<int>(report.ports.size()),
                                    "Bytes archived per port and hour, and what the log tells");
    script += "set yrange [-0.5:" + Number(static_cast<double>(report.ports.size()) - 0.5) + "]\n";
    script += "set ytics (";
    for (size_t p = 0; p < report.ports.size(); ++p) {
        script += (p > 0 ? ", " : "") + Quoted("COM" + std::to_string(report.ports[p].port)) + " " +
                  std::to_string(p);
    }
    script += ")\nset cbrange [0:" + std::to_string(most) + "]\nset cblabel 'bytes'\n";
    script += "set palette defined (0 '#ffffff', 1 '#c6dbef', 2 '#2171b5', 3 '#08306b')\n";
    script += "set key outside bottom center horizontal\n";
    std::string plot =
        "plot " + Quoted(work.File("availability.dat")) + " using 1:2:3 with image pixels notitle";
    static const char* const kMarkStyles[4][2] = {
        {"no data", "pt 6 ps 0.8 lc rgb '#636363'"},
        {"receive queue full", "pt 9 ps 0.9 lc rgb '#e6550d'"},
        {"port lost", "pt 2 ps 0.9 lc rgb '#a50f15'"},
        {"write failure", "pt 5 ps 0.8 lc rgb '#54278f'"}};
    for (int k = 0; k < 4; ++k) {
        if (marks[k].empty()) {
            continue;
        }
        const std::string name = "marks" + std::to_string(k) + ".dat";
        work.Write(name, marks[k]);
        plot += ", " + Quoted(work.File(name)) + " using 1:2 with points " + kMarkStyles[k][1] +
                " title " + Quoted(kMarkStyles[k][0]);
    }
    return script + plot + "\n";
}

// Entries that need attention, per hour, stacked by code.
std::string ProblemsScript(const StationReport& report, const WorkDirectory& work) {
    std::vector<const CodeCounts*> codes;
    for (const CodeCounts& counts : report.codes) {
        if (!counts.routine) {
            codes.push_back(&counts);
        }
    }
    if (codes.empty()) {
        return "";
    }
    std::string table;
    int most = 1;
    for (int h = 0; h < report.Hours(); ++h) {
        table += Number(h + 0.5);
        int running = 0;
        for (const CodeCounts* counts : codes) {
            running += counts->per_hour[static_cast<size_t>(h)];
            table += ' ';
            table += std::to_string(running);
        }
        most = std::max(most, running);
        table += "\n";
    }
    work.Write("problems.dat", table);
    std::string script = ScriptHead(report, work.File("problems.svg"), kWideHeight,
                                    "Log entries that need attention, per hour and code");
    // Whole entries on the axis: about five tics.
    script += "set yrange [0:" + std::to_string(most) + "]\nset ytics " +
              std::to_string((most + 4) / 5) + "\nset ylabel 'entries'\n";
    script += report.days.size() == 1 ? "set style fill solid 0.9 border -1\nset boxwidth 0.9\n"
                                      : "set style fill solid 1.0 noborder\nset boxwidth 1.0\n";
    script += "set key outside right top vertical\n";
    std::string plot = "plot";
    // The tallest (all codes) first, so every lower sum is drawn over it.
    for (size_t i = codes.size(); i-- > 0;) {
        char code[16];
        std::snprintf(code, sizeof code, "%02d", codes[i]->code);
        plot += std::string(i + 1 == codes.size() ? " " : ", ") +
                Quoted(work.File("problems.dat")) + " using 1:" + std::to_string(i + 2) +
                " with boxes title " + Quoted(code);
    }
    return script + plot + "\n";
}

// One statistic: the band of one standard deviation around the hourly mean,
// and the samples of each hour on the right axis. Hours without samples break
// the line.
std::string StatisticsScript(const StationReport& report, size_t index, const WorkDirectory& work) {
    const StatisticsSeries& series = report.statistics[index];
    std::string means;
    std::string samples;
    bool any_mean = false;
    double lowest = 0;
    double highest = 0;
    int64_t most_samples = 0;
    for (int h = 0; h < report.Hours(); ++h) {
        const auto& hour = series.hours[static_cast<size_t>(h)];
        if (!hour || hour->samples == 0) {
            means += "\n";
        } else {
            lowest = any_mean ? std::min(lowest, hour->mean - hour->deviation)
                              : hour->mean - hour->deviation;
            highest = any_mean ? std::max(highest, hour->mean + hour->deviation)
                               : hour->mean + hour->deviation;
            any_mean = true;
            means += Number(h + 0.5) + " " + Number(hour->mean - hour->deviation) + " " +
                     Number(hour->mean + hour->deviation) + " " + Number(hour->mean) + "\n";
        }
        if (hour) {
            most_samples = std::max(most_samples, hour->samples);
            samples += Number(h) + " " + std::to_string(hour->samples) + "\n";
            samples += Number(h + 1) + " " + std::to_string(hour->samples) + "\n";
        } else {
            samples += "\n";
        }
    }
    const std::string stem = "statistics" + std::to_string(index);
    work.Write(stem + "-means.dat", means);
    work.Write(stem + "-samples.dat", samples);
    std::string script = ScriptHead(report, work.File(stem + ".svg"), kWideHeight,
                                    series.instrument + ": " + series.label);
    script += "set ytics nomirror\nset ylabel 'hourly mean'\n";
    script += std::string("set y2range [0:") + (most_samples > 0 ? "*" : "1") +
              "]\nset y2tics\nset y2label 'samples'\n";
    if (any_mean && !(highest > lowest)) {
        // One value all along: a range around it (gnuplot would warn and do
        // the same).
        const double margin = std::max(1.0, std::abs(lowest) * 0.01);
        script += "set yrange [" + Number(lowest - margin) + ":" + Number(highest + margin) + "]\n";
    }
    script += "set key outside bottom center horizontal\n";
    const std::string data = Quoted(work.File(stem + "-means.dat"));
    if (!any_mean) {
        script += "set label 'no samples' at graph 0.5, graph 0.5 center\nset yrange [0:1]\n";
    }
    script += "plot " + Quoted(work.File(stem + "-samples.dat")) +
              " using 1:2 axes x1y2 with lines lw 2 lc rgb '#bbbbbb' title 'samples'";
    if (any_mean) {
        script += ", " + data +
                  " using 1:2:3 with filledcurves fc rgb '#9ecae1' fs transparent solid 0.5"
                  " title 'mean ± 1 standard deviation', " +
                  data + " using 1:4 with " +
                  (report.days.size() == 1 ? "linespoints pt 7 ps 0.4" : "lines") +
                  " lc rgb '#08519c' title 'mean'";
    }
    script += "\n";
    return script;
}

struct PlotterRun {
    std::string why;  // empty: it worked
    bool started = false;
};

// Runs the program on the script.
PlotterRun RunPlotter(const PlotSettings& settings, const std::string& script) {
    auto process = platform::StartProcess(settings.program, {script});
    if (!process) {
        return {settings.program + " cannot be started (Debian: apt-get install gnuplot-nox)",
                false};
    }
    if (!platform::WaitForProcessEnd(*process, settings.timeout_ms)) {
        platform::TerminateProcess(*process);
        platform::CollectProcess(*process, 1000);
        return {settings.program + " did not finish within " +
                    std::to_string(settings.timeout_ms / 1000) + " s",
                true};
    }
    const auto status = platform::ExitStatus(*process);
    platform::CollectProcess(*process, 1000);
    if (!status || *status != 0) {
        return {settings.program + " failed (exit status " +
                    (status ? std::to_string(*status) : std::string("unknown")) + ")",
                true};
    }
    return {"", true};
}

}  // namespace

Plots DrawPlots(const StationReport& report, const PlotSettings& settings) {
    Plots plots;
    plots.statistics.resize(report.statistics.size());
    if (report.ports.empty() && report.codes.empty() && report.statistics.empty()) {
        return plots;  // nothing to draw
    }
    WorkDirectory work;
    if (!work.ok()) {
        plots.why_missing = "no temporary directory could be made for the plots";
        return plots;
    }
    // One run of the program for each plot, so that a plot it cannot draw
    // costs only that plot.
    struct Plot {
        std::string script;
        std::string image;
        std::string* svg;
        std::string what;
    };
    std::vector<Plot> wanted;
    if (!report.ports.empty()) {
        wanted.push_back({AvailabilityScript(report, work), "availability.svg", &plots.availability,
                          "the availability grid"});
    }
    if (std::string script = ProblemsScript(report, work); !script.empty()) {
        wanted.push_back({script, "problems.svg", &plots.problems, "the problems"});
    }
    for (size_t i = 0; i < report.statistics.size(); ++i) {
        const StatisticsSeries& series = report.statistics[i];
        wanted.push_back({StatisticsScript(report, i, work),
                          "statistics" + std::to_string(i) + ".svg", &plots.statistics[i],
                          series.instrument + ": " + series.label});
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        const std::string name = "plot" + std::to_string(i) + ".gp";
        if (!work.Write(name, "set encoding utf8\n" + wanted[i].script)) {
            plots.why_missing = "the plotting script could not be written to " + work.File(name);
            return plots;
        }
        const auto [why, started] = RunPlotter(settings, work.File(name));
        *wanted[i].svg = work.Read(wanted[i].image);
        if (!why.empty() && plots.why_missing.empty()) {
            plots.why_missing = started ? why + " on " + wanted[i].what : why;
        }
        if (!started) {
            break;
        }
    }
    return plots;
}

}  // namespace report
