#include "tools/package/Findings.h"

namespace kdu::package {

std::string Describe(const Finding& finding, const char* kind) {
    std::string text = finding.file;
    if (finding.line > 0) text += ":" + std::to_string(finding.line);
    return text + ": " + kind + ": " + finding.reason;
}

}  // namespace kdu::package
