#pragma once

#include <windows.h>

#include <objbase.h>

#include "platform/win32/SystemErrors.h"

namespace kdu::win32 {

// COM initialised on this thread for the lifetime of the object.
class ComApartment {
public:
    ComApartment() {
        const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(result) && result != RPC_E_CHANGED_MODE) throw ErrorFromHResult(result);
        initialised_ = SUCCEEDED(result);
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) ::CoUninitialize();
    }

private:
    bool initialised_ = false;
};

}  // namespace kdu::win32
