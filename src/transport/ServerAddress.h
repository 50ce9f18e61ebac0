#pragma once

#include <QString>

namespace hollin {

// A server field as the user types it: "host", "host:port", "[v6]:port" or
// "scheme://host[:port]" (any path after the authority is ignored).
struct ServerAddress {
    QString scheme; // lower case; empty for the bare forms
    QString host;   // without brackets
    int port = 0;   // 0 when not given

    // False for an empty host, a bad port or a host with blanks or control characters.
    static bool parse(const QString &text, ServerAddress *out);
    // TLS from the first byte: the pop3s:// and smtps:// forms, and a bare
    // host on the well-known ports of those (995, 465), as providers' pages
    // give them ("pop.example.jp ポート 995 SSL").
    bool implicitTls() const;
    // "host:port" ("[v6]:port"), for messages and URLs.
    QString hostPort(int defaultPort) const;
};

} // namespace hollin
