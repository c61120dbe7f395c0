// The service's TLS set-up from a PEM certificate and key: each file read and checked at start
// (missing, not a file, no certificate, a key protected by a passphrase or of a kind the
// service cannot use, a key that is not the certificate's), so that a mistake stops the start
// with its reason instead of failing every handshake later. TLS 1.2 offers forward-secret AEAD
// suites only; TLS 1.3 keeps its own.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QString>

namespace qubix::service {

// The server configuration, or false with the reason (naming the file) in *error.
bool LoadTlsConfiguration(const QString& certFile, const QString& keyFile,
                          QSslConfiguration& configuration, QString* error);

// Of the suites given, those the service offers: every TLS 1.3 suite, and for TLS 1.2 those with
// an ephemeral key exchange (ECDHE, DHE) and AES-GCM or ChaCha20-Poly1305.
QList<QSslCipher> ForwardSecretAeadCiphers(const QList<QSslCipher>& supported);

// True when the private key (DER as QSslKey::toDer gives it: PKCS#1 RSA or SEC1 EC) is the one
// whose public half the certificate's public key (DER) holds.
bool KeyBelongsToCertificate(const QByteArray& privateKeyDer, const QByteArray& publicKeyDer);

// The header that keeps browsers on HTTPS for this host once they have seen it.
inline constexpr const char* kStrictTransportSecurity = "max-age=31536000";

}  // namespace qubix::service
