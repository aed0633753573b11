#pragma once

#include <string>
#include <vector>

namespace kdu::package {

// One thing wrong with (or worth knowing about) an input file, where it is.
struct Finding {
    std::string file;
    int line = 0;  // 0: the file as a whole
    std::string reason;
};

// Everything found while checking the inputs. Any error refuses the package.
struct Findings {
    std::vector<Finding> errors;
    std::vector<Finding> warnings;

    bool Refused() const { return !errors.empty(); }
    void Error(std::string file, int line, std::string reason) {
        errors.push_back({std::move(file), line, std::move(reason)});
    }
    void Warning(std::string file, int line, std::string reason) {
        warnings.push_back({std::move(file), line, std::move(reason)});
    }
};

// "file:line: kind: reason", as compilers write it.
std::string Describe(const Finding& finding, const char* kind);

}  // namespace kdu::package
