// Reservation keys for hosts: the 8-character key derived from this host's
// IPv4 address, the reverse lookup of a key, conversions between character
// keys and their comma-separated numeric form, and the device path test.
//
// Key text: the lower-case hexadecimal of the four IPv4 octets in address
// order, two digits each ("10.0.0.1" -> "0a000001"). "00000000" stands for a
// host without a usable address. The text travels as 8 ASCII bytes in the
// SCSI key fields; it is never turned into a number.
//
// No operation throws. The tool holds nothing but its trace log and may be
// used from any thread; the process shares one through CPGRToolSingleton.
#ifndef PROVIDERS_DEVICE_PGR_PGRTOOL_H
#define PROVIDERS_DEVICE_PGR_PGRTOOL_H

#include "pdk/cfibase.h"

#include <ace/Thread_Mutex.h>

#include <string>

class CPGRTool : public kelm_pdk_4_4::CFiTraceable, public virtual kelm_pdk_4_4::CFiRefCount {
public:
    // The key of a host without a usable address.
    static const char *const kNoAddressKey; // "00000000"
    // The host name getHostForKey reports when it finds none.
    static const char *const kUnknownHost; // "UnknownHost"

    CPGRTool();
    ~CPGRTool() override;

    // The tool is shared by every thread of the process, so the log it
    // traces to may be replaced while another thread traces.
    void setTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log) override;

    // This machine's key: its computer name looked up, the first IPv4
    // address hex-encoded. "00000000" (with a level-2 line) when the name
    // does not resolve to a dotted address of four octets 0..255.
    std::string getKeyForHost();

    // The host whose address a key encodes. The key must be 8 characters of
    // four hexadecimal pairs; otherwise "UnknownHost" with ipAddress left
    // untouched. For a well-formed key ipAddress receives the dotted address
    // and the result is the reverse lookup's host name, "UnknownHost" when
    // there is none, or the address text when the address parser rejects it.
    std::string getHostForKey(const std::string &key, std::string &ipAddress);

    // True when the text is one or more ","-separated decimal codes 0..255.
    // A failing token is reported on standard output.
    bool isNumericKey(const std::string &numericKey);
    // The characters whose codes the numeric key lists ("72,73" -> "HI").
    // Empty for empty text and for text that isNumericKey rejects.
    std::string getCharKey(const std::string &numericKey);
    // The codes (0..255) of the key's bytes joined by "," ("HI" -> "72,73").
    std::string getNumKey(const std::string &charKey);
    // Pads key with '-' to at least 8 characters. Always 0.
    int formatKey(std::string &key);
    // True when the path begins with "\\.\PHYSICALDRIVE".
    bool isValidDevice(const std::string &devicePath);

    // The parsing steps of the two lookups, without resolver or trace:
    // dotted address -> key (false unless four decimal octets 0..255), and
    // key -> dotted address (false unless four hexadecimal pairs).
    static bool addressToKey(const std::string &address, std::string &key);
    static bool keyToAddress(const std::string &key, std::string &address);

private:
    kelm_pdk_4_4::CFiTraceLogPtr currentLog() const;

    mutable ACE_Thread_Mutex m_logLock; // guards the inherited m_traceLog
};

using CPGRToolPtr = kelm_pdk_4_4::CFiSmartPtr<CPGRTool, kelm_pdk_4_4::CFiContextSingletonAllocator>;
// The process-wide tool: instance(false) gives it, instance(true) drops it.
using CPGRToolSingleton = kelm_pdk_4_4::CFiSingleton<CPGRTool>;

#endif // PROVIDERS_DEVICE_PGR_PGRTOOL_H
