// The benchmark's figures: printed as a table and written as JSON.
#pragma once

#include <string>
#include <vector>

struct Figure {
    std::string key;      // stable name in the JSON file
    std::string label;    // what the table shows
    double value = 0;
    std::string unit;
    std::string goal;     // empty when the figure has no goal of its own
    bool hasGoal = false;
    bool met = false;
    std::string note;     // ratios and context
};

class Report {
public:
    void add(Figure figure) { figures_.push_back(std::move(figure)); }
    void setContext(const std::string& name, const std::string& value) { context_.push_back({name, value}); }
    void print() const;
    void writeJson(const std::string& path) const;
    bool allGoalsMet() const;

private:
    std::vector<Figure> figures_;
    std::vector<std::pair<std::string, std::string>> context_;
};

std::string Fixed(double value, int decimals);
