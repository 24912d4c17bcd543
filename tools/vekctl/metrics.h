// Prometheus text exposition: families in first-seen order, each with one
// HELP and one TYPE line before its samples.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vekctl {

class Metrics {
public:
    using Labels = std::vector<std::pair<std::string, std::string>>;

    // Readings go up and down (gauge); a counter only grows.
    void Add(const std::string& name, const std::string& help, const Labels& labels, double value,
             const char* type = "gauge");
    std::string Text() const;

    int errors = 0;

private:
    struct Family {
        std::string name, help, type;
        std::vector<std::string> samples;
    };
    std::vector<Family> families_;
};

// Label values escape backslash, double quote and newline.
std::string EscapeLabel(const std::string& value);

} // namespace vekctl
