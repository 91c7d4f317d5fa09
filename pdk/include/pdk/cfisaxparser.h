// SAX2 reading of the configuration parameter lists: a thin wrapper over a
// Xerces-C reader and one handler per list dialect.
#ifndef PDK_CFISAXPARSER_H
#define PDK_CFISAXPARSER_H

#include "pdk/cficonfigparam.h"

#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <map>
#include <memory>
#include <string>

namespace kelm_pdk_4_4 {

// A parse error as recorded by a handler. It is a plain copy of what Xerces
// reported, so it can outlive the Xerces platform (whose memory manager owns
// the strings of the original SAXParseException).
class CFiSaxParseError {
public:
    CFiSaxParseError(const std::string &message, const std::string &systemId, uint64_t line, uint64_t column)
        : m_message(message), m_systemId(systemId), m_line(line), m_column(column) {}
    const std::string &message() const { return m_message; }
    const std::string &systemId() const { return m_systemId; }
    uint64_t line() const { return m_line; }
    uint64_t column() const { return m_column; }

private:
    std::string m_message;
    std::string m_systemId;
    uint64_t m_line;
    uint64_t m_column;
};

// Collects the text of the current element and records parse errors.
// Subclasses act on element ends.
class CFiSaxParseHandler : public xercesc::DefaultHandler {
public:
    CFiSaxParseHandler();
    ~CFiSaxParseHandler() override;

    void startElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *qname,
                      const xercesc::Attributes &attrs) override;
    void endElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *qname) override;
    void characters(const XMLCh *chars, const XMLSize_t length) override;

    // Errors, fatal errors and warnings all mark the parse as failed.
    void warning(const xercesc::SAXParseException &e) override;
    void error(const xercesc::SAXParseException &e) override;
    void fatalError(const xercesc::SAXParseException &e) override;

    // External entities and DTDs resolve to nothing: configuration text must
    // never make the reader open files or URLs.
    xercesc::InputSource *resolveEntity(const XMLCh *publicId, const XMLCh *systemId) override;

    // For failures that do not come as SAXParseException (out of memory,
    // Xerces start-up, an exception thrown by the reader itself).
    void recordError(const std::string &message);

    bool hasError() const { return m_hasError; }
    const CFiSaxParseError *lastError() const { return m_lastError.get(); }
    // Throws the recorded CFiSaxParseError; does nothing without one.
    void throwLastError() const;

    // Upper bound on the text collected for one element, in bytes. Text past it
    // fails the parse rather than growing without limit (entity expansion).
    static constexpr size_t kMaxElementText = 64u * 1024u * 1024u;

protected:
    virtual void onStartElement(const std::string &name);
    virtual void onEndElement(const std::string &name, const std::string &text) = 0;

    std::string m_text;

private:
    void record(const xercesc::SAXParseException &e);

    bool m_hasError = false;
    std::unique_ptr<CFiSaxParseError> m_lastError;
};

// Handler of the parameter description list ("ConfigParamList").
class CFiGetConfigParamListHandler : public CFiSaxParseHandler {
public:
    // The parsed descriptions by key; throws CFiSaxParseError when the parse failed.
    const std::map<std::string, CFiConfigParamInfo> &getList() const;
    bool isComplete() const { return m_complete; }

protected:
    void onEndElement(const std::string &name, const std::string &text) override;

private:
    std::map<std::string, CFiConfigParamInfo> m_list;
    CFiConfigParamInfo m_current;
    bool m_complete = false;
};

// Shared reading of the value list and the format option list, which differ
// only in their list and element tag names.
template <class Element>
class CFiValueListHandlerBase : public CFiSaxParseHandler {
public:
    // The parsed elements by key; throws CFiSaxParseError when the parse failed.
    const std::map<std::string, Element> &getList() const;
    bool isComplete() const { return m_complete; }

protected:
    CFiValueListHandlerBase(const char *listTag, const char *itemTag) : m_listTag(listTag), m_itemTag(itemTag) {}
    void onStartElement(const std::string &name) override;
    void onEndElement(const std::string &name, const std::string &text) override;

private:
    const char *m_listTag;
    const char *m_itemTag;
    std::map<std::string, Element> m_list;
    Element m_current;
    bool m_inList = false;
    bool m_complete = false;
};

class CFiConfigParamDataListHandler : public CFiValueListHandlerBase<CFiConfigParamData> {
public:
    CFiConfigParamDataListHandler();
};

class CFiFormatOptionListHandler : public CFiValueListHandlerBase<CFiFormatOption> {
public:
    CFiFormatOptionListHandler();
};

// Wraps one Xerces-C SAX2 reader. Construction starts the Xerces platform and
// destruction stops it again; the calls are counted by Xerces and serialised
// here, so parsers may be used on several threads at once.
class CFiSaxParser {
public:
    static constexpr const char *kSystemId = "kelm_sax_parser";

    // REQUIRES: handler outlives the parser.
    CFiSaxParser(CFiSaxParseHandler &handler, const std::string &schemaName);
    ~CFiSaxParser();
    CFiSaxParser(const CFiSaxParser &) = delete;
    CFiSaxParser &operator=(const CFiSaxParser &) = delete;

    // Parses text from memory. Returns 0, or 3 when the parse failed; the
    // failure is recorded with the handler. Never throws.
    int parse(const std::string &text);

    const std::string &schemaName() const { return m_schemaName; }

private:
    CFiSaxParseHandler &m_handler;
    std::string m_schemaName;
    bool m_platformStarted = false;
    std::unique_ptr<xercesc::SecurityManager> m_security;
    xercesc::SAX2XMLReader *m_reader = nullptr;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFISAXPARSER_H
