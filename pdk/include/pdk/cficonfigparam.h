// Configuration parameter descriptions, values and format options, kept as
// ordered maps whose XML text always mirrors the map.
#ifndef PDK_CFICONFIGPARAM_H
#define PDK_CFICONFIGPARAM_H

#include "pdk/cfibase.h"

#include <list>
#include <map>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

class CFiConfigParamInfo {
public:
    enum DataType { STRING = 0, INT = 1, BOOLEAN = 2, STRING_LIST = 3, INT_LIST = 4, BOOLEAN_LIST = 5, UNKNOWN_TYPE = 6 };
    enum UsageType { SELECT = 0, AUTO = 1, NO_MODIFY = 2, UNKNOWN_USAGE = 3 };

    CFiConfigParamInfo() = default;
    CFiConfigParamInfo(const std::string &key, int defaultValue, int usageType, int rangeMin, int rangeMax,
                       const std::string &messageId, bool isList, bool isShared);
    CFiConfigParamInfo(const std::string &key, bool defaultValue, int usageType, const std::string &messageId,
                       bool isList, bool isShared);
    CFiConfigParamInfo(const std::string &key, const std::string &defaultValue, int usageType,
                       const std::string &messageId, bool isList, bool isShared);
    CFiConfigParamInfo(const std::string &key, const WString &defaultValue, int usageType,
                       const std::string &messageId, bool isList, bool isShared);
    // Literal defaults: without these a string literal would pick the boolean
    // constructor (pointer-to-bool beats the conversion to a string class).
    CFiConfigParamInfo(const std::string &key, const char *defaultValue, int usageType,
                       const std::string &messageId, bool isList, bool isShared);
    CFiConfigParamInfo(const std::string &key, const wchar_t *defaultValue, int usageType,
                       const std::string &messageId, bool isList, bool isShared);

    // Texts of the XML dialect: "SELECT", "int", ... ("UNKNOWN"/"unknown" for
    // numbers out of range).
    static const char *usageTypeName(int32_t usageType);
    static const char *dataTypeName(int32_t dataType);

    std::string toXML() const;
    bool operator==(const CFiConfigParamInfo &o) const;

    std::string key;
    std::string messageId;
    int32_t dataType = UNKNOWN_TYPE;
    int32_t usageType = UNKNOWN_USAGE;
    bool isSharedParam = false;
    std::list<std::string> selectionItems;
    std::string defaultValue;
    int32_t rangeMin = -1;
    int32_t rangeMax = -1;
};

// One value (CFiConfigParamData) or one format option (CFiFormatOption).
class CFiConfigParamData {
public:
    CFiConfigParamData() = default;
    CFiConfigParamData(const std::string &key, const std::string &value) : m_key(key), m_value(value) {}
    const std::string &getKey() const { return m_key; }
    void setKey(const std::string &k) { m_key = k; }
    const std::string &getValue() const { return m_value; }
    void setValue(const std::string &v) { m_value = v; }
    void addValue(const std::string &v) { m_valueList.push_back(v); }
    const std::list<std::string> &getValueList() const { return m_valueList; }
    void clear();
    bool operator==(const CFiConfigParamData &o) const;

private:
    std::string m_key;
    std::string m_value;
    std::list<std::string> m_valueList;
};
class CFiFormatOption : public CFiConfigParamData {
public:
    using CFiConfigParamData::CFiConfigParamData;
};

class CFiConfigParamDataList;

// Decimal value of a text as the lists read numbers: optional blanks and sign,
// then the leading digits; 0 when there are none. Saturates at the 32-bit
// limits instead of overflowing.
int32_t configDecimalValue(const std::string &text);

class CFiConfigParamInfoList {
public:
    CFiConfigParamInfoList();
    explicit CFiConfigParamInfoList(const WString &xml);
    // 0, or 3 for malformed XML. A failed parse changes nothing: the map and
    // its XML text stay as they were.
    int parse(const WString &xml);
    void addParamInfo(const CFiConfigParamInfo &info);
    const CFiConfigParamInfo *getParamInfo(const std::string &key) const;
    void updateXML();
    CFiConfigParamDataList getDefaultDataList() const;
    const WString &getXML() const { return m_xml; }
    const std::map<std::string, CFiConfigParamInfo> &items() const { return m_items; }
    bool empty() const { return m_items.empty(); }

private:
    std::map<std::string, CFiConfigParamInfo> m_items;
    WString m_xml;
};

// Value lists and format option lists differ only in their element names.
// The XML text of an empty list (new or cleared) is empty; any other list
// has the full text written by updateXML.
template <class Element>
class CFiValueListBase {
public:
    // 0, or 3 for malformed XML. A failed parse changes nothing: the map and
    // its XML text stay as they were.
    int parse(const WString &xml);
    void addParamData(const Element &e);
    // Sets the single value of key, adding the element when it is absent.
    void setValue(const std::string &key, const std::string &value);
    const Element *getParamData(const std::string &key) const;
    std::vector<std::string> getKeys() const;
    // 3 when key is absent or its value empty; else 0 and the decimal value.
    int getValue(const std::string &key, int &out) const;
    // 3 when key is absent; else 0 and the single value / the value list.
    int getValue(const std::string &key, std::string &out) const;
    int getValue(const std::string &key, std::list<std::string> &out) const;
    // The single value, empty when key is absent.
    std::string getValue(const std::string &key) const;
    void updateXML();
    // Empties the map and the XML text.
    void clear();
    const WString &getXML() const { return m_xml; }
    const std::map<std::string, Element> &items() const { return m_items; }
    bool empty() const { return m_items.empty(); }

protected:
    friend class CFiConfigParamInfoList; // fills default lists in one pass
    CFiValueListBase(const char *listTag, const char *itemTag) : m_listTag(listTag), m_itemTag(itemTag) {}
    std::map<std::string, Element> m_items;
    WString m_xml;
    const char *m_listTag;
    const char *m_itemTag;
};

class CFiConfigParamDataList : public CFiValueListBase<CFiConfigParamData> {
public:
    CFiConfigParamDataList();
    explicit CFiConfigParamDataList(const WString &xml);
};

class CFiFormatOptionList : public CFiValueListBase<CFiFormatOption> {
public:
    CFiFormatOptionList();
    explicit CFiFormatOptionList(const WString &xml);
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFICONFIGPARAM_H
