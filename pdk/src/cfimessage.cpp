#include "pdk/cfierror.h"

#include "pdk/cfistringtool.h"

#include <unicode/msgfmt.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelm_pdk_4_4 {

namespace {

const char kHeaderTag[] = "<SERIALIZED_MESSAGE";
const char kArgTag[] = "<ARGVALUE";
// What the reader skips after the '<' that ends a value: "</ARGVALUE>".
const size_t kArgCloseLength = 11;
// Each tag is formatted in a buffer of this size (at most 1023 characters).
const size_t kPieceSize = 1024;

// Formattable type numbers as they appear in the serialised text.
enum ArgType { kTypeDate = 0, kTypeDouble = 1, kTypeLong = 2, kTypeString = 3, kTypeInt64 = 5 };

// A bounded scanner over [p, end) with the matching rules of sscanf: a blank
// in the pattern skips any white space, %s reads a non-blank word, %d an
// optionally signed decimal. Nothing is ever read at or beyond end.
class Scanner {
public:
    Scanner(const char *p, const char *end) : m_p(p), m_end(end) {}

    const char *pos() const { return m_p; }

    void skipSpace() {
        while (m_p < m_end && isSpace(*m_p)) ++m_p;
    }
    bool literal(const char *text) {
        size_t n = std::strlen(text);
        if (static_cast<size_t>(m_end - m_p) < n || std::memcmp(m_p, text, n) != 0) return false;
        m_p += n;
        return true;
    }
    // Like "%<max>s": at most max characters; the rest of a longer word stays.
    bool word(std::string &out, size_t max) {
        skipSpace();
        const char *start = m_p;
        while (m_p < m_end && !isSpace(*m_p) && static_cast<size_t>(m_p - start) < max) ++m_p;
        if (m_p == start) return false;
        out.assign(start, m_p);
        return true;
    }
    // Like "%d", but saturating instead of overflowing.
    bool integer(int32_t &out) {
        skipSpace();
        const char *p = m_p;
        bool negative = false;
        if (p < m_end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
        const char *digits = p;
        long long v = 0;
        while (p < m_end && *p >= '0' && *p <= '9') {
            if (v <= static_cast<long long>(INT32_MAX) + 1) v = v * 10 + (*p - '0');
            ++p;
        }
        if (p == digits) return false;
        if (negative) v = -v;
        out = static_cast<int32_t>(std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, v)));
        m_p = p;
        return true;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
    const char *m_p;
    const char *m_end;
};

std::string formatPiece(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string formatPiece(const char *format, ...) {
    char buf[kPieceSize];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (n < 0) return std::string();
    return std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

// String values are carried as text up to the next '<', so a '<' in a value
// is written "&lt;". Nothing else changes: a value without '<' is written as
// it is, '&' included, as older peers write and read it. Only an '&' that
// would itself read back as an escape ("&lt;" or "&amp;" in the value) is
// written "&amp;", so that every value reads back as it was.
bool startsEscape(const std::string &s, size_t i) {
    return s.compare(i, 4, "&lt;") == 0 || s.compare(i, 5, "&amp;") == 0;
}

std::string escapeValue(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '<')
            out += "&lt;";
        else if (s[i] == '&' && startsEscape(s, i))
            out += "&amp;";
        else
            out += s[i];
    }
    return out;
}

// Reads both forms: any '&' that does not start one of the two escapes is
// the character itself.
std::string unescapeValue(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 4, "&lt;") == 0) {
            out += '<';
            i += 3;
        } else if (s.compare(i, 5, "&amp;") == 0) {
            out += '&';
            i += 4;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string valueText(const icu::Formattable &arg) {
    switch (arg.getType()) {
        case icu::Formattable::kDate:
            return CFiStringTool::doubleToString(arg.getDate());
        case icu::Formattable::kDouble:
            return CFiStringTool::doubleToString(arg.getDouble());
        case icu::Formattable::kLong:
            return CFiStringTool::toString(arg.getLong());
        case icu::Formattable::kInt64:
            return CFiStringTool::toString(static_cast<long long>(arg.getInt64()));
        case icu::Formattable::kString: {
            std::string utf8;
            icu::UnicodeString s;
            arg.getString(s).toUTF8String(utf8);
            return escapeValue(utf8);
        }
        default:
            return std::string();
    }
}

// strtoll semantics (leading blanks, optional sign, as many digits as there
// are; 0 when none), saturating at the 64-bit limits.
long long leadingInteger(const std::string &s) {
    return std::strtoll(s.c_str(), nullptr, 10);
}

// Appends the argument a value of the given type stands for; values of
// other types are dropped.
void appendArgument(std::vector<icu::Formattable> &args, int32_t type, const std::string &value) {
    switch (type) {
        case kTypeDate:
        case kTypeDouble:
            args.emplace_back(std::strtod(value.c_str(), nullptr));
            break;
        case kTypeLong: {
            long long v = leadingInteger(value);
            v = std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, v));
            args.emplace_back(static_cast<int32_t>(v));
            break;
        }
        case kTypeInt64:
            args.emplace_back(static_cast<int64_t>(leadingInteger(value)));
            break;
        case kTypeString:
            args.emplace_back(icu::UnicodeString::fromUTF8(unescapeValue(value)));
            break;
        default:
            break;
    }
}

icu::UnicodeString toUnicode(const WString &s) { return icu::UnicodeString::fromUTF8(CFiStringTool::toNarrow(s)); }

WString fromUnicode(const icu::UnicodeString &s) {
    std::string utf8;
    s.toUTF8String(utf8);
    return CFiStringTool::toWide(utf8);
}

} // namespace

CFiMessage::CFiMessage(const std::string &id, kel_eseverity severity, const std::string &file, int32_t line)
    : m_id(id), m_severity(severity), m_file(file), m_line(line) {}

