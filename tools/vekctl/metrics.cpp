#include "tools/vekctl/metrics.h"

#include <cmath>

#include <fmt/core.h>

namespace vekctl {

std::string EscapeLabel(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

void Metrics::Add(const std::string& name, const std::string& help, const Labels& labels, double value,
                  const char* type) {
    Family* family = nullptr;
    for (Family& f : families_)
        if (f.name == name) family = &f;
    if (family == nullptr) family = &families_.emplace_back(Family{name, help, type, {}});
    std::string sample = name;
    if (!labels.empty()) {
        sample += '{';
        for (size_t i = 0; i < labels.size(); ++i)
            sample += fmt::format("{}{}=\"{}\"", i ? "," : "", labels[i].first, EscapeLabel(labels[i].second));
        sample += '}';
    }
    // Shortest text that reads back as the same double; NaN and infinities in Prometheus spelling.
    if (std::isnan(value)) sample += " NaN";
    else if (std::isinf(value)) sample += value > 0 ? " +Inf" : " -Inf";
    else sample += fmt::format(" {}", value);
    family->samples.push_back(std::move(sample));
}

std::string Metrics::Text() const {
    std::string out;
    for (const Family& f : families_) {
        out += fmt::format("# HELP {} {}\n# TYPE {} {}\n", f.name, f.help, f.name, f.type);
        for (const std::string& s : f.samples) out += s + '\n';
    }
    return out;
}

} // namespace vekctl
