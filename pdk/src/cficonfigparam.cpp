#include "pdk/cficonfigparam.h"

#include "pdk/cfisaxparser.h"
#include "pdk/cfistringtool.h"

#include <climits>
#include <cstdlib>

namespace kelm_pdk_4_4 {

namespace {

const char kXmlHeader[] = "<?xml version=\"1.0\" standalone=\"yes\" ?>\n";
const char kSchemaName[] = "";

std::string openLine(const char *name) { return CFiStringTool::xmlBracket(name, true, true); }
std::string closeLine(const char *name) { return CFiStringTool::xmlBracket(name, false, true); }

} // namespace

int32_t configDecimalValue(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\f' || text[i] == '\v'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1; // saturate
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return static_cast<int32_t>(v);
}

// ---- CFiConfigParamInfo ----

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, int defaultValue_, int usageType_, int rangeMin_,
                                       int rangeMax_, const std::string &messageId_, bool isList, bool isShared)
    : key(key_), messageId(messageId_), dataType(isList ? INT_LIST : INT), usageType(usageType_),
      isSharedParam(isShared), defaultValue(std::to_string(defaultValue_)), rangeMin(rangeMin_),
      rangeMax(rangeMax_) {}

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, bool defaultValue_, int usageType_,
                                       const std::string &messageId_, bool isList, bool isShared)
    : key(key_), messageId(messageId_), dataType(isList ? BOOLEAN_LIST : BOOLEAN), usageType(usageType_),
      isSharedParam(isShared), defaultValue(defaultValue_ ? "true" : "false") {}

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, const std::string &defaultValue_, int usageType_,
                                       const std::string &messageId_, bool isList, bool isShared)
    : key(key_), messageId(messageId_), dataType(isList ? STRING_LIST : STRING), usageType(usageType_),
      isSharedParam(isShared), defaultValue(defaultValue_) {}

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, const WString &defaultValue_, int usageType_,
                                       const std::string &messageId_, bool /*flag*/, bool isShared)
    : key(key_), messageId(messageId_), dataType(STRING), usageType(usageType_), isSharedParam(isShared),
      defaultValue(CFiStringTool::toNarrow(defaultValue_)) {}

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, const char *defaultValue_, int usageType_,
                                       const std::string &messageId_, bool isList, bool isShared)
    : CFiConfigParamInfo(key_, std::string(defaultValue_ != nullptr ? defaultValue_ : ""), usageType_, messageId_,
                         isList, isShared) {}

CFiConfigParamInfo::CFiConfigParamInfo(const std::string &key_, const wchar_t *defaultValue_, int usageType_,
                                       const std::string &messageId_, bool isList, bool isShared)
    : CFiConfigParamInfo(key_, WString(defaultValue_ != nullptr ? defaultValue_ : L""), usageType_, messageId_,
                         isList, isShared) {}

const char *CFiConfigParamInfo::usageTypeName(int32_t usage) {
    switch (usage) {
    case SELECT: return "SELECT";
    case AUTO: return "AUTO";
    case NO_MODIFY: return "NO_MODIFY";
    default: return "UNKNOWN";
    }
}

const char *CFiConfigParamInfo::dataTypeName(int32_t type) {
    switch (type) {
    case STRING: return "string";
    case INT: return "int";
    case BOOLEAN: return "boolean";
    case STRING_LIST: return "string_list";
    case INT_LIST: return "int_list";
    case BOOLEAN_LIST: return "boolean_list";
    default: return "unknown";
    }
}

std::string CFiConfigParamInfo::toXML() const {
    std::string x = openLine("ConfigParam");
    x += CFiStringTool::xmlBracketValue("key", key);
    x += CFiStringTool::xmlBracketValue("usageType", usageTypeName(usageType));
    x += CFiStringTool::xmlBracketValue("messageId", messageId);
    x += CFiStringTool::xmlBracketValue("isSharedParam", isSharedParam ? "true" : "false");
    x += CFiStringTool::xmlBracketValue("dataType", dataTypeName(dataType));
    if ((dataType == INT || dataType == INT_LIST) && !(rangeMin == -1 && rangeMax == -1)) {
        x += openLine("dataRange");
        x += CFiStringTool::xmlBracketValue("rangeMin", std::to_string(rangeMin));
        x += CFiStringTool::xmlBracketValue("rangeMax", std::to_string(rangeMax));
        x += closeLine("dataRange");
    }
    if (dataType == STRING_LIST) {
        x += openLine("selectionList");
        for (const std::string &item : selectionItems) x += CFiStringTool::xmlBracketValue("selectionItem", item);
        x += closeLine("selectionList");
    }
    x += CFiStringTool::xmlBracketValue("defaultValue", defaultValue);
    x += closeLine("ConfigParam");
    return x;
}

bool CFiConfigParamInfo::operator==(const CFiConfigParamInfo &o) const {
    return key == o.key && messageId == o.messageId && dataType == o.dataType && usageType == o.usageType &&
           isSharedParam == o.isSharedParam && selectionItems == o.selectionItems &&
           defaultValue == o.defaultValue && rangeMin == o.rangeMin && rangeMax == o.rangeMax;
}

// ---- CFiConfigParamData ----

void CFiConfigParamData::clear() {
    m_key.clear();
    m_value.clear();
    m_valueList.clear();
}

bool CFiConfigParamData::operator==(const CFiConfigParamData &o) const {
    return m_key == o.m_key && m_value == o.m_value && m_valueList == o.m_valueList;
}

// ---- CFiConfigParamInfoList ----

CFiConfigParamInfoList::CFiConfigParamInfoList() = default;

CFiConfigParamInfoList::CFiConfigParamInfoList(const WString &xml) { parse(xml); }

