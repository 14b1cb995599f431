#pragma once
// Ed25519 signatures of the update scripts. The updater accepts a script only
// when the file at its URL plus ".sig" is a valid signature of the script's
// bytes under the public key of its configuration ("PublicKey").
//
// Public key: base64 of the 32 raw key bytes (or of its 44-byte DER
// SubjectPublicKeyInfo, as `openssl pkey -pubout -outform DER` writes it).
// Signature file: the 64 signature bytes, raw or in base64 text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether `signaturePath` holds a valid signature of the bytes of `filePath`
// under `publicKeyBase64`. False for a missing or unreadable file, a bad key,
// a malformed or wrong signature.
bool VerifyFileSignature(const std::string &filePath, const std::string &signaturePath,
                         std::string_view publicKeyBase64);

// Strict base64 (whitespace around it ignored); false when it is not base64.
bool DecodeBase64(std::string_view text, std::vector<std::uint8_t> &bytes);
std::string EncodeBase64(const std::uint8_t *bytes, std::size_t count);
