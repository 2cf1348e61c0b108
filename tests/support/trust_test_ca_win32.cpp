// Puts the update tests' own certificate authority into (or takes it out of) the machine's
// trusted roots, the one place WinHTTP takes its trust from, so that the Windows program can
// fetch from the loopback HTTPS test server with verification on. Meant for a throw-away Wine
// prefix; never for a real machine.
//
//   trust_test_ca add|remove CA.pem

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> DerFromPem(const std::string& Pem)
{
    DWORD Size = 0;
    if (!CryptStringToBinaryA(Pem.c_str(), static_cast<DWORD>(Pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &Size, nullptr, nullptr))
        return {};
    std::vector<BYTE> Der(Size);
    if (!CryptStringToBinaryA(Pem.c_str(), static_cast<DWORD>(Pem.size()),
                              CRYPT_STRING_BASE64HEADER, Der.data(), &Size, nullptr, nullptr))
        return {};
    Der.resize(Size);
    return Der;
}

// Whether the registry's Root store holds the certificate, looked up afresh.
bool RootHolds(const std::vector<BYTE>& Der)
{
    HCERTSTORE Root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                    CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    PCCERT_CONTEXT Wanted =
        CertCreateCertificateContext(X509_ASN_ENCODING, Der.data(), static_cast<DWORD>(Der.size()));
    PCCERT_CONTEXT Found = Root && Wanted
                               ? CertFindCertificateInStore(Root, X509_ASN_ENCODING, 0,
                                                            CERT_FIND_EXISTING, Wanted, nullptr)
                               : nullptr;
    if (Found)
        CertFreeCertificateContext(Found);
    if (Wanted)
        CertFreeCertificateContext(Wanted);
    if (Root)
        CertCloseStore(Root, 0);
    return Found != nullptr;
}

} // namespace

int main(int Argc, char** Argv)
{
    const std::string Mode = Argc == 3 ? Argv[1] : "";
    if (Mode != "add" && Mode != "remove") {
        std::fprintf(stderr, "usage: trust_test_ca add|remove CA.pem\n");
        return 64;
    }
    std::ifstream File(Argv[2], std::ios::binary);
    const std::string Pem((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
    const std::vector<BYTE> Der = DerFromPem(Pem);
    if (Der.empty()) {
        std::fprintf(stderr, "trust_test_ca: %s holds no PEM certificate\n", Argv[2]);
        return 1;
    }
    // The registry's own Root store, where the certificate is kept: Wine answers the system store
    // from a copy, so a removal through it reports success and keeps the certificate, and the
    // authorities of earlier runs pile up.
    HCERTSTORE Root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                    CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!Root) {
        std::fprintf(stderr, "trust_test_ca: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    bool Ok = false;
    if (Mode == "add") {
        Ok = CertAddEncodedCertificateToStore(Root, X509_ASN_ENCODING, Der.data(),
                                              static_cast<DWORD>(Der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else if (PCCERT_CONTEXT Wanted = CertCreateCertificateContext(
                   X509_ASN_ENCODING, Der.data(), static_cast<DWORD>(Der.size()))) {
        PCCERT_CONTEXT Found = CertFindCertificateInStore(Root, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, Wanted, nullptr);
        // Deleting frees the found context; an absent certificate counts as removed.
        Ok = !Found || CertDeleteCertificateFromStore(Found);
        CertFreeCertificateContext(Wanted);
    }
    if (!Ok)
        std::fprintf(stderr, "trust_test_ca: %s failed (%lu)\n", Mode.c_str(), GetLastError());
    CertCloseStore(Root, 0);
    // Checked afresh, as the next program will find it.
    if (Ok && RootHolds(Der) != (Mode == "add")) {
        std::fprintf(stderr, "trust_test_ca: %s reported success, but the Root store %s it\n",
                     Mode.c_str(), Mode == "add" ? "lacks" : "still holds");
        Ok = false;
    }
    return Ok ? 0 : 1;
}
