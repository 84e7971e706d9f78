// Whether a byte string is anywhere in this process's writable memory: natively every
// read-write mapping of /proc/self/maps, read through /proc/self/mem (so that the sanitizers'
// poisoned memory is read as well, without a report); on Windows every committed read-write
// region, read with ReadProcessMemory. The bytes looked for live only in `wanted`, and the
// chunk they are compared in is left out of the search, so the search cannot find itself.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#endif

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ldapstore/secret_buffer.h"

namespace tally::testing {

// AddressSanitizer reserves terabytes of read-write shadow memory; reading it all would take
// hours and says nothing about the program's own copies.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryScanPossible = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kMemoryScanPossible = false;
#else
inline constexpr bool kMemoryScanPossible = true;
#endif
#else
inline constexpr bool kMemoryScanPossible = true;
#endif

class MemoryScan {
  public:
    explicit MemoryScan(std::string_view wanted) : wanted_(wanted), chunk_(kChunk) {}
    ~MemoryScan() { ldap::WipeBytes(chunk_.data(), chunk_.size()); }

    // The number of places holding the bytes, outside `wanted` itself.
    int Count() {
        int found = 0;
#ifdef _WIN32
        auto* at = static_cast<char*>(nullptr);
        MEMORY_BASIC_INFORMATION region{};
        while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
            const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE;
            if (region.State == MEM_COMMIT && (region.Protect & writable) != 0 &&
                (region.Protect & PAGE_GUARD) == 0) {
                found +=
                    Search(reinterpret_cast<std::uintptr_t>(region.BaseAddress), region.RegionSize);
            }
            at = static_cast<char*>(region.BaseAddress) + region.RegionSize;
        }
#else
        std::ifstream maps("/proc/self/maps");
        mem_ = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
        for (std::string line; std::getline(maps, line);) {
            std::istringstream fields(line);
            std::string range, permissions;
            fields >> range >> permissions;
            if (permissions.size() < 2 || permissions[0] != 'r' || permissions[1] != 'w' ||
                line.find("[vvar]") != std::string::npos) {
                continue;
            }
            const std::size_t dash = range.find('-');
            const std::uintptr_t begin = std::stoull(range.substr(0, dash), nullptr, 16);
            const std::uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
            found += Search(begin, end - begin);
        }
        ::close(mem_);
#endif
        return found;
    }

  private:
    static constexpr std::size_t kChunk = 1 << 20;

    bool Read(std::uintptr_t address, std::size_t size) {
#ifdef _WIN32
        SIZE_T got = 0;
        return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address),
                                 chunk_.data(), size, &got) &&
               got == size;
#else
        return ::pread(mem_, chunk_.data(), size, static_cast<off_t>(address)) ==
               static_cast<ssize_t>(size);
#endif
    }

    bool Ours(std::uintptr_t address) const {
        const auto inside = [address](const void* begin, std::size_t size) {
            const auto start = reinterpret_cast<std::uintptr_t>(begin);
            return address >= start && address < start + size;
        };
        return inside(wanted_.data(), wanted_.size()) || inside(chunk_.data(), chunk_.size());
    }

    // Chunks overlap by the length looked for, so that a copy across a boundary is found.
    int Search(std::uintptr_t begin, std::size_t size) {
        int found = 0;
        const std::size_t step = kChunk - wanted_.size();
        for (std::size_t offset = 0; offset < size; offset += step) {
            const std::size_t part = std::min(kChunk, size - offset);
            if (part < wanted_.size() || !Read(begin + offset, part)) {
                continue;
            }
            const char* first = chunk_.data();
            const char* end = first + part;
            for (const char* hit = std::search(first, end, wanted_.begin(), wanted_.end());
                 hit != end; hit = std::search(hit + 1, end, wanted_.begin(), wanted_.end())) {
                const std::uintptr_t where = begin + offset + (hit - chunk_.data());
                if (!Ours(where) && (hit - chunk_.data()) + wanted_.size() <= part) {
                    ++found;
                }
            }
            if (part == size - offset) {
                break;
            }
        }
        ldap::WipeBytes(chunk_.data(), chunk_.size());
        return found;
    }

    std::string_view wanted_;
    std::vector<char> chunk_;
#ifndef _WIN32
    int mem_ = -1;
#endif
};

}  // namespace tally::testing
