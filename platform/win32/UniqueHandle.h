#pragma once

#include <windows.h>
// after windows.h, which they need
#include <oleauto.h>

#include <utility>

namespace kdu::win32 {

// One move-only owner for every kind of handle; Traits names the type, its invalid value and
// how it is closed.
template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    // For functions that hand out a handle through an out-parameter: the handle held is closed,
    // and the one written there is owned from then on.
    Type* put() noexcept {
        reset();
        return &handle_;
    }
    void reset(Type handle = Traits::Invalid()) noexcept {
        if (handle_ != Traits::Invalid()) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Type handle_ = Traits::Invalid();
};

struct FileTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct KernelObjectTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type key) noexcept { ::RegCloseKey(key); }
};

template <typename Gdi>
struct GdiObjectTraits {
    using Type = Gdi;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type object) noexcept { ::DeleteObject(object); }
};

struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { ::FindClose(handle); }
};

struct ScreenDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type dc) noexcept { ::ReleaseDC(nullptr, dc); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type module) noexcept { ::FreeLibrary(module); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type memory) noexcept { ::LocalFree(memory); }
};

struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type text) noexcept { ::SysFreeString(text); }
};

struct EventSourceTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type source) noexcept { ::DeregisterEventSource(source); }
};

struct CoTaskMemoryTraits {
    using Type = wchar_t*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type text) noexcept { ::CoTaskMemFree(text); }
};

using UniqueFile = UniqueHandle<FileTraits>;                  // CreateFileW
using UniqueKernelObject = UniqueHandle<KernelObjectTraits>;  // processes, threads, events
using UniqueKey = UniqueHandle<RegistryKeyTraits>;            // RegOpenKeyExW, RegCreateKeyExW
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;      // CreateFontIndirectW
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;  // LoadImageW(IMAGE_BITMAP)
using UniqueFind = UniqueHandle<FindTraits>;                  // FindFirstFileW
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;          // GetDC(nullptr)
using UniqueModule = UniqueHandle<ModuleTraits>;              // LoadLibraryExW
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;    // FORMAT_MESSAGE_ALLOCATE_BUFFER
using UniqueBstr = UniqueHandle<BstrTraits>;                  // SysAllocString
using UniqueEventSource = UniqueHandle<EventSourceTraits>;    // RegisterEventSourceW
using UniqueCoTaskText = UniqueHandle<CoTaskMemoryTraits>;    // SHGetKnownFolderPath

// Owner of one COM interface pointer.
template <typename Interface>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { Reset(); }

    Interface* operator->() const noexcept { return pointer_; }
    Interface* Get() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }
    // For functions that hand out a new reference.
    void** PutVoid() noexcept {
        Reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    void Reset() noexcept {
        if (pointer_) std::exchange(pointer_, nullptr)->Release();
    }

private:
    Interface* pointer_ = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(&value_); }

    VARIANT* Put() noexcept { return &value_; }
    const VARIANT& Get() const noexcept { return value_; }

private:
    VARIANT value_{};
};

}  // namespace kdu::win32
