#pragma once

#include <QList>
#include <QSslCertificate>
#include <QStringList>

namespace hollin {

// Certificates trusted beyond the system's CAs, for POP3 (Qt) and SMTP
// (libcurl) alike: those added here, plus the PEM file named by the
// environment variable HOLLIN_EXTRA_CA_FILE (read each time, so a test can
// set it before connecting).
void addExtraCaCertificates(const QList<QSslCertificate> &certificates);
QList<QSslCertificate> extraCaCertificates();

// Why HOLLIN_EXTRA_CA_FILE adds nothing although it is set: the file is
// missing, unreadable or holds no PEM certificate (Japanese, one sentence);
// empty when the variable is unset or the file gives certificates.
QString extraCaFileProblem();

// What a user whose server's certificate failed the check can do (Japanese):
// for a name that does not match, type the name the certificate is for
// (certificateNames, when known); for a certificate no trusted CA signed,
// trust the private CA through HOLLIN_EXTRA_CA_FILE, or mend the file it
// already names.
QString certificateHint(const QString &host, bool nameMismatch, bool untrusted,
                        const QStringList &certificateNames = {});

} // namespace hollin
