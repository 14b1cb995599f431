// The Ed25519 check of signed scripts, with keys and signatures made the way
// the build makes them (script_sign, or libcrypto directly).
#include "SignatureCheck.h"

#include "OpenSslHolders.h"
#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Signer {
    EvpPkeyPtr key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")};

    std::string PublicKey() const
    {
        std::uint8_t raw[32];
        std::size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key.get(), raw, &length);
        return EncodeBase64(raw, length);
    }
    std::string Sign(const std::string &data) const
    {
        EvpMdCtxPtr ctx(EVP_MD_CTX_new());
        unsigned char signature[64];
        std::size_t length = sizeof signature;
        EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get());
        EVP_DigestSign(ctx.get(), signature, &length, reinterpret_cast<const unsigned char *>(data.data()),
                       data.size());
        return std::string(reinterpret_cast<const char *>(signature), length);
    }
};

void Write(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

const char *const kScript = "[script]\r\nSignature=$WEB_UPDATER$\r\nVersion=1.1\r\n";

} // namespace

TEST(Base64, RoundTripAndRejects)
{
    const std::uint8_t bytes[] = {0, 1, 2, 250, 251, 252, 253};
    for (std::size_t n = 0; n <= sizeof bytes; ++n) {
        std::vector<std::uint8_t> back;
        const std::string text = EncodeBase64(bytes, n);
        EXPECT_EQ(DecodeBase64(text, back), n > 0) << text;
        EXPECT_EQ(back, std::vector<std::uint8_t>(bytes, bytes + n));
    }
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(DecodeBase64("  aGk=\n", out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{'h', 'i'}));
    for (const char *bad : {"aGk", "a=Gk", "aG=k", "aGk*", "====", "aGk=aGk="})
        EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
}

TEST(SignatureCheck, GoodBadAndMissing)
{
    TestDir dir("signature");
    const Signer signer;
    const std::string script = dir.file("update.kus");
    const std::string sig = script + ".sig";
    Write(script, kScript);
    Write(sig, signer.Sign(kScript));

    EXPECT_TRUE(VerifyFileSignature(script, sig, signer.PublicKey()));
    // The signature as base64 text and the key as DER SubjectPublicKeyInfo.
    Write(dir.file("text.sig"),
          EncodeBase64(reinterpret_cast<const std::uint8_t *>(signer.Sign(kScript).data()), 64) + "\n");
    EXPECT_TRUE(VerifyFileSignature(script, dir.file("text.sig"), signer.PublicKey()));
    std::uint8_t der[44] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
    std::size_t rawLength = 32;
    EVP_PKEY_get_raw_public_key(signer.key.get(), der + 12, &rawLength);
    EXPECT_TRUE(VerifyFileSignature(script, sig, EncodeBase64(der, sizeof der)));
    // 44 bytes whose header is not Ed25519's are no key, whatever follows it.
    der[8] = 0x71;
    EXPECT_FALSE(VerifyFileSignature(script, sig, EncodeBase64(der, sizeof der)));

    // One changed byte in the script.
    Write(dir.file("changed.kus"), std::string(kScript) + " ");
    EXPECT_FALSE(VerifyFileSignature(dir.file("changed.kus"), sig, signer.PublicKey()));
    // Another key.
    EXPECT_FALSE(VerifyFileSignature(script, sig, Signer().PublicKey()));
    // No signature, an empty one, a cut one, a garbage one.
    EXPECT_FALSE(VerifyFileSignature(script, dir.file("none.sig"), signer.PublicKey()));
    Write(dir.file("empty.sig"), "");
    EXPECT_FALSE(VerifyFileSignature(script, dir.file("empty.sig"), signer.PublicKey()));
    Write(dir.file("cut.sig"), signer.Sign(kScript).substr(0, 63));
    EXPECT_FALSE(VerifyFileSignature(script, dir.file("cut.sig"), signer.PublicKey()));
    Write(dir.file("junk.sig"), std::string(5000, 'j'));
    EXPECT_FALSE(VerifyFileSignature(script, dir.file("junk.sig"), signer.PublicKey()));
    // Keys that are none.
    for (const char *key : {"", "not base64!", "AAAA", "aGVsbG8gd29ybGQ="})
        EXPECT_FALSE(VerifyFileSignature(script, sig, key)) << key;
    // No script.
    EXPECT_FALSE(VerifyFileSignature(dir.file("absent.kus"), sig, signer.PublicKey()));
}

TEST(SignatureCheck, BuildToolMakesKeysAndSignatures)
{
    TestDir dir("script-sign");
    const std::string tool = VELMOR_BINARY_DIR "/tools/script_sign";
    const ProgramResult keygen = RunProgram(tool, {"keygen", dir.file("key.pem")}, dir.path());
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
    const std::string publicKey = keygen.out.substr(0, keygen.out.find('\n'));
    EXPECT_EQ(publicKey.size(), 44u);
    EXPECT_EQ(std::filesystem::status(dir.file("key.pem")).permissions() & std::filesystem::perms::group_all,
              std::filesystem::perms::none);

    const ProgramResult pubkey = RunProgram(tool, {"pubkey", dir.file("key.pem")}, dir.path());
    EXPECT_EQ(pubkey.out, keygen.out);

    Write(dir.file("update.kus"), kScript);
    ASSERT_EQ(RunProgram(tool, {"sign", dir.file("key.pem"), dir.file("update.kus")}, dir.path()).exitCode,
              0);
    EXPECT_TRUE(VerifyFileSignature(dir.file("update.kus"), dir.file("update.kus.sig"), publicKey));
    EXPECT_EQ(RunProgram(tool, {"verify", publicKey, dir.file("update.kus")}, dir.path()).exitCode, 0);
    Write(dir.file("update.kus"), std::string(kScript) + "[x]\r\n");
    EXPECT_EQ(RunProgram(tool, {"verify", publicKey, dir.file("update.kus")}, dir.path()).exitCode, 1);
}
