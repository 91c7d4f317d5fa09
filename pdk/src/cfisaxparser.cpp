#include "pdk/cfisaxparser.h"

#include "pdk/cfistringtool.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <mutex>
#include <new>

XERCES_CPP_NAMESPACE_USE

namespace kelm_pdk_4_4 {

namespace {

// Entity references a list may expand. The dialects need none beyond the
// predefined ones, so a small number keeps "billion laughs" documents cheap.
constexpr XMLSize_t kEntityExpansionLimit = 64;

// Xerces counts Initialize/Terminate calls but does not lock the counter.
std::mutex &platformMutex() {
    static std::mutex m;
    return m;
}

// Xerces hands out UTF-16; the kit's narrow text is UTF-8 whatever the locale
// (XMLString::transcode would use the process code page and lose characters).
std::string utf8Of(const XMLCh *s) {
    return s == nullptr ? std::string() : CFiStringTool::toNarrow(s, XMLString::stringLen(s));
}

} // namespace

// ---- CFiSaxParseHandler ----

CFiSaxParseHandler::CFiSaxParseHandler() = default;
CFiSaxParseHandler::~CFiSaxParseHandler() = default;

void CFiSaxParseHandler::startElement(const XMLCh * /*uri*/, const XMLCh * /*localname*/, const XMLCh *qname,
                                      const Attributes & /*attrs*/) {
    m_text.clear();
    onStartElement(utf8Of(qname));
}

void CFiSaxParseHandler::endElement(const XMLCh * /*uri*/, const XMLCh * /*localname*/, const XMLCh *qname) {
    onEndElement(utf8Of(qname), m_text);
}

void CFiSaxParseHandler::characters(const XMLCh *chars, const XMLSize_t length) {
    m_text += CFiStringTool::toNarrow(chars, length);
    if (m_text.size() > kMaxElementText) {
        m_text.clear();
        // Stops the reader; CFiSaxParser::parse records it.
        throw SAXException("element text exceeds the size limit");
    }
}

void CFiSaxParseHandler::onStartElement(const std::string & /*name*/) {}

void CFiSaxParseHandler::record(const SAXParseException &e) {
    m_hasError = true;
    m_lastError.reset(new CFiSaxParseError(utf8Of(e.getMessage()), utf8Of(e.getSystemId()),
                                           static_cast<uint64_t>(e.getLineNumber()),
                                           static_cast<uint64_t>(e.getColumnNumber())));
}

void CFiSaxParseHandler::warning(const SAXParseException &e) { record(e); }
void CFiSaxParseHandler::error(const SAXParseException &e) { record(e); }
void CFiSaxParseHandler::fatalError(const SAXParseException &e) { record(e); }

void CFiSaxParseHandler::recordError(const std::string &message) {
    m_hasError = true;
    m_lastError.reset(new CFiSaxParseError(message, CFiSaxParser::kSystemId, 0, 0));
}

InputSource *CFiSaxParseHandler::resolveEntity(const XMLCh * /*publicId*/, const XMLCh * /*systemId*/) {
    static const XMLByte kNothing[] = {0};
    // The reader adopts and deletes the source; the bytes are static.
    return new MemBufInputSource(kNothing, 0, "kelm_sax_parser_entity", false);
}

void CFiSaxParseHandler::throwLastError() const {
    if (m_lastError) throw CFiSaxParseError(*m_lastError);
    if (m_hasError) throw CFiSaxParseError("parse failed", CFiSaxParser::kSystemId, 0, 0);
}

// ---- list handlers ----

const std::map<std::string, CFiConfigParamInfo> &CFiGetConfigParamListHandler::getList() const {
    throwLastError();
    return m_list;
}

void CFiGetConfigParamListHandler::onEndElement(const std::string &name, const std::string &text) {
    if (name == "ConfigParam") {
        m_list[m_current.key] = m_current;
        m_current = CFiConfigParamInfo();
    } else if (name == "ConfigParamList") {
        m_complete = true;
    } else if (name == "key") {
        m_current.key = text;
    } else if (name == "messageId") {
        m_current.messageId = text;
    } else if (name == "defaultValue") {
        m_current.defaultValue = text;
    } else if (name == "usageType") {
        m_current.usageType = text == "AUTO"        ? CFiConfigParamInfo::AUTO
                              : text == "SELECT"    ? CFiConfigParamInfo::SELECT
                              : text == "NO_MODIFY" ? CFiConfigParamInfo::NO_MODIFY
                                                    : CFiConfigParamInfo::UNKNOWN_USAGE;
    } else if (name == "dataType") {
        m_current.dataType = text == "string"         ? CFiConfigParamInfo::STRING
                             : text == "string_list"  ? CFiConfigParamInfo::STRING_LIST
                             : text == "int"          ? CFiConfigParamInfo::INT
                             : text == "int_list"     ? CFiConfigParamInfo::INT_LIST
                             : text == "boolean"      ? CFiConfigParamInfo::BOOLEAN
                             : text == "boolean_list" ? CFiConfigParamInfo::BOOLEAN_LIST
                                                      : CFiConfigParamInfo::UNKNOWN_TYPE;
    } else if (name == "rangeMin") {
        m_current.rangeMin = configDecimalValue(text);
    } else if (name == "rangeMax") {
        m_current.rangeMax = configDecimalValue(text);
    } else if (name == "isSharedParam") {
        m_current.isSharedParam = text == "true" || text == "yes" || text == "1";
    } else if (name == "selectionItem") {
        m_current.selectionItems.push_back(text);
    }
}

template <class Element>
const std::map<std::string, Element> &CFiValueListHandlerBase<Element>::getList() const {
    throwLastError();
    return m_list;
}

template <class Element>
void CFiValueListHandlerBase<Element>::onStartElement(const std::string &name) {
    if (name == "valueList") m_inList = true;
}

template <class Element>
void CFiValueListHandlerBase<Element>::onEndElement(const std::string &name, const std::string &text) {
    if (name == "valueList") {
        m_inList = false;
    } else if (name == m_listTag) {
        m_complete = true;
    } else if (name == m_itemTag) {
        m_list[m_current.getKey()] = m_current;
        m_current.clear();
    } else if (name == "key") {
        m_current.setKey(text);
    } else if (name == "value") {
        if (m_inList)
            m_current.addValue(text);
        else
            m_current.setValue(text);
    }
}

template class CFiValueListHandlerBase<CFiConfigParamData>;
template class CFiValueListHandlerBase<CFiFormatOption>;

CFiConfigParamDataListHandler::CFiConfigParamDataListHandler()
    : CFiValueListHandlerBase("ConfigValueList", "ConfigValue") {}

CFiFormatOptionListHandler::CFiFormatOptionListHandler()
    : CFiValueListHandlerBase("FormatOptionValueList", "FormatOptionValue") {}

// ---- CFiSaxParser ----

CFiSaxParser::CFiSaxParser(CFiSaxParseHandler &handler, const std::string &schemaName)
    : m_handler(handler), m_schemaName(schemaName) {
    std::lock_guard<std::mutex> lock(platformMutex());
    try {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
        m_platformStarted = true;
    } catch (const XMLException &e) {
        m_handler.recordError("XML platform initialisation failed: " + utf8Of(e.getMessage()));
        return;
    } catch (...) {
        m_handler.recordError("XML platform initialisation failed");
        return;
    }
    try {
        m_reader = XMLReaderFactory::createXMLReader();
        m_reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        m_reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        m_reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
        m_reader->setFeature(XMLUni::fgXercesSchema, false);
        m_reader->setFeature(XMLUni::fgXercesSchemaFullChecking, false);
        // Configuration text comes from outside: never fetch a DTD or an
        // external entity, and bound entity expansion.
        m_reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        m_reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        m_security.reset(new SecurityManager());
        m_security->setEntityExpansionLimit(kEntityExpansionLimit);
        m_reader->setProperty(XMLUni::fgXercesSecurityManager, m_security.get());
        m_reader->setContentHandler(&m_handler);
        m_reader->setErrorHandler(&m_handler);
        m_reader->setEntityResolver(&m_handler);
    } catch (const XMLException &e) {
        m_handler.recordError("XML reader set-up failed: " + utf8Of(e.getMessage()));
    } catch (const SAXException &e) {
        m_handler.recordError("XML reader set-up failed: " + utf8Of(e.getMessage()));
    } catch (...) {
        m_handler.recordError("XML reader set-up failed");
    }
    if (m_handler.hasError()) {
        delete m_reader;
        m_reader = nullptr;
    }
}

CFiSaxParser::~CFiSaxParser() {
    delete m_reader;
    m_reader = nullptr;
    // Allocated from the Xerces memory manager: free it before Terminate.
    m_security.reset();
    if (m_platformStarted) {
        std::lock_guard<std::mutex> lock(platformMutex());
        XMLPlatformUtils::Terminate();
    }
}

int CFiSaxParser::parse(const std::string &text) {
    if (m_reader == nullptr) {
        if (!m_handler.hasError()) m_handler.recordError("no XML reader");
        return 3;
    }
    try {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(text.data()), text.size(), kSystemId, false);
        m_reader->parse(source);
    } catch (const SAXParseException &e) {
        m_handler.fatalError(e);
    } catch (const SAXException &e) {
        m_handler.recordError(utf8Of(e.getMessage()));
    } catch (const OutOfMemoryException &) {
        m_handler.recordError("out of memory");
    } catch (const XMLException &e) {
        m_handler.recordError(utf8Of(e.getMessage()));
    } catch (const std::bad_alloc &) {
        m_handler.recordError("out of memory");
    } catch (...) {
        m_handler.recordError("unexpected exception while parsing");
    }
    return m_handler.hasError() ? 3 : 0;
}

} // namespace kelm_pdk_4_4
