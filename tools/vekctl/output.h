// Output for vekctl: the same report as aligned text for people or as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace vekctl {

// A report is a tree of named values; printed as "key: value" lines or as JSON.
struct Value {
    enum Kind { Text, Number, Object, Array } kind = Text;
    std::string text;
    std::vector<std::pair<std::string, Value>> members; // Object members or Array items (names empty)

    static Value Str(std::string s) { Value v; v.text = std::move(s); return v; }
    static Value Num(int64_t n) { Value v; v.kind = Number; v.text = std::to_string(n); return v; }
    static Value Hex(uint32_t n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", n);
        Value v; v.kind = Number; v.text = std::to_string(n); v.members = {{"hex", Str(buf)}}; return v;
    }
    static Value Obj() { Value v; v.kind = Object; return v; }
    static Value Arr() { Value v; v.kind = Array; return v; }
    Value& Add(std::string name, Value v) { members.emplace_back(std::move(name), std::move(v)); return *this; }
    Value& Push(Value v) { members.emplace_back(std::string(), std::move(v)); return *this; }
};

void PrintJson(const Value& v, FILE* out);
void PrintText(const Value& v, FILE* out);

} // namespace vekctl
