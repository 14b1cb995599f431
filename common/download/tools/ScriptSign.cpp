// script_sign: makes the Ed25519 key of the update scripts and signs them, at
// build time (the stand-in site's scripts) or by hand (a release's).
//
//   script_sign keygen KEY.pem          new private key (mode 0600); prints the public key
//   script_sign pubkey KEY.pem          prints the public key (base64, the "PublicKey" value)
//   script_sign sign KEY.pem FILE [SIG] writes the signature of FILE to SIG (default FILE.sig)
//   script_sign verify PUBKEY FILE [SIG] exit status 0 when the signature is good
//
// The same with the openssl command line:
//   openssl genpkey -algorithm ed25519 -out KEY.pem
//   openssl pkey -in KEY.pem -pubout -outform DER | tail -c 32 | base64
//   openssl pkeyutl -sign -inkey KEY.pem -rawin -in FILE -out FILE.sig
#include "OpenSslHolders.h"
#include "SignatureCheck.h"

#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct FileClose {
    void operator()(std::FILE *f) const noexcept
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

int Usage()
{
    std::fprintf(stderr, "usage: script_sign keygen KEY.pem | pubkey KEY.pem | sign KEY.pem FILE [SIG] | "
                         "verify PUBKEY FILE [SIG]\n");
    return 2;
}

EvpPkeyPtr LoadKey(const char *path)
{
    FilePtr f(std::fopen(path, "rb"));
    if (!f) {
        std::fprintf(stderr, "script_sign: cannot open %s\n", path);
        return nullptr;
    }
    EvpPkeyPtr key(PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        std::fprintf(stderr, "script_sign: %s is not an Ed25519 private key\n", path);
        return nullptr;
    }
    return key;
}

int PrintPublicKey(EVP_PKEY *key)
{
    std::uint8_t raw[32];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1 || length != sizeof raw)
        return 1;
    std::printf("%s\n", EncodeBase64(raw, length).c_str());
    return 0;
}

int Keygen(const char *path)
{
    EvpPkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        return 1;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FilePtr f(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
    if (!f) {
        if (fd >= 0)
            ::close(fd);
        std::fprintf(stderr, "script_sign: cannot write %s\n", path);
        return 1;
    }
    if (PEM_write_PrivateKey(f.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return 1;
    return PrintPublicKey(key.get());
}

int Sign(const char *keyPath, const std::string &file, const std::string &sigPath)
{
    EvpPkeyPtr key = LoadKey(keyPath);
    if (!key)
        return 1;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "script_sign: cannot read %s\n", file.c_str());
        return 1;
    }
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    unsigned char signature[64];
    std::size_t length = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &length, data.data(), data.size()) != 1)
        return 1;
    std::ofstream out(sigPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(signature), static_cast<std::streamsize>(length));
    out.close();
    if (!out) {
        std::fprintf(stderr, "script_sign: cannot write %s\n", sigPath.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    if (command == "keygen" && argc == 3)
        return Keygen(argv[2]);
    if (command == "pubkey" && argc == 3) {
        EvpPkeyPtr key = LoadKey(argv[2]);
        return key ? PrintPublicKey(key.get()) : 1;
    }
    if (command == "sign" && (argc == 4 || argc == 5))
        return Sign(argv[2], argv[3], argc == 5 ? argv[4] : std::string(argv[3]) + ".sig");
    if (command == "verify" && (argc == 4 || argc == 5)) {
        const bool good =
            VerifyFileSignature(argv[3], argc == 5 ? argv[4] : std::string(argv[3]) + ".sig", argv[2]);
        std::printf("%s\n", good ? "good" : "bad");
        return good ? 0 : 1;
    }
    return Usage();
}
