#include "report/report_page.h"

#include <cstdio>
#include <fstream>

namespace report {
namespace {

const char* const kMarkNames[] = {"no data", "receive queue full", "port lost", "write failure"};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string G(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// "2026-12-08,342,05," for an hour of the report.
std::string HourFields(const StationReport& report, int hour_index) {
    const Day& day = report.days[static_cast<size_t>(hour_index / kHoursPerDay)];
    char text[96];
    std::snprintf(text, sizeof text, "%s,%d,%02d,", day.IsoName().c_str(), day.day_of_year,
                  hour_index % kHoursPerDay);
    return text;
}

std::string Html(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string Base64(const std::string& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left > 1) {
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        if (left > 2) {
            group |= static_cast<unsigned char>(bytes[i + 2]);
        }
        text += kDigits[(group >> 18) & 63];
        text += kDigits[(group >> 12) & 63];
        text += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        text += left > 2 ? kDigits[group & 63] : '=';
    }
    return text;
}

std::string Image(const std::string& svg, const std::string& alt) {
    if (svg.empty()) {
        return "";
    }
    return "<img src=\"data:image/svg+xml;base64," + Base64(svg) + "\" alt=\"" + Html(alt) +
           "\">\n";
}

std::string DayName(const Day& day) {
    return day.IsoName() + " (day " + std::to_string(day.day_of_year) + ")";
}

std::string Cell(const std::string& text, const char* cls = nullptr) {
    return std::string("<td") + (cls != nullptr ? std::string(" class=\"") + cls + "\"" : "") +
           ">" + text + "</td>";
}

std::string FoundSection(const StationReport& report) {
    std::string html = "<h2>What was found</h2>\n";
    if (report.Empty()) {
        html += "<p class=\"empty\">No log, data or statistics file of " + Html(DaysName(report)) +
                " is in " + Html(report.directory) + ".</p>\n";
    }
    html +=
        "<table>\n<tr><th>Day</th><th>Log</th><th>Data files</th><th>Hours with data</th>"
        "<th>Statistics files</th></tr>\n";
    for (const DayFindings& f : report.found) {
        html += "<tr>" + Cell(Html(DayName(f.day))) +
                Cell(f.log ? f.day.FileStem() + ".LOG" : "none", f.log ? nullptr : "bad") +
                Cell(std::to_string(f.data_files), f.data_files == 0 ? "bad" : nullptr) +
                Cell(std::to_string(f.hours_with_data) + " of 24",
                     f.hours_with_data < kHoursPerDay ? "bad" : nullptr) +
                Cell(std::to_string(f.statistics_files)) + "</tr>\n";
    }
    html += "</table>\n";
    if (report.problems.empty()) {
        html += "<p>Every file read was as the logger writes it.</p>\n";
    } else {
        html += "<p>Files not as the logger writes them:</p>\n<ul>\n";
        for (const std::string& problem : report.problems) {
            html += "<li>" + Html(problem) + "</li>\n";
        }
        html += "</ul>\n";
    }
    return html;
}

std::string AvailabilitySection(const StationReport& report, const Plots& plots) {
    std::string html = "<h2>Availability</h2>\n";
    if (report.ports.empty()) {
        return html + "<p>No port has a data file or a log entry in these days.</p>\n";
    }
    html += Image(plots.availability, "bytes archived per port and hour");
    html += "<table>\n<tr><th>Port</th><th>Instrument</th><th>Bytes</th><th>Hours with data</th>";
    for (const char* name : kMarkNames) {
        html += "<th>Hours: " + std::string(name) + "</th>";
    }
    html += "</tr>\n";
    for (const PortHours& port : report.ports) {
        int64_t bytes = 0;
        int hours = 0;
        int marked[4] = {};
        for (size_t h = 0; h < port.bytes.size(); ++h) {
            bytes += port.bytes[h];
            hours += port.bytes[h] > 0 ? 1 : 0;
            for (int k = 0; k < 4; ++k) {
                marked[k] += (port.marks[h] & (1u << k)) != 0 ? 1 : 0;
            }
        }
        html += "<tr>" + Cell("COM" + std::to_string(port.port)) + Cell(Html(port.instrument)) +
                Cell(std::to_string(bytes)) +
                Cell(std::to_string(hours) + " of " + std::to_string(report.Hours()),
                     hours < report.Hours() ? "bad" : nullptr);
        for (int count : marked) {
            html += Cell(std::to_string(count), count > 0 ? "bad" : nullptr);
        }
        html += "</tr>\n";
    }
    return html + "</table>\n";
}

// Counts by code: per hour for one day, per day for more.
std::string CodeTable(const StationReport& report, bool routine) {
    const bool by_hour = report.days.size() == 1;
    const int columns = by_hour ? kHoursPerDay : static_cast<int>(report.days.size());
    std::string html = "<table class=\"counts\">\n<tr><th>Code</th><th>Meaning</th><th>All</th>";
    for (int c = 0; c < columns; ++c) {
        char name[48];
        if (by_hour) {
            std::snprintf(name, sizeof name, "%02d", c);
        } else {
            std::snprintf(name, sizeof name, "%s",
                          report.days[static_cast<size_t>(c)].IsoName().substr(5).c_str());
        }
        html += std::string("<th>") + name + "</th>";
    }
    html += "</tr>\n";
    bool any = false;
    for (const CodeCounts& counts : report.codes) {
        if (counts.routine != routine) {
            continue;
        }
        any = true;
        char code[16];
        std::snprintf(code, sizeof code, "%02d", counts.code);
        html += "<tr>" + Cell(code) + Cell(Html(counts.meaning), "meaning") +
                Cell(std::to_string(counts.total));
        for (int c = 0; c < columns; ++c) {
            int count = 0;
            const int span = by_hour ? 1 : kHoursPerDay;
            for (int h = c * span; h < (c + 1) * span; ++h) {
                count += counts.per_hour[static_cast<size_t>(h)];
            }
            html += Cell(count > 0 ? std::to_string(count) : "");
        }
        html += "</tr>\n";
    }
    return any ? html + "</table>\n" : "<p>None.</p>\n";
}

std::string ProblemsSection(const StationReport& report, const Plots& plots) {
    std::string html = "<h2>Problems</h2>\n";
    html += Image(plots.problems, "log entries that need attention per hour");
    html += "<h3>Entries that need attention</h3>\n" + CodeTable(report, false);
    html += "<h3>Routine entries (start, stop, writes, growth, statistics runs)</h3>\n" +
            CodeTable(report, true);
    return html;
}

std::string StatisticsSection(const StationReport& report, const Plots& plots) {
    std::string html = "<h2>Statistics</h2>\n";
    if (report.statistics.empty()) {
        return html + "<p>No statistics file of these days has a row.</p>\n";
    }
    for (size_t i = 0; i < report.statistics.size(); ++i) {
        const StatisticsSeries& series = report.statistics[i];
        int64_t samples = 0;
        int64_t missing = 0;
        int64_t unusable = 0;
        int hours = 0;
        for (const auto& hour : series.hours) {
            if (hour) {
                ++hours;
                samples += hour->samples;
                missing += hour->missing;
                unusable += hour->non_printable + hour->non_parsable + hour->non_digit;
            }
        }
        html += "<h3>" + Html(series.instrument) + ": " + Html(series.label) + "</h3>\n";
        html += Image(i < plots.statistics.size() ? plots.statistics[i] : "",
                      series.instrument + " " + series.label);
        html += "<p>" + std::to_string(samples) + " samples in " + std::to_string(hours) +
                " hours; " + std::to_string(missing) + " missing; " + std::to_string(unusable) +
                " non-printable, non-parsable or non-digit.</p>\n";
    }
    return html;
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

std::string AvailabilityCsv(const StationReport& report) {
    std::string csv = "date,day_of_year,hour,port,bytes";
    for (const char* name : kMarkNames) {
        csv += ",";
        for (const char* c = name; *c != '\0'; ++c) {
            csv += *c == ' ' ? '_' : *c;
        }
    }
    csv += "\n";
    for (int h = 0; h < report.Hours(); ++h) {
        for (const PortHours& port : report.ports) {
            csv += HourFields(report, h) + "COM" + std::to_string(port.port) + "," +
                   std::to_string(port.bytes[static_cast<size_t>(h)]);
            for (int k = 0; k < 4; ++k) {
                csv += (port.marks[static_cast<size_t>(h)] & (1u << k)) != 0 ? ",1" : ",0";
            }
            csv += "\n";
        }
    }
    return csv;
}

std::string ProblemsCsv(const StationReport& report) {
    std::string csv = "date,day_of_year,hour,code,entries,needs_attention\n";
    for (int h = 0; h < report.Hours(); ++h) {
        for (const CodeCounts& counts : report.codes) {
            const int count = counts.per_hour[static_cast<size_t>(h)];
            if (count > 0) {
                char code[16];
                std::snprintf(code, sizeof code, "%02d", counts.code);
                csv += HourFields(report, h) + code + "," + std::to_string(count) +
                       (counts.routine ? ",0\n" : ",1\n");
            }
        }
    }
    return csv;
}

std::string StatisticsCsv(const StationReport& report) {
    std::string csv =
        "date,day_of_year,hour,instrument,label,periods,samples,mean,standard_deviation,"
        "missing,non_printable,non_parsable,non_digit\n";
    for (int h = 0; h < report.Hours(); ++h) {
        for (const StatisticsSeries& series : report.statistics) {
            const auto& hour = series.hours[static_cast<size_t>(h)];
            if (!hour) {
                continue;
            }
            csv += HourFields(report, h) + CsvField(series.instrument) + "," +
                   CsvField(series.label) + "," + std::to_string(hour->periods) + "," +
                   std::to_string(hour->samples) + "," + G(hour->mean) + "," + G(hour->deviation) +
                   "," + std::to_string(hour->missing) + "," + std::to_string(hour->non_printable) +
                   "," + std::to_string(hour->non_parsable) + "," +
                   std::to_string(hour->non_digit) + "\n";
        }
    }
    return csv;
}

ReportFileNames FileNamesFor(const std::string& page) {
    std::string base = page;
    const std::string extension = ".html";
    if (base.size() > extension.size() &&
        base.compare(base.size() - extension.size(), extension.size(), extension) == 0) {
        base.erase(base.size() - extension.size());
    }
    return {page, base + "-availability.csv", base + "-problems.csv", base + "-statistics.csv"};
}

std::string DaysName(const StationReport& report) {
    if (report.days.empty()) {
        return "";
    }
    const std::string first = DayName(report.days.front());
    return report.days.size() == 1 ? first : first + " to " + DayName(report.days.back());
}

std::string ReportPage(const StationReport& report, const Plots& plots,
                       const ReportFileNames& names, const std::string& made_by) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Station "
        "report " +
        Html(DaysName(report)) +
        "</title>\n<style>\n"
        "body{font-family:sans-serif;margin:2em;max-width:1000px;color:#222}\n"
        "table{border-collapse:collapse;margin:0.5em 0}\n"
        "td,th{border:1px solid #ccc;padding:2px 6px;text-align:right;font-size:90%}\n"
        "td.meaning{text-align:left;min-width:18em}\n td.bad{background:#fde0dd}\n"
        "p.empty,p.missing{font-weight:bold;color:#a50f15}\n img{max-width:100%}\n"
        "</style>\n</head>\n<body>\n<h1>Station report: " +
        Html(DaysName(report)) + "</h1>\n<p>Output directory " + Html(report.directory) +
        ", read by " + Html(made_by) + ". Times are UTC.</p>\n";
    if (!plots.why_missing.empty()) {
        html += "<p class=\"missing\">The plots could not be drawn: " + Html(plots.why_missing) +
                ". The tables and the CSV files hold every number.</p>\n";
    }
    html += FoundSection(report);
    html += AvailabilitySection(report, plots);
    html += ProblemsSection(report, plots);
    html += StatisticsSection(report, plots);
    html += "<h2>The numbers</h2>\n<ul>\n";
    for (const std::string* name : {&names.availability, &names.problems, &names.statistics}) {
        html += "<li><a href=\"" + Html(FileName(*name)) + "\">" + Html(FileName(*name)) +
                "</a></li>\n";
    }
    return html + "</ul>\n</body>\n</html>\n";
}

std::string WriteReportFiles(const StationReport& report, const Plots& plots,
                             const ReportFileNames& names, const std::string& made_by) {
    const std::pair<const std::string*, std::string> files[] = {
        {&names.availability, AvailabilityCsv(report)},
        {&names.problems, ProblemsCsv(report)},
        {&names.statistics, StatisticsCsv(report)},
        {&names.page, ReportPage(report, plots, names, made_by)}};
    for (const auto& [path, text] : files) {
        if (!WriteText(*path, text)) {
            return *path + " cannot be written";
        }
    }
    return "";
}

}  // namespace report
