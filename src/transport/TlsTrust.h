#pragma once

#include <QList>
#include <QSslCertificate>

namespace hollin {

// Certificates trusted beyond the system's CAs, for POP3 (Qt) and SMTP
// (libcurl) alike: those added here, plus the PEM file named by the
// environment variable HOLLIN_EXTRA_CA_FILE (read each time, so a test can
// set it before connecting).
void addExtraCaCertificates(const QList<QSslCertificate> &certificates);
QList<QSslCertificate> extraCaCertificates();

// What a user whose server's certificate failed the check can do: trust a
// private CA through HOLLIN_EXTRA_CA_FILE (Japanese, one sentence).
QString privateCaHint();

} // namespace hollin
