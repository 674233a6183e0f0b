// Scoped owners for what a function acquires and must release on every way out: a heap block
// (malloc), a kernel handle, a COM interface. Each releases what it holds when it goes out of
// scope; release() hands the thing over instead.
#pragma once

#include <windows.h>
#include <stdlib.h>

template <typename T> class OwnedBlock {
  public:
    explicit OwnedBlock(T* block = nullptr) : block_(block) {}
    ~OwnedBlock() { free(block_); }
    OwnedBlock(const OwnedBlock&) = delete;
    OwnedBlock& operator=(const OwnedBlock&) = delete;
    T* get() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }
    // Frees what is held and holds block instead.
    void reset(T* block = nullptr) {
        free(block_);
        block_ = block;
    }
    T* release() {
        T* block = block_;
        block_ = nullptr;
        return block;
    }

  private:
    T* block_;
};

// A handle closed with CloseHandle; null and INVALID_HANDLE_VALUE hold nothing.
class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

// A COM interface pointer released with Release.
template <typename T> class OwnedCom {
  public:
    OwnedCom() = default;
    ~OwnedCom() { reset(); }
    OwnedCom(const OwnedCom&) = delete;
    OwnedCom& operator=(const OwnedCom&) = delete;
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Where a creation call stores the new interface; releases what was held first.
    void** out() {
        reset();
        return reinterpret_cast<void**>(&object_);
    }
    void reset() {
        if (object_)
            object_->Release();
        object_ = nullptr;
    }

  private:
    T* object_ = nullptr;
};
