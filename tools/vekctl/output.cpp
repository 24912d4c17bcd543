#include "tools/vekctl/output.h"

namespace vekctl {
namespace {

void JsonString(const std::string& s, FILE* out) {
    std::fputc('"', out);
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') std::fprintf(out, "\\%c", c);
        else if (c < 0x20) std::fprintf(out, "\\u%04x", c);
        else std::fputc(c, out);
    }
    std::fputc('"', out);
}

void Json(const Value& v, FILE* out, int depth) {
    auto indent = [&](int d) { std::fprintf(out, "\n%*s", d * 2, ""); };
    switch (v.kind) {
    case Value::Text: JsonString(v.text, out); return;
    case Value::Number: std::fputs(v.text.c_str(), out); return;
    case Value::Object:
    case Value::Array: {
        const bool object = v.kind == Value::Object;
        std::fputc(object ? '{' : '[', out);
        for (size_t i = 0; i < v.members.size(); ++i) {
            indent(depth + 1);
            if (object) {
                JsonString(v.members[i].first, out);
                std::fputs(": ", out);
            }
            Json(v.members[i].second, out, depth + 1);
            if (i + 1 < v.members.size()) std::fputc(',', out);
        }
        if (!v.members.empty()) indent(depth);
        std::fputc(object ? '}' : ']', out);
        return;
    }
    }
}

std::string Scalar(const Value& v) {
    if (v.kind == Value::Number && !v.members.empty()) return v.members[0].second.text; // hex form
    return v.text;
}

bool IsScalar(const Value& v) { return v.kind == Value::Text || v.kind == Value::Number; }

void Text(const Value& v, FILE* out, int depth) {
    size_t width = 0;
    for (const auto& [name, member] : v.members)
        if (IsScalar(member) && name.size() > width) width = name.size();
    for (const auto& [name, member] : v.members) {
        if (IsScalar(member)) {
            if (name.empty()) std::fprintf(out, "%*s%s\n", depth * 2, "", Scalar(member).c_str());
            else std::fprintf(out, "%*s%-*s  %s\n", depth * 2, "", int(width + 1), (name + ":").c_str(), Scalar(member).c_str());
        } else {
            if (!name.empty()) std::fprintf(out, "%*s%s:\n", depth * 2, "", name.c_str());
            Text(member, out, depth + 1);
        }
    }
}

} // namespace

void PrintJson(const Value& v, FILE* out) {
    Json(v, out, 0);
    std::fputc('\n', out);
}

void PrintText(const Value& v, FILE* out) {
    if (IsScalar(v)) std::fprintf(out, "%s\n", Scalar(v).c_str());
    else Text(v, out, 0);
}

} // namespace vekctl
