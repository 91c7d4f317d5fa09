// The one JSON writer of kelm-host's --json output: one object per command,
// snake_case member names, two-space indentation, text escaped as RFC 8259
// asks (control bytes as \u00XX; other bytes, UTF-8 included, pass as they
// are; a byte that is not part of valid UTF-8, as a blank-padded inquiry
// field may hold, is written as the Latin-1 character \u00XX), so that jq
// and scripts can always read what the tool printed.
//
//   JsonWriter json(stdout);
//   json.beginObject();
//   json.member("disk_count", 2);
//   json.key("disks"); json.beginArray(); ... json.endArray();
//   json.endObject();                      // prints the closing brace and a newline
#ifndef KELM_HOST_JSON_WRITER_H
#define KELM_HOST_JSON_WRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kelm_host {

class JsonWriter {
public:
    explicit JsonWriter(std::FILE *out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // The name of the next member of the current object.
    void key(const std::string &name) {
        separate();
        writeString(name);
        std::fputs(": ", out_);
        afterKey_ = true;
    }

    void value(const std::string &text) { separate(); writeString(text); }
    void value(const char *text) { if (text == nullptr) null(); else value(std::string(text)); }
    void value(bool b) { separate(); std::fputs(b ? "true" : "false", out_); }
    void value(int v) { value(static_cast<long long>(v)); }
    void value(long v) { value(static_cast<long long>(v)); }
    void value(long long v) { separate(); std::fprintf(out_, "%lld", v); }
    void value(unsigned v) { value(static_cast<unsigned long long>(v)); }
    void value(unsigned long v) { value(static_cast<unsigned long long>(v)); }
    void value(unsigned long long v) { separate(); std::fprintf(out_, "%llu", v); }
    void null() { separate(); std::fputs("null", out_); }

    template <typename T> void member(const std::string &name, const T &v) { key(name); value(v); }

private:
    void open(char bracket) {
        separate();
        std::fputc(bracket, out_);
        first_.push_back(true);
    }

    void close(char bracket) {
        bool empty = first_.empty() || first_.back();
        if (!first_.empty()) first_.pop_back();
        if (!empty) newline();
        std::fputc(bracket, out_);
        if (first_.empty()) std::fputc('\n', out_);
    }

    // Before any value or key: a comma after an earlier sibling, and the
    // line break and indentation of an element; nothing after a key.
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (first_.empty()) return;
        if (!first_.back()) std::fputc(',', out_);
        first_.back() = false;
        newline();
    }

    void newline() {
        std::fputc('\n', out_);
        for (size_t i = 0; i < first_.size(); ++i) std::fputs("  ", out_);
    }

    void writeString(const std::string &s) {
        std::fputc('"', out_);
        for (size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) {
                size_t n = utf8Length(s, i);
                if (n == 0) std::fprintf(out_, "\\u%04x", c);
                else std::fwrite(s.data() + i, 1, n, out_);
                i += (n == 0 ? 1 : n) - 1;
                continue;
            }
            switch (c) {
            case '"': std::fputs("\\\"", out_); break;
            case '\\': std::fputs("\\\\", out_); break;
            case '\n': std::fputs("\\n", out_); break;
            case '\r': std::fputs("\\r", out_); break;
            case '\t': std::fputs("\\t", out_); break;
            default:
                if (c < 0x20 || c == 0x7F) std::fprintf(out_, "\\u%04x", c);
                else std::fputc(c, out_);
            }
        }
        std::fputc('"', out_);
    }

    // Bytes of the well-formed UTF-8 sequence starting at i, 0 when there is none.
    static size_t utf8Length(const std::string &s, size_t i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (c >= 0xF5) n = 0;
        if (n == 0 || i + n > s.size()) return 0;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
        unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return 0; // overlong, surrogate or beyond U+10FFFF
        return n;
    }

    std::FILE *out_;
    std::vector<bool> first_; // per open container: no element written yet
    bool afterKey_ = false;
};

// Takes "--json" out of a command's arguments; whether it was there.
inline bool takeJsonFlag(std::vector<std::string> &args) {
    bool found = false;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--json") {
            found = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

} // namespace kelm_host

#endif // KELM_HOST_JSON_WRITER_H
