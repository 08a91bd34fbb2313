#include "Report.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
    return buffer;
}

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

std::string Verdict(const Figure& f) {
    if (!f.hasGoal) return "";
    return f.met ? "met" : "MISSED";
}

}  // namespace

void Report::print() const {
    std::printf("\n%-46s %14s  %-7s %-16s %s\n", "figure", "value", "", "goal", "notes");
    std::printf("%s\n", std::string(120, '-').c_str());
    for (const Figure& f : figures_) {
        std::string goal = f.hasGoal ? f.goal + " " + Verdict(f) : "";
        std::printf("%-46s %14s  %-7s %-16s %s\n", f.label.c_str(), Fixed(f.value, f.value < 10 ? 3 : 1).c_str(),
                    f.unit.c_str(), goal.c_str(), f.note.c_str());
    }
    for (const auto& c : context_) std::printf("%s: %s\n", c.first.c_str(), c.second.c_str());
}

void Report::writeJson(const std::string& path) const {
    std::ostringstream json;
    json << "{\n  \"context\": {";
    for (std::size_t i = 0; i < context_.size(); ++i)
        json << (i ? ",\n" : "\n") << "    " << Quoted(context_[i].first) << ": " << Quoted(context_[i].second);
    json << "\n  },\n  \"figures\": [";
    for (std::size_t i = 0; i < figures_.size(); ++i) {
        const Figure& f = figures_[i];
        json << (i ? ",\n" : "\n") << "    {\"key\": " << Quoted(f.key) << ", \"label\": " << Quoted(f.label)
             << ", \"value\": " << Fixed(f.value, 6) << ", \"unit\": " << Quoted(f.unit);
        if (f.hasGoal) json << ", \"goal\": " << Quoted(f.goal) << ", \"met\": " << (f.met ? "true" : "false");
        json << ", \"note\": " << Quoted(f.note) << "}";
    }
    json << "\n  ]\n}\n";
    std::ofstream out(path, std::ios::trunc);
    out << json.str();
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool Report::allGoalsMet() const {
    for (const Figure& f : figures_)
        if (f.hasGoal && !f.met) return false;
    return true;
}
