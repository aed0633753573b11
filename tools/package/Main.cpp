// kestova-package: checks a new certificate, private key and message file, and builds the
// deployment of KestovaDesktopUpdater from them, or refuses it and writes nothing.

#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string_view>

#include "resources/version.h"
#include "tools/package/Package.h"

namespace {

namespace fs = std::filesystem;
using kdu::package::Describe;

#define KDU_PACKAGE_NAME KDU_PRODUCT_NAME "-" KDU_VERSION_TEXT

constexpr char kUsage[] =
    "usage: kestova-package --certificate CERT.pem --key KEY.pem --messages MESSAGES.txt\n"
    "                       --out FOLDER [--exe KestovaDesktopUpdater.exe] "
    "[--allow-not-yet-valid]\n"
    "                       [--sign-certificate CODESIGN.pem --sign-key CODESIGN-KEY.pem\n"
    "                        [--timestamp-url URL]]\n"
    "\n"
    "Builds FOLDER/" KDU_PACKAGE_NAME "/ and FOLDER/" KDU_PACKAGE_NAME
    ".zip with the 32-bit\n"
    "KestovaDesktopUpdater.exe, data1.bin (the certificate), data2.bin (the key), data3.bin\n"
    "(the six message lines in Big5, CR LF) and SHA256SUMS; refuses, writing nothing, when\n"
    "the certificate and key are not a valid pair or a message line cannot be shown.\n"
    "MESSAGES.txt is UTF-8: lines 1-3 introduction, 4 and 5 closing, 6 failure.\n"
    "With --sign-certificate (PEM, its chain after it) and --sign-key, the exe is signed\n"
    "(Authenticode, SHA-256) with osslsigncode; a release should also be timestamped.\n"
    "--exe defaults to " KDU_DEFAULT_EXE "\n";

struct Arguments {
    kdu::package::PackageInputs inputs;
    fs::path out;
};

kdu::package::SigningInputs& Signing(Arguments& arguments) {
    if (!arguments.inputs.signing) arguments.inputs.signing.emplace();
    return *arguments.inputs.signing;
}

bool Parse(int argc, char** argv, Arguments& arguments) {
    arguments.inputs.executable = KDU_DEFAULT_EXE;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--allow-not-yet-valid") {
            arguments.inputs.allowNotYetValid = true;
            continue;
        }
        if (i + 1 >= argc) return false;
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
        } else if (option == "--timestamp-url") {
            Signing(arguments).timestampUrl = value.string();
        } else {
            return false;
        }
    }
    const auto& in = arguments.inputs;
    const bool signingWhole =
        !in.signing || (!in.signing->certificate.empty() && !in.signing->key.empty());
    return !in.certificate.empty() && !in.key.empty() && !in.messages.empty() &&
           !arguments.out.empty() && signingWhole;
}

int Run(int argc, char** argv) {
    Arguments arguments;
    if (!Parse(argc, argv, arguments)) {
        std::fputs(kUsage, stderr);
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
    const auto folder = arguments.out / kdu::package::PackageName();
    std::printf("kestova-package: wrote %s/ and %s.zip\n", folder.string().c_str(),
                folder.string().c_str());
    std::fputs(files.back().content.c_str(), stdout);  // the SHA-256 list
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestova-package: %s\n", error.what());
        return 1;
    }
}
