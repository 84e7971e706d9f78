// A directory client buffer that is freed on every way out of the scope that asked for it.
#pragma once

#include <cstddef>

#include "directory/dirclient.h"

class DirBufferOwner {
  public:
    explicit DirBufferOwner(std::size_t size) { status_ = DirAllocBuffer(size, &buffer_); }
    ~DirBufferOwner() {
        if (buffer_ != nullptr) {
            DirFreeBuffer(buffer_);
        }
    }
    DirBufferOwner(const DirBufferOwner&) = delete;
    DirBufferOwner& operator=(const DirBufferOwner&) = delete;

    // False when the client could not give the buffer; Get() is then null.
    bool Ok() const { return status_ == DIR_OK && buffer_ != nullptr; }
    // Why there is no buffer: the client's status, or DIR_ERR_NO_MEMORY when it gave none
    // without saying why.
    DirStatus Status() const {
        return status_ == DIR_OK && buffer_ == nullptr ? DIR_ERR_NO_MEMORY : status_;
    }
    DirBuffer* Get() const { return buffer_; }

  private:
    DirBuffer* buffer_ = nullptr;
    DirStatus status_ = DIR_OK;
};
