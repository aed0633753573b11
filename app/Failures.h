#pragma once

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SystemError.h"

namespace kdu {

// Runs a step; what it threw, as the failure the user is told, or nothing if it succeeded.
template <typename Step>
std::optional<SystemError> FailureOf(Step&& step) {
    try {
        step();
        return std::nullopt;
    } catch (const SystemError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return SystemError{Failure::OutOfMemory};
    } catch (const std::exception& error) {
        // A fault of this program: its own text is the best description there is.
        const std::string_view what = error.what();
        return SystemError{Failure::Internal, {}, std::wstring(what.begin(), what.end())};
    }
}

}  // namespace kdu
