// Host-name and IPv4 address helpers of the kit: the computer name, forward
// and reverse lookups through the platform's socket calls (gethostbyname,
// gethostbyaddr; see platform/windows.h), fully qualified names,
// dotted-address validation and a record of one host's names.
//
// No operation throws or traces. Lookups return 0 on success and 3 on
// failure; what an operation leaves in its out-argument on failure is stated
// with it. Every operation is stateless and may be called from any thread
// (the platform answers each thread in storage of its own, copied out at once).
#ifndef PDK_CFINETWORK_H
#define PDK_CFINETWORK_H

#include <string>
#include <utility>

namespace kelm_pdk_4_4 {

// The three names of one host; any of them may be empty.
class CFiHostInfo {
public:
    CFiHostInfo() = default;
    CFiHostInfo(std::string hostName, std::string ipAddress, std::string fqdn)
        : m_hostName(std::move(hostName)), m_ipAddress(std::move(ipAddress)), m_fqdn(std::move(fqdn)) {}

    const std::string &hostName() const { return m_hostName; }
    const std::string &ipAddress() const { return m_ipAddress; }
    const std::string &fqdn() const { return m_fqdn; }
    void setHostName(const std::string &s) { m_hostName = s; }
    void setIpAddress(const std::string &s) { m_ipAddress = s; }
    void setFqdn(const std::string &s) { m_fqdn = s; }

private:
    std::string m_hostName;
    std::string m_ipAddress; // dotted decimal
    std::string m_fqdn;
};

class CFiNetwork {
public:
    static constexpr int kSuccess = 0;
    static constexpr int kFailure = 3;

    // This machine's name from the platform; empty when the platform fails.
    static std::string getComputerName();

    // The first IPv4 address of name, as "%d.%d.%d.%d". On failure (null or
    // unknown name) returns 3 and leaves address unchanged.
    static int getHostbyName(const char *name, std::string &address);

    // The official name of the host at a dotted address. When the address
    // parser rejects the text (255.255.255.255 included, as the parser cannot
    // tell it from its error value) hostName becomes the text itself and the
    // result is 3; when no host is found hostName is left unchanged. A null
    // address gives 3 and leaves hostName unchanged.
    static int getHostbyAddr(const char *address, std::string &hostName);

    // The lower-cased official name of a host given by name or address (a
    // text beginning with a digit is taken as an address). 3 for a null or
    // empty text or a failed lookup, with fqdn unchanged.
    static int getFQDN(const char *nameOrAddress, std::string &fqdn);
    // The same for this machine's name.
    static int getFQDN(std::string &fqdn);

    // True for exactly four "."-separated non-empty tokens of decimal digits
    // whose values lie in 0..255 (leading zeros allowed). Null is invalid.
    static bool validateIPAddress(const char *text);

    // The looser test the reservation keys use: exactly four "."-separated
    // tokens made only of decimal digits (no range check; empty tokens fail).
    static bool isIpAddress(const std::string &text);

    // The host's record: an address fills the address, the host name and
    // the fully qualified name; a name fills the name, the address and the
    // fully qualified name of that address. Fields whose lookup fails stay
    // as the lookup left them; an unknown name gives a record with the name
    // alone; null or empty gives an empty record.
    static CFiHostInfo resolve(const char *nameOrAddress);
    static CFiHostInfo resolve();

    // True when a and b denote the same host, judged by the first of
    // address, host name and fully qualified name that is set in a (case
    // ignored).
    static bool compare(const CFiHostInfo &a, const CFiHostInfo &b);
    // True when text equals (case ignored) the record's address, fully
    // qualified name or host name. False for a null or empty text.
    static bool compare(const char *text, const CFiHostInfo &info);

private:
    // 0 when the token is a decimal number 0..255, 3 otherwise.
    static int IsTokenValid(const std::string &token);
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFINETWORK_H