int CFiConfigParamInfoList::parse(const WString &xml) {
    try {
        std::string text = CFiStringTool::toNarrow(xml);
        CFiGetConfigParamListHandler handler;
        {
            CFiSaxParser parser(handler, kSchemaName);
            parser.parse(text);
        }
        std::map<std::string, CFiConfigParamInfo> parsed = handler.getList(); // throws a recorded error
        m_items.swap(parsed);
        updateXML();
        return 0;
    } catch (...) {
        // CFiSaxParseError, or running out of memory on a huge text.
        return 3;
    }
}

void CFiConfigParamInfoList::addParamInfo(const CFiConfigParamInfo &info) {
    m_items[info.key] = info;
    updateXML();
}

const CFiConfigParamInfo *CFiConfigParamInfoList::getParamInfo(const std::string &key) const {
    auto it = m_items.find(key);
    return it == m_items.end() ? nullptr : &it->second;
}

void CFiConfigParamInfoList::updateXML() {
    std::string x = kXmlHeader;
    x += openLine("ConfigParamList");
    for (const auto &entry : m_items) x += entry.second.toXML();
    x += closeLine("ConfigParamList");
    m_xml = CFiStringTool::toWide(x);
}

CFiConfigParamDataList CFiConfigParamInfoList::getDefaultDataList() const {
    CFiConfigParamDataList out;
    if (m_items.empty()) return out;
    for (const auto &entry : m_items) out.m_items[entry.first] = CFiConfigParamData(entry.first, entry.second.defaultValue);
    out.updateXML();
    return out;
}

// ---- value and format option lists ----

namespace {
template <class Element>
struct HandlerFor;
template <>
struct HandlerFor<CFiConfigParamData> {
    using type = CFiConfigParamDataListHandler;
};
template <>
struct HandlerFor<CFiFormatOption> {
    using type = CFiFormatOptionListHandler;
};
} // namespace

template <class Element>
int CFiValueListBase<Element>::parse(const WString &xml) {
    try {
        std::string text = CFiStringTool::toNarrow(xml);
        typename HandlerFor<Element>::type handler;
        {
            CFiSaxParser parser(handler, kSchemaName);
            parser.parse(text);
        }
        std::map<std::string, Element> parsed = handler.getList(); // throws a recorded error
        m_items.swap(parsed);
        updateXML();
        return 0;
    } catch (...) {
        return 3;
    }
}

template <class Element>
void CFiValueListBase<Element>::addParamData(const Element &e) {
    m_items[e.getKey()] = e;
    updateXML();
}

template <class Element>
void CFiValueListBase<Element>::setValue(const std::string &key, const std::string &value) {
    Element &e = m_items[key];
    e.setKey(key);
    e.setValue(value);
    updateXML();
}

template <class Element>
const Element *CFiValueListBase<Element>::getParamData(const std::string &key) const {
    auto it = m_items.find(key);
    return it == m_items.end() ? nullptr : &it->second;
}

template <class Element>
std::vector<std::string> CFiValueListBase<Element>::getKeys() const {
    std::vector<std::string> keys;
    keys.reserve(m_items.size());
    for (const auto &entry : m_items) keys.push_back(entry.first);
    return keys;
}

template <class Element>
int CFiValueListBase<Element>::getValue(const std::string &key, int &out) const {
    auto it = m_items.find(key);
    if (it == m_items.end() || it->second.getValue().empty()) return 3;
    out = configDecimalValue(it->second.getValue());
    return 0;
}

template <class Element>
int CFiValueListBase<Element>::getValue(const std::string &key, std::string &out) const {
    auto it = m_items.find(key);
    if (it == m_items.end()) return 3;
    out = it->second.getValue();
    return 0;
}

template <class Element>
int CFiValueListBase<Element>::getValue(const std::string &key, std::list<std::string> &out) const {
    auto it = m_items.find(key);
    if (it == m_items.end()) return 3;
    out = it->second.getValueList();
    return 0;
}

template <class Element>
std::string CFiValueListBase<Element>::getValue(const std::string &key) const {
    auto it = m_items.find(key);
    return it == m_items.end() ? std::string() : it->second.getValue();
}

template <class Element>
void CFiValueListBase<Element>::updateXML() {
    std::string x = kXmlHeader;
    x += openLine(m_listTag);
    for (const auto &entry : m_items) {
        const Element &e = entry.second;
        x += openLine(m_itemTag);
        x += CFiStringTool::xmlBracketValue("dataType", "");
        x += CFiStringTool::xmlBracketValue("key", e.getKey());
        if (!e.getValueList().empty()) {
            x += openLine("valueList");
            for (const std::string &v : e.getValueList()) x += CFiStringTool::xmlBracketValue("value", v);
            x += closeLine("valueList");
        } else {
            x += CFiStringTool::xmlBracketValue("value", e.getValue());
        }
        x += closeLine(m_itemTag);
    }
    x += closeLine(m_listTag);
    m_xml = CFiStringTool::toWide(x);
}

template <class Element>
void CFiValueListBase<Element>::clear() {
    m_items.clear();
    m_xml = WString();
}

template class CFiValueListBase<CFiConfigParamData>;
template class CFiValueListBase<CFiFormatOption>;

CFiConfigParamDataList::CFiConfigParamDataList() : CFiValueListBase("ConfigValueList", "ConfigValue") {}
CFiConfigParamDataList::CFiConfigParamDataList(const WString &xml) : CFiConfigParamDataList() { parse(xml); }

CFiFormatOptionList::CFiFormatOptionList() : CFiValueListBase("FormatOptionValueList", "FormatOptionValue") {}
CFiFormatOptionList::CFiFormatOptionList(const WString &xml) : CFiFormatOptionList() { parse(xml); }

} // namespace kelm_pdk_4_4
