// The process-wide trace log and the scoped entry/exit trace object.
#ifndef PDK_CFITRACELOG_H
#define PDK_CFITRACELOG_H

#include "pdk/cfibase.h"
#include "pdk/cfierror.h"

#include <cstdarg>
#include <ctime>
#include <string>

namespace kelm_pdk_4_4 {

class CFiTraceLog : public virtual CFiRefCount {
public:
    CFiTraceLog();
    ~CFiTraceLog() override;

    void initialize(const WString &name, WString directory, WString fileName, int level, bool standardOutput);
    bool isInitialized() const;
    void registerErrorManager(const CFiErrorManagerPtr &errors);
    void trace(int level, const char *format, ...) __attribute__((format(printf, 3, 4)));
    void vtrace(int level, const char *format, va_list ap);
    void GetTraceLevels(int &level) const;
    void updateTraceLevelFromConfigFile();
    void initTraceSettings(WString &directory, WString &fileName, int &level);
    void loadFromConfigFile(WString &directory, WString &fileName, int &level);
    int updateConfigFile(const WString &directory, const WString &fileName, const int &level);

    // Read-only views for tools and tests.
    WString tracePath() const;
    WString name() const;

    // Test hook: the clock used for the file's date suffix; 0 restores the
    // real clock. Timestamps inside lines always come from the real clock.
    void setNowForTesting(time_t now);

private:
    struct Impl;
    Impl *m_impl;
};

class CFiTraceLogFunction {
public:
    // REQUIRES: name outlives the object (it is not copied).
    CFiTraceLogFunction(const CFiTraceLogPtr &log, const char *name);
    ~CFiTraceLogFunction();
    CFiTraceLogFunction(const CFiTraceLogFunction &) = delete;
    CFiTraceLogFunction &operator=(const CFiTraceLogFunction &) = delete;

    // A non-zero status is printed by the exit line with its text.
    void setStatus(int32_t status, const std::string &text);

private:
    CFiTraceLogPtr m_log;
    const char *m_name;
    int32_t m_status = 0;
    std::string m_statusText;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFITRACELOG_H
