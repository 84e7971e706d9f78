// A password in memory: one buffer of its own, never copied into strings, wiped when the bind
// it was read for has been made and when the buffer goes.
#pragma once

#include <cstddef>
#include <string_view>

namespace tally::ldap {

// Overwrites `size` bytes in a way the compiler may not leave out.
void WipeBytes(void* data, std::size_t size);

class SecretBuffer {
  public:
    static constexpr std::size_t kCapacity = 1024;  // a password longer than this is refused

    SecretBuffer();
    ~SecretBuffer();
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    char* Data() { return bytes_; }
    std::size_t Capacity() const { return kCapacity; }
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // Marks the first `size` bytes as the secret (at most kCapacity); the rest is wiped.
    void SetSize(std::size_t size);
    std::string_view View() const { return {bytes_, size_}; }
    void Wipe();

  private:
    char* bytes_;
    std::size_t size_ = 0;
};

}  // namespace tally::ldap
