// kestova-package: checks a new certificate, private key and message file, and builds the
// deployment of KestovaDesktopUpdater from them, or refuses it and writes nothing.

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "resources/version.h"
#include "tools/package/Package.h"
#include "tools/package/Process.h"
#include "tools/package/SignCommand.h"

namespace {

namespace fs = std::filesystem;
using kdu::package::Describe;

#define KDU_PACKAGE_NAME KDU_PRODUCT_NAME "-" KDU_VERSION_TEXT "-DATE-SHA256"

constexpr char kUsage[] =
    "usage: kestova-package --certificate CERT.pem --key KEY.pem --messages MESSAGES.txt\n"
    "                       --out FOLDER [--exe KestovaDesktopUpdater.exe] "
    "[--allow-not-yet-valid]\n"
    "                       [--sign-certificate CODESIGN.pem\n"
    "                        (--sign-key CODESIGN-KEY.pem\n"
    "                         | --sign-key 'pkcs11:token=...;object=...;type=private'\n"
    "                           --pkcs11-module LIBRARY.so [--pkcs11-pin-file PIN-FILE]\n"
    "                         | --sign-command 'COMMAND \"$1\"')\n"
    "                        [--timestamp-url URL]... [--timestamp-ca TSA-ROOT.pem]\n"
    "                        [--crl CRL.pem]]\n"
    "\n"
    "Builds FOLDER/" KDU_PACKAGE_NAME "/ and FOLDER/" KDU_PACKAGE_NAME
    ".zip with the 32-bit\n"
    "KestovaDesktopUpdater.exe, data1.bin (the certificate), data2.bin (the key), data3.bin\n"
    "(the six message lines in Big5, CR LF) and SHA256SUMS; refuses, writing nothing, when\n"
    "the certificate and key are not a valid pair or a message line cannot be shown.\n"
    "MESSAGES.txt is UTF-8: lines 1-3 introduction, 4 and 5 closing, 6 failure.\n"
    "With --sign-certificate (PEM, its chain after it) and --sign-key, the exe is signed\n"
    "(Authenticode, SHA-256) with osslsigncode, from a key file or, given a PKCS#11 URI,\n"
    "from a token or HSM, its PIN in KESTOVA_PKCS11_PIN or the PIN file; with --sign-command\n"
    "instead, COMMAND runs through the shell with the path of the exe to sign in place as\n"
    "\"$1\", $KESTOVA_SIGN_FILE and $f (a cloud signer's client, jsign, ...).\n"
    "The signature must be one, by the leaf of CODESIGN.pem, and verify up the chain to a\n"
    "root in it or in the system's trust store (SSL_CERT_FILE where set); revocation is\n"
    "checked against --crl only. A release should also be timestamped: each URL is tried\n"
    "in turn, and the timestamp must verify (its root in the trust store or --timestamp-ca).\n"
    "--exe defaults to " KDU_DEFAULT_EXE "\n";

struct Arguments {
    kdu::package::PackageInputs inputs;
    fs::path out;
};

kdu::package::SigningInputs& Signing(Arguments& arguments) {
    if (!arguments.inputs.signing) arguments.inputs.signing.emplace();
    return *arguments.inputs.signing;
}

// What is wrong with the command line; empty if nothing is.
std::string Parse(int argc, char** argv, Arguments& arguments) {
    arguments.inputs.executable = KDU_DEFAULT_EXE;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--allow-not-yet-valid") {
            arguments.inputs.allowNotYetValid = true;
            continue;
        }
        // "--out --exe x" is a forgotten value, not a folder named "--exe".
        if (i + 1 >= argc || std::string_view{argv[i + 1]}.starts_with("--")) {
            return std::string{option} + " needs a value";
        }
        const fs::path value = argv[++i];
        if (option == "--certificate") {
            arguments.inputs.certificate = value;
        } else if (option == "--key") {
            arguments.inputs.key = value;
        } else if (option == "--messages") {
            arguments.inputs.messages = value;
        } else if (option == "--out") {
            arguments.out = value;
        } else if (option == "--exe") {
            arguments.inputs.executable = value;
        } else if (option == "--sign-certificate") {
            Signing(arguments).certificate = value;
        } else if (option == "--sign-key") {
            Signing(arguments).key = value;
        } else if (option == "--pkcs11-module") {
            Signing(arguments).pkcs11Module = value.string();
        } else if (option == "--pkcs11-pin-file") {
            Signing(arguments).pinFile = value;
        } else if (option == "--sign-command") {
            Signing(arguments).command = value.string();
        } else if (option == "--timestamp-url") {
            Signing(arguments).timestampUrls.push_back(value.string());
        } else if (option == "--timestamp-ca") {
            Signing(arguments).timestampCa = value;
        } else if (option == "--crl") {
            Signing(arguments).crl = value;
        } else {
            return "unknown option " + std::string{option};
        }
    }
    const auto& in = arguments.inputs;
    if (const auto& signing = in.signing) {
        if (signing->certificate.empty() || signing->key.empty() == signing->command.empty()) {
            return "signing needs --sign-certificate and either --sign-key or --sign-command "
                   "(--timestamp-url, --timestamp-ca and --crl only apply to a signature made "
                   "with them)";
        }
        if (signing->KeyOnToken() != !signing->pkcs11Module.empty() ||
            (!signing->pinFile.empty() && !signing->KeyOnToken())) {
            return "a PKCS#11 key (--sign-key pkcs11:...) needs --pkcs11-module, and only it "
                   "takes it and --pkcs11-pin-file";
        }
        // Any local user can read a command line.
        if (signing->key.string().find("pin-value=") != std::string::npos) {
            return "the token's PIN must not be in --sign-key (pin-value=), where any local user "
                   "can read it: give it in the environment variable KESTOVA_PKCS11_PIN or in a "
                   "file named by --pkcs11-pin-file";
        }
        if (!signing->command.empty() && !kdu::package::NamesTheExe(signing->command)) {
            return "--sign-command must name the exe to sign, as \"$1\", $KESTOVA_SIGN_FILE or "
                   "$f";
        }
    }
    if (in.certificate.empty() || in.key.empty() || in.messages.empty() || arguments.out.empty()) {
        return "--certificate, --key, --messages and --out are needed";
    }
    return {};
}

