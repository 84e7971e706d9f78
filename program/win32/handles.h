// Owners for the window system's handles (GDI objects, menus, accelerator tables, libraries), so
// that each is released on every way out of the scope that acquired it, in the reverse order of
// acquisition. Directory client buffers have theirs in directory/buffer_owner.h.
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle, typename Release>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, nullptr));
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    void Reset(Handle handle = nullptr) {
        if (handle_ != nullptr) {
            Release{}(handle_);
        }
        handle_ = handle;
    }

  private:
    Handle handle_ = nullptr;
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
// A table loaded from the resources is freed by the system with the module; only tables made
// with CreateAcceleratorTable would need DestroyAcceleratorTable.
struct KeepLoadedAccelerators {
    void operator()(HACCEL) const {}
};

struct DestroyMenuHandle {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};

using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject>;
using UniqueMenu = UniqueHandle<HMENU, DestroyMenuHandle>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject>;
using UniqueAccelerators = UniqueHandle<HACCEL, KeepLoadedAccelerators>;

// The optional 3-D controls library: registered with the program instance when it loads, and
// unregistered before it is released.
class Ctl3dLibrary {
  public:
    Ctl3dLibrary() = default;
    Ctl3dLibrary(const Ctl3dLibrary&) = delete;
    Ctl3dLibrary& operator=(const Ctl3dLibrary&) = delete;
    ~Ctl3dLibrary() {
        if (library_ != nullptr) {
            Call("Ctl3dUnregister");
            FreeLibrary(library_);
        }
    }

    void Load(HINSTANCE instance) {
        instance_ = instance;
        library_ = LoadLibraryA("CTL3D32.DLL");
        if (library_ != nullptr) {
            Call("Ctl3dRegister");
            Call("Ctl3dAutoSubclass");
        }
    }
    bool Loaded() const { return library_ != nullptr; }

  private:
    using Entry = BOOL(WINAPI*)(HINSTANCE);

    // A missing entry is skipped without a message.
    void Call(const char* name) const {
        const FARPROC found = GetProcAddress(library_, name);
        if (found != nullptr) {
            // Through the generic function type, which every function pointer converts to.
            reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found))(instance_);
        }
    }

    HMODULE library_ = nullptr;
    HINSTANCE instance_ = nullptr;
};
