// Warnings on a configuration file: what the reader accepts, or passes over in
// silence, but the logger then refuses or reads otherwise than an operator
// wrote it. The file is read line by line by the reader's own rules (comments,
// headers, key lines, the 498-character pieces), so that every warning can
// name its line; the reader itself stays the judge of validity.
#pragma once

#include <string>
#include <vector>

struct LintWarning {
    int line;  // of the file, from 1
    std::string text;
    friend bool operator==(const LintWarning&, const LintWarning&) = default;
};

// The warnings for the file at `path`, in the order of its lines; none when
// it cannot be read (the reader reports that).
std::vector<LintWarning> LintConfigurationFile(const std::string& path);

// The same for a file's content.
std::vector<LintWarning> LintConfigurationText(const std::string& content);

// The nearest of `names` to `key` when it is close enough to be a slip
// (letters swapped, left out, doubled or of the other case); empty otherwise.
std::string NearestKey(const std::string& key, const std::vector<std::string>& names);

// Why the port open refuses these line settings; empty when it takes them.
// `parity` as the reader stores it (its first character, upper-cased).
std::string BaudRefusal(long long baud);
std::string ParityRefusal(char parity);
std::string DataBitsRefusal(long long data_bits);
std::string StopBitsRefusal(long long stop_bits, long long data_bits);
