// Install paths, the per-component configuration store and credentials.
#ifndef PDK_CFICONFIGURATION_H
#define PDK_CFICONFIGURATION_H

#include "pdk/cfibase.h"
#include "pdk/cfierror.h"

#include <ace/Configuration.h>

#include <list>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

// Static path functions; all return 0 on success. Directories end with the
// platform path separator and are created when missing.
class CFiConfigurationPathTool {
public:
    static int getInstallPath(WString &path);
    static int getProgramFilesDir(WString &path);
    static int getProgramFilesX86Dir(WString &path);
    static int getTraceFileInfo(const WString &name, WString &dir, WString &file);
    static int getConfigFileInfo(const WString &name, WString &dir, WString &file);
    static int getMessageFileInfo(const WString &name, WString &dir, WString &file);
    static int getCacheLocationInfo(WString &dir);
    // A malformed identifier gives -1 and an empty path.
    static int getDevKey(const std::string &udid, WString &path);
    static int getLunKey(const std::string &udid, WString &path);
    static int verify(const WString &path);
};

// Collects the errors an object recorded instead of throwing them.
class CFiErrorRecorder {
public:
    virtual ~CFiErrorRecorder();
    void recordError(const CFiError &error);
    const std::vector<CFiError> &recordedErrors() const { return m_errors; }

private:
    std::vector<CFiError> m_errors;
};

struct SFiCredential {
    WString hostName;
    WString userName;
    WString password;
    int32_t port = -1;
    WString data;
    bool complete() const { return !hostName.empty() && !userName.empty() && !password.empty(); }
};

class CFiConfiguration : public CFiErrorRecorder, public virtual CFiTraceable {
public:
    CFiConfiguration();
    explicit CFiConfiguration(const WString &name);
    CFiConfiguration(const WString &directory, const WString &fileName, bool import);
    ~CFiConfiguration() override;

    int importConfig(const WString &directory, const WString &fileName);
    int exportConfig();
    std::list<WString> enumerateSections(const ACE_Configuration_Section_Key &key);
    int openSection(const WString &name, ACE_Configuration_Section_Key &key, int create);
    int openSection(const ACE_Configuration_Section_Key &base, const WString &name,
                    ACE_Configuration_Section_Key &key, int create);
    int getStringValue(const WString &name, WString &value);
    int setStringValue(const WString &name, const WString &value);
    int getIntegerValue(const WString &name, unsigned int &value);
    int setIntegerValue(const WString &name, unsigned int value);
    int getStringValue(const WString &section, const WString &name, WString &value);
    int getIntegerValue(const WString &section, const WString &name, unsigned int &value);
    std::list<SFiCredential> importCredentials(const std::string &vendor, const std::string &product,
                                               const WString &section, bool openArray);

    const ACE_Configuration_Section_Key &rootSection();
    const WString &path() const { return m_path; }

private:
    // directory + fileName, with a separator between them when the directory
    // does not already end with one.
    static WString joinPath(const WString &directory, const WString &fileName);

    ACE_Configuration_Heap m_heap;
    WString m_name;
    WString m_directory;
    WString m_fileName;
    WString m_path;
    ACE_Configuration_Section_Key m_current;
    bool m_heapOpen = false;
};

class CFiCredentialsParser : public virtual CFiTraceable {
public:
    int parse(const std::string &vendor, const std::string &product, std::list<SFiCredential> &out,
              bool openArray);
    // The same rules over a given text (the framework's blob, already narrow).
    int parseText(const std::string &text, const std::string &vendor, const std::string &product,
                  std::list<SFiCredential> &out, bool openArray);
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFICONFIGURATION_H
