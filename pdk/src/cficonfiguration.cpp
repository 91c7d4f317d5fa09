#include "pdk/cficonfiguration.h"

#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <ace/Configuration_Import_Export.h>
#include <ace/OS_NS_string.h>

#include <cerrno>

namespace kelm_pdk_4_4 {

namespace {

#ifdef _WIN32
const wchar_t kSep = L'\\';
#else
const wchar_t kSep = L'/';
#endif

const wchar_t kSourceFile[] = L"pdk\\src\\cficonfiguration";
const wchar_t kConstructorName[] = L"kelm_pdk_4_4::CFiConfiguration::CFiConfiguration";
const wchar_t kImportName[] = L"kelm_pdk_4_4::CFiConfiguration::importConfig";
const size_t kSectionMapSize = 16;

// ACE is built with narrow characters: names cross the boundary as UTF-8.
ACE_TString toAce(const WString &s) { return ACE_TString(CFiStringTool::toNarrow(s).c_str()); }
WString fromAce(const ACE_TString &s) { return CFiStringTool::toWide(std::string(s.c_str(), s.length())); }

bool contains(const WString &text, const wchar_t *part) {
    return std::wstring(text.c_str(), text.length()).find(part) != std::wstring::npos;
}

} // namespace

CFiErrorRecorder::~CFiErrorRecorder() = default;

void CFiErrorRecorder::recordError(const CFiError &error) { m_errors.push_back(error); }

CFiConfiguration::CFiConfiguration() {
    m_heapOpen = m_heap.open(kSectionMapSize) == 0;
    if (!m_heapOpen)
        recordError(CFiError(-1, WString(L"Failed to open configuration heap"), WString(kSourceFile), 101,
                             WString(kConstructorName)));
    else
        m_current = m_heap.root_section();
}

CFiConfiguration::CFiConfiguration(const WString &name) : m_name(name) {
    m_heapOpen = m_heap.open(kSectionMapSize) == 0;
    if (!m_heapOpen) {
        recordError(CFiError(-1, WString(L"Failed to open configuration heap"), WString(kSourceFile), 134,
                             WString(kConstructorName)));
        return;
    }
    m_current = m_heap.root_section();
    WString dir;
    WString file;
    CFiConfigurationPathTool::getConfigFileInfo(name, dir, file);
    importConfig(dir, file);
}

CFiConfiguration::CFiConfiguration(const WString &directory, const WString &fileName, bool import) {
    m_heapOpen = m_heap.open(kSectionMapSize) == 0;
    if (!m_heapOpen) {
        recordError(CFiError(-1, WString(L"Failed to open configuration heap"), WString(kSourceFile), 110,
                             WString(kConstructorName)));
        return;
    }
    m_current = m_heap.root_section();
    if (import) {
        importConfig(directory, fileName);
    } else {
        m_directory = directory;
        m_fileName = fileName;
        m_path = joinPath(directory, fileName);
    }
}

CFiConfiguration::~CFiConfiguration() = default;

WString CFiConfiguration::joinPath(const WString &directory, const WString &fileName) {
    WString path = directory;
    if (!path.empty() && path[path.length() - 1] != kSep && path[path.length() - 1] != L'\\')
        path += WString(&kSep, 1);
    path += fileName;
    return path;
}

int CFiConfiguration::importConfig(const WString &directory, const WString &fileName) {
    m_directory = directory;
    m_fileName = fileName;
    m_path = joinPath(directory, fileName);

    int status = CFiConfigurationPathTool::verify(directory);
    if (status != 0) {
        recordError(CFiError(status, WString(L"Configuration path verification failed"), WString(kSourceFile), 161,
                             WString(kImportName)));
        return status;
    }
    status = CFiConfigurationPathTool::verify(m_path);
    if (status != 0) {
        recordError(CFiError(status, WString(L"Configuration path succeeded but no configuration file exists."),
                             WString(kSourceFile), 166, WString(kImportName)));
        return status;
    }
    if (!m_heapOpen) return -1;
    ACE_Registry_ImpExp importer(m_heap);
    status = importer.import_config(toAce(m_path).c_str());
    if (status != 0)
        recordError(CFiError(status, WString(L"Import of configuration file failed."), WString(kSourceFile), 172,
                             WString(kImportName)));
    return status;
}

int CFiConfiguration::exportConfig() {
    if (!m_heapOpen) return -1;
    ACE_Registry_ImpExp exporter(m_heap);
    return exporter.export_config(toAce(m_path).c_str());
}

std::list<WString> CFiConfiguration::enumerateSections(const ACE_Configuration_Section_Key &key) {
    std::list<WString> names;
    if (!m_heapOpen) return names;
    ACE_TString name;
    for (int index = 0; m_heap.enumerate_sections(key, index, name) == 0; ++index) names.push_back(fromAce(name));
    return names;
}

int CFiConfiguration::openSection(const WString &name, ACE_Configuration_Section_Key &key, int create) {
    if (!m_heapOpen) return -1;
    return openSection(m_heap.root_section(), name, key, create);
}

int CFiConfiguration::openSection(const ACE_Configuration_Section_Key &base, const WString &name,
                                  ACE_Configuration_Section_Key &key, int create) {
    if (!m_heapOpen) return -1;
    int status = m_heap.open_section(base, toAce(name).c_str(), create, key);
    if (status == 0) m_current = key;
    return status;
}

int CFiConfiguration::getStringValue(const WString &name, WString &value) {
    if (!m_heapOpen) return -1;
    ACE_TString text;
    int status = m_heap.get_string_value(m_current, toAce(name).c_str(), text);
    if (status == 0) value = fromAce(text);
    return status;
}

int CFiConfiguration::setStringValue(const WString &name, const WString &value) {
    if (!m_heapOpen) return -1;
    return m_heap.set_string_value(m_current, toAce(name).c_str(), toAce(value));
}

int CFiConfiguration::getIntegerValue(const WString &name, unsigned int &value) {
    if (!m_heapOpen) return -1;
    u_int v = 0;
    int status = m_heap.get_integer_value(m_current, toAce(name).c_str(), v);
    if (status == 0) value = v;
    return status;
}

int CFiConfiguration::setIntegerValue(const WString &name, unsigned int value) {
    if (!m_heapOpen) return -1;
    return m_heap.set_integer_value(m_current, toAce(name).c_str(), value);
}

int CFiConfiguration::getStringValue(const WString &section, const WString &name, WString &value) {
    ACE_Configuration_Section_Key key;
    int status = openSection(section, key, 1);
    return status != 0 ? status : getStringValue(name, value);
}

int CFiConfiguration::getIntegerValue(const WString &section, const WString &name, unsigned int &value) {
    ACE_Configuration_Section_Key key;
    int status = openSection(section, key, 1);
    return status != 0 ? status : getIntegerValue(name, value);
}

const ACE_Configuration_Section_Key &CFiConfiguration::rootSection() { return m_heap.root_section(); }

std::list<SFiCredential> CFiConfiguration::importCredentials(const std::string &vendor, const std::string &product,
                                                             const WString &section, bool openArray) {
    CFiTraceLogFunction scope(m_traceLog, "kelm_pdk_4_4::CFiConfiguration::importCredentials");
    std::list<SFiCredential> credentials;

    CFiCredentialsParser parser;
    parser.setTraceLog(m_traceLog);
    parser.parse(vendor, product, credentials, openArray);

    ACE_Configuration_Section_Key parent;
    if (openSection(section, parent, 1) != 0) return credentials;

    const WString none(L"<none>");
    for (const WString &name : enumerateSections(parent)) {
        ACE_Configuration_Section_Key key;
        if (openSection(parent, name, key, 0) != 0) {
            WString error = CFiStringTool::toWide(ACE_OS::strerror(errno));
            trace(1, "ERROR: [%S] Importing section [%S] failed.", error.c_str(), name.c_str());
            continue;
        }
        if (contains(name, L"OPENARRAY") != openArray) {
            trace(3, "Skipping credentials section [%S]", name.c_str());
            continue;
        }
        trace(3, "Importing credentials section [%S]", name.c_str());
        SFiCredential credential;
        if (getStringValue(WString(L"HOSTNAME"), credential.hostName) != 0) credential.hostName.clear();
        if (getStringValue(WString(L"USERNAME"), credential.userName) != 0) credential.userName.clear();
        if (getStringValue(WString(L"PASSWORD"), credential.password) != 0) credential.password.clear();
        if (!credential.complete() || credential.hostName == none || credential.userName == none ||
            credential.password == none)
            continue;
        bool duplicate = false;
        for (const SFiCredential &known : credentials)
            if (CFiStringTool::equalsNoCase(known.hostName, credential.hostName)) duplicate = true;
        if (!duplicate) credentials.push_back(credential);
    }

    if (credentials.empty())
        trace(2, "WARNING: No credentials found for %s %s.", vendor.c_str(), product.c_str());
    else
        trace(3, "INFO: %d credentials found for %s %s.", static_cast<int>(credentials.size()), vendor.c_str(),
              product.c_str());
    return credentials;
}

} // namespace kelm_pdk_4_4
