#pragma once
// Classes in this file:
//   UniqueResource<Traits>  move-only owner of one handle-like value, the
//                           invalid value part of its type
//   UniqueFile, UniqueHandle, UniqueKey, UniqueModule, UniqueFindFile,
//   UniqueLocal, UniqueGlobalLock, UniqueSid, UniqueHeapBlock
//   UniqueBitmap, UniqueFont, UniqueIcon, UniqueImageList, UniqueMemoryDC
//                           GDI objects, icons and image lists
//   ComPtr<T>               owner of one COM interface pointer
//   ScopeExit               runs a callable when the scope ends unless dismissed
//
// Every handle, key, module, COM pointer and system-allocated buffer in the
// installer has exactly one owner of these types, so that no failure path
// can forget a CloseHandle or a RegCloseKey.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <utility>

namespace qv {

template <class Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For APIs that return the handle through an out parameter; the current
    // value is released first.
    pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace traits {
struct File {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct Handle {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct Key {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct Module {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::FreeLibrary(h); }
};
struct FindFile {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};
struct Local {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};
struct HeapBlock {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::HeapFree(::GetProcessHeap(), 0, p); }
};
struct CoTaskMem {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::CoTaskMemFree(p); }
};
struct Bitmap {
    using pointer = HBITMAP;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteObject(h); }
};
struct Font {
    using pointer = HFONT;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteObject(h); }
};
struct Icon {
    using pointer = HICON;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyIcon(h); }
};
struct ImageList {
    using pointer = HIMAGELIST;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::ImageList_Destroy(h); }
};
struct MemoryDC {
    using pointer = HDC;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteDC(h); }
};
}  // namespace traits

using UniqueFile = UniqueResource<traits::File>;          // CreateFileW
using UniqueHandle = UniqueResource<traits::Handle>;      // kernel objects
using UniqueKey = UniqueResource<traits::Key>;            // registry keys
using UniqueModule = UniqueResource<traits::Module>;      // LoadLibraryExW
using UniqueFindFile = UniqueResource<traits::FindFile>;  // FindFirstFileW
using UniqueLocal = UniqueResource<traits::Local>;        // LocalAlloc, FormatMessageW
using UniqueHeapBlock = UniqueResource<traits::HeapBlock>;
using UniqueCoTaskMem = UniqueResource<traits::CoTaskMem>;  // shell PIDLs, known folders
// Never one that a window or a control still shows: take it back first.
using UniqueBitmap = UniqueResource<traits::Bitmap>;
using UniqueFont = UniqueResource<traits::Font>;
using UniqueIcon = UniqueResource<traits::Icon>;  // not for LR_SHARED icons
using UniqueImageList = UniqueResource<traits::ImageList>;
using UniqueMemoryDC = UniqueResource<traits::MemoryDC>;  // CreateCompatibleDC

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset(T* p = nullptr) noexcept
    {
        if (T* old = std::exchange(p_, p)) old->Release();
    }
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    template <class U>
    HRESULT queryInterface(ComPtr<U>& out) const noexcept
    {
        return p_ ? p_->QueryInterface(__uuidof(U), out.putVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit()
    {
        if (active_) f_();
    }
    void dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <class F>
[[nodiscard]] ScopeExit<F> scopeExit(F f) noexcept
{
    return ScopeExit<F>(std::move(f));
}

}  // namespace qv
