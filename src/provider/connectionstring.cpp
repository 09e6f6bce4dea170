#include "provider/connectionstring.h"
#include "provider/sql/quoting.h"

#include <algorithm>
#include <cctype>

namespace rz::provider {

namespace {

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x < 128) x = char16_t(std::tolower(int(x)));
        if (y < 128) y = char16_t(std::tolower(int(y)));
        if (x != y)
            return false;
    }
    return true;
}

std::u16string trimmed(std::u16string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
    return std::u16string(s.substr(b, e - b));
}

std::u16string number(int value)
{
    std::u16string out;
    const std::string digits = std::to_string(value);
    out.assign(digits.begin(), digits.end());
    return out;
}

// What an encryption setting asks of the connection.
enum class EncryptionLevel { DriverDefault, Off, Required, Strict };

EncryptionLevel encryptionLevel(const std::optional<std::u16string> &value)
{
    if (!value)
        return EncryptionLevel::DriverDefault;
    const std::u16string v = trimmed(*value);
    if (equalsIgnoringCase(v, u"Mandatory") || equalsIgnoringCase(v, u"yes") || equalsIgnoringCase(v, u"true"))
        return EncryptionLevel::Required;
    if (equalsIgnoringCase(v, u"Strict"))
        return EncryptionLevel::Strict;
    return EncryptionLevel::Off; // "Optional", "no", "false", empty
}

void append(std::u16string &out, std::u16string_view key, std::u16string_view value)
{
    out += key;
    out += u'=';
    out += quoteConnectionValue(value);
    out += u';';
}

} // namespace

std::optional<ServerAddress> parseServerAddress(std::u16string_view dataSource)
{
    std::u16string text = trimmed(dataSource);
    if (text.size() >= 4 && equalsIgnoringCase(std::u16string_view(text).substr(0, 4), u"tcp:"))
        text.erase(0, 4);
    ServerAddress address;
    const size_t comma = text.find(u',');
    if (comma != std::u16string::npos) {
        const std::u16string portText = trimmed(std::u16string_view(text).substr(comma + 1));
        if (portText.empty() || portText.size() > 5)
            return std::nullopt;
        int port = 0;
        for (char16_t c : portText) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            port = port * 10 + (c - u'0');
        }
        if (port <= 0 || port > 65535)
            return std::nullopt;
        address.port = port;
        text.resize(comma);
    }
    const size_t backslash = text.find(u'\\');
    if (backslash != std::u16string::npos) {
        address.instance = trimmed(std::u16string_view(text).substr(backslash + 1));
        text.resize(backslash);
        if (address.instance.empty())
            return std::nullopt;
        if (comma == std::u16string::npos)
            address.port = 0; // the server's browser service names the port
    }
    address.host = trimmed(text);
    if (address.host.empty() || address.host == u"." || equalsIgnoringCase(address.host, u"(local)"))
        address.host = u"127.0.0.1";
    return address;
}

std::u16string providerStringSetting(std::u16string_view providerString, std::u16string_view key)
{
    while (!providerString.empty()) {
        const size_t end = std::min(providerString.find(u';'), providerString.size());
        const std::u16string_view item = providerString.substr(0, end);
        const size_t eq = item.find(u'=');
        if (eq != std::u16string_view::npos && equalsIgnoringCase(trimmed(item.substr(0, eq)), key))
            return trimmed(item.substr(eq + 1));
        providerString.remove_prefix(std::min(end + 1, providerString.size()));
    }
    return {};
}

std::u16string quoteConnectionValue(std::u16string_view value)
{
    const bool needsBraces = value.find_first_of(u";{}=") != std::u16string_view::npos
        || (!value.empty() && (value.front() == u' ' || value.back() == u' '));
    if (!needsBraces)
        return std::u16string(value);
    return enclosed(value, u"{", u'}');
}

std::u16string buildConnectionString(const ConnectionSettings &settings, OdbcDriverKind kind,
                                     std::u16string_view driverValue)
{
    const auto address = parseServerAddress(settings.dataSource);
    if (!address)
        return {};
    std::u16string out;
    // The driver is given whole, braces included where its name needs them.
    out += u"DRIVER=";
    out += driverValue;
    out += u';';

    const EncryptionLevel encryption = encryptionLevel(settings.encrypt);
    if (kind == OdbcDriverKind::FreeTds) {
        std::u16string server = address->host;
        if (!address->instance.empty())
            server += u"\\" + address->instance;
        append(out, u"SERVER", server);
        if (address->port != 0)
            append(out, u"PORT", number(address->port));
        append(out, u"TDS_Version", u"7.4");
        append(out, u"ClientCharset", u"UTF-8");
        append(out, u"Encryption", encryption == EncryptionLevel::Required || encryption == EncryptionLevel::Strict
                                       ? u"require" : u"off");
        // FreeTDS bounds transaction requests by Timeout=; statements set their own time-out.
        if (settings.generalTimeoutSeconds > 0)
            append(out, u"Timeout", number(int(settings.generalTimeoutSeconds)));
    } else {
        std::u16string server = u"tcp:" + address->host;
        if (!address->instance.empty())
            server += u"\\" + address->instance;
        if (address->port != 0 && (address->instance.empty() || address->port != 1433))
            server += u"," + number(address->port);
        append(out, u"SERVER", server);
        switch (encryption) {
        case EncryptionLevel::DriverDefault: break;
        case EncryptionLevel::Off:
            append(out, u"Encrypt", kind == OdbcDriverKind::Microsoft18 ? u"Optional" : u"no");
            break;
        case EncryptionLevel::Required:
            append(out, u"Encrypt", kind == OdbcDriverKind::Microsoft18 ? u"Mandatory" : u"yes");
            break;
        case EncryptionLevel::Strict:
            append(out, u"Encrypt", kind == OdbcDriverKind::Microsoft18 ? u"Strict" : u"yes");
            break;
        }
    }
    if (!settings.catalog.empty())
        append(out, u"DATABASE", settings.catalog);
    if (settings.integratedSecurity) {
        // FreeTDS logs in with Kerberos when no user name is given.
        if (kind != OdbcDriverKind::FreeTds)
            append(out, u"Trusted_Connection", u"yes");
    } else {
        append(out, u"UID", settings.userId);
        append(out, u"PWD", settings.password);
    }
    append(out, u"APP", settings.applicationName);
    return out;
}

} // namespace rz::provider
