#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace hollin {

// A private instance of Debian's Postfix on 127.0.0.1 (free port, private
// folder), with the checks providers' servers make: the EHLO name
// (reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname) and a
// message size limit. Accepted mail is discarded.
//
// Needs root: "postfix start" is reserved for the superuser (the tests run
// as root for Dovecot anyway). Starting takes about 3 s.
class PostfixServer {
public:
    PostfixServer() = default;
    ~PostfixServer();
    PostfixServer(const PostfixServer &) = delete;
    PostfixServer &operator=(const PostfixServer &) = delete;

    bool start(int messageSizeLimit, QString *error);
    void stop();
    QString server() const; // "127.0.0.1:PORT"
    QString log() const;    // Postfix's own log

private:
    bool postfix(const QString &command, QString *error);

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_port = 0;
};

} // namespace hollin