CFiMessage::~CFiMessage() = default;

CFiIcuMessage::CFiIcuMessage(const std::string &id, const icu::Formattable *args, int32_t count,
                             kel_eseverity severity, const std::string &file, int32_t line)
    : CFiMessage(id, severity, file, line) {
    if (args == nullptr || count < 0) count = 0;
    icu::Formattable *array = new icu::Formattable[count > 0 ? count : 1];
    for (int32_t i = 0; i < count; ++i) array[i] = args[i];
    m_args.adoptArray(array, count);
}

CFiIcuMessage::CFiIcuMessage(const kel_msg_info *info) {
    m_args.adoptArray(new icu::Formattable[1], 0);
    deserialize(info);
}

CFiIcuMessage::~CFiIcuMessage() = default;

std::vector<icu::Formattable> CFiIcuMessage::arguments() const {
    std::lock_guard<std::mutex> g(m_lock);
    int32_t count = 0;
    const icu::Formattable *args = m_args.getArray(count);
    if (args == nullptr || count <= 0) return {};
    return std::vector<icu::Formattable>(args, args + count);
}

kel_eseverity CFiIcuMessage::severity() const {
    std::lock_guard<std::mutex> g(m_lock);
    return toEnum(m_severity);
}

int32_t CFiIcuMessage::severityNumber() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_severity;
}

std::string CFiIcuMessage::messageId() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_id;
}

const kel_msg_info *CFiIcuMessage::serialize() {
    std::lock_guard<std::mutex> g(m_lock);
    std::string text = formatPiece("<SERIALIZED_MESSAGE MSGID=%s SEVERITY=%d>\n", m_id.c_str(),
                                   static_cast<int>(m_severity));
    int32_t count = 0;
    const icu::Formattable *args = m_args.getArray(count);
    for (int32_t i = 0; args != nullptr && i < count; ++i) {
        text += formatPiece("\t<ARGVALUE INDEX=%d TYPE=%d>", static_cast<int>(i), static_cast<int>(args[i].getType()));
        text += valueText(args[i]);
        text += "</ARGVALUE>\n";
    }
    text += "</SERIALIZED_MESSAGE>\n";
    // Another thread may still hold the record of an earlier call: keep the
    // storage when nothing changed.
    if (text != m_serialized || m_info.text == nullptr) {
        m_serialized.swap(text);
        m_info.text = m_serialized.c_str();
        m_info.length = static_cast<uint32_t>(std::min<size_t>(m_serialized.size(), UINT32_MAX));
    }
    return &m_info;
}

void CFiIcuMessage::deserialize(const kel_msg_info *info) {
    const char *text = info != nullptr ? info->text : nullptr;
    // Read no further than the record's length and stop at a terminator.
    size_t length = text != nullptr ? strnlen(text, info->length) : 0;
    readSerialized(text, length);
}

void CFiIcuMessage::readSerialized(const char *text, size_t length) {
    std::string id;
    int32_t severity = KEL_SEV_NONE;
    std::vector<icu::Formattable> args;
    const std::string s = text != nullptr ? std::string(text, length) : std::string();
    const char *base = s.data();
    const char *end = base + s.size();

    size_t header = s.find(kHeaderTag);
    if (header != std::string::npos) {
        Scanner scan(base + header, end);
        if (scan.literal(kHeaderTag)) {
            scan.skipSpace();
            if (scan.literal("MSGID=") && scan.word(id, kMaxIdLength)) {
                scan.skipSpace();
                if (scan.literal("SEVERITY=")) scan.integer(severity);
            }
        }
        size_t pos = s.find('>', header);
        pos = pos == std::string::npos ? s.size() : pos + 1;
        for (;;) {
            size_t tag = s.find(kArgTag, pos);
            if (tag == std::string::npos) break;
            Scanner arg(base + tag, end);
            int32_t index = 0;
            int32_t type = 0;
            bool ok = arg.literal(kArgTag);
            if (ok) arg.skipSpace();
            ok = ok && arg.literal("INDEX=") && arg.integer(index);
            if (ok) arg.skipSpace();
            ok = ok && arg.literal("TYPE=") && arg.integer(type);
            if (!ok) {
                pos = tag + std::strlen(kArgTag);
                continue;
            }
            size_t open = s.find('>', static_cast<size_t>(arg.pos() - base));
            if (open == std::string::npos) break;
            size_t close = s.find('<', open + 1);
            // An unterminated value is the tail of a cut text: drop it.
            if (close == std::string::npos) break;
            appendArgument(args, type, s.substr(open + 1, close - open - 1));
            pos = std::min(close + kArgCloseLength, s.size());
        }
    }

    std::lock_guard<std::mutex> g(m_lock);
    m_id = id;
    m_severity = severity;
    int32_t count = static_cast<int32_t>(std::min<size_t>(args.size(), INT32_MAX));
    icu::Formattable *array = new icu::Formattable[count > 0 ? count : 1];
    for (int32_t i = 0; i < count; ++i) array[i] = args[i];
    m_args.adoptArray(array, count);
    m_serialized.clear();
    m_info = kel_msg_info{};
}

WString CFiIcuMessage::formatMessage(const WString &pattern) {
    icu::UnicodeString result;
    UErrorCode status = U_ZERO_ERROR;
    {
        std::lock_guard<std::mutex> g(m_lock);
        int32_t count = 0;
        const icu::Formattable *args = m_args.getArray(count);
        icu::MessageFormat::format(toUnicode(pattern), args, args != nullptr ? count : 0, result, status);
    }
    if (U_FAILURE(status)) return WString();
    if (result.isEmpty()) return pattern;
    return fromUnicode(result);
}

} // namespace kelm_pdk_4_4