int Run(int argc, char** argv) {
    if (argc == 2 && (std::string_view{argv[1]} == "--help" || std::string_view{argv[1]} == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments arguments;
    if (const auto wrong = Parse(argc, argv, arguments); !wrong.empty()) {
        std::fprintf(stderr, "kestova-package: error: %s\n\n%s", wrong.c_str(), kUsage);
        return 2;
    }
    arguments.inputs.now = std::time(nullptr);

    kdu::package::Findings findings;
    const auto files = kdu::package::PreparePackage(arguments.inputs, findings);
    for (const auto& warning : findings.warnings) {
        std::fprintf(stderr, "%s\n", Describe(warning, "warning").c_str());
    }
    for (const auto& error : findings.errors) {
        std::fprintf(stderr, "%s\n", Describe(error, "error").c_str());
    }
    if (findings.Refused()) {
        const auto count = findings.errors.size();
        std::fprintf(stderr, "kestova-package: refused, %zu error%s; nothing was written\n", count,
                     count == 1 ? "" : "s");
        return 1;
    }

    kdu::package::WritePackage(files, arguments.out);
    const auto folder = arguments.out / kdu::package::PackageName(files[1].content);
    std::printf("kestova-package: wrote %s/ and %s.zip\n", folder.string().c_str(),
                folder.string().c_str());
    std::printf(
        "kestova-package: data2.bin and the zip are mode %04o, readable by their owner "
        "only\n",
        static_cast<unsigned>(fs::status(folder / "data2.bin").permissions()));
    std::fputs(files.back().content.c_str(), stdout);  // the SHA-256 list
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const kdu::package::Interrupted& interrupted) {
        std::fprintf(stderr, "kestova-package: %s\n", interrupted.what());
        // Ended by the signal, as a shell expects of a program it interrupted.
        std::signal(interrupted.Signal(), SIG_DFL);
        std::raise(interrupted.Signal());
        return 128 + interrupted.Signal();
    } catch (const kdu::package::PackageWriteError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const fs::filesystem_error& error) {
        // As the other findings: the file first, then what the system said of it.
        std::fprintf(stderr, "%s: error: %s\n", error.path1().string().c_str(),
                     error.code().message().c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestova-package: %s\n", error.what());
        return 1;
    }
}
