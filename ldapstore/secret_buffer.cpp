#include "ldapstore/secret_buffer.h"

#include <algorithm>
#include <new>

namespace tally::ldap {

void WipeBytes(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

// One byte more than the capacity, so that a password read to the brim is still a C string.
SecretBuffer::SecretBuffer() : bytes_(new char[kCapacity + 1]()) {}

SecretBuffer::~SecretBuffer() {
    Wipe();
    delete[] bytes_;
}

void SecretBuffer::SetSize(std::size_t size) {
    size_ = std::min(size, kCapacity);
    WipeBytes(bytes_ + size_, kCapacity + 1 - size_);
}

void SecretBuffer::Wipe() {
    WipeBytes(bytes_, kCapacity + 1);
    size_ = 0;
}

}  // namespace tally::ldap
