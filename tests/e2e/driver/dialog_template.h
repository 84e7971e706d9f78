// Builds dialog templates in memory (DLGTEMPLATE with DS_SETFONT and its DLGITEMTEMPLATEs), so
// that the driver can measure a font's dialog base units and the self-test target can make its
// dialogs without a resource script.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace e2e {

class DialogTemplate {
  public:
    DialogTemplate(DWORD style, short x, short y, short cx, short cy, const std::string& caption,
                   const std::string& fontName, WORD pointSize) {
        align(4);
        put32(style | DS_SETFONT);
        put32(0);  // extended style
        countAt_ = bytes_.size();
        put16(0);  // item count, patched by add()
        put16(static_cast<WORD>(x));
        put16(static_cast<WORD>(y));
        put16(static_cast<WORD>(cx));
        put16(static_cast<WORD>(cy));
        put16(0);  // no menu
        put16(0);  // the standard dialog class
        putText(caption);
        put16(pointSize);
        putText(fontName);
    }

    // className is one of the predefined atoms (0x80 button, 0x81 edit, 0x82 static,
    // 0x83 list box, 0x84 scroll bar, 0x85 combo box).
    void add(WORD id, WORD classAtom, DWORD style, short x, short y, short cx, short cy,
             const std::string& text) {
        align(4);
        put32(style | WS_CHILD | WS_VISIBLE);
        put32(0);
        put16(static_cast<WORD>(x));
        put16(static_cast<WORD>(y));
        put16(static_cast<WORD>(cx));
        put16(static_cast<WORD>(cy));
        put16(id);
        put16(0xFFFF);
        put16(classAtom);
        putText(text);
        put16(0);  // no creation data
        WORD count = 0;
        std::memcpy(&count, &bytes_[countAt_], sizeof count);
        ++count;
        std::memcpy(&bytes_[countAt_], &count, sizeof count);
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_()); }

  private:
    const void* words_() const {
        // The template must be DWORD aligned; keep a copy in an aligned vector.
        aligned_.assign((bytes_.size() + 3) / 4, 0);
        std::memcpy(aligned_.data(), bytes_.data(), bytes_.size());
        return aligned_.data();
    }
    void align(std::size_t to) {
        while (bytes_.size() % to) {
            bytes_.push_back(0);
        }
    }
    void put16(WORD v) {
        bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void put32(DWORD v) {
        put16(static_cast<WORD>(v & 0xFFFF));
        put16(static_cast<WORD>(v >> 16));
    }
    void putText(const std::string& text) {
        // Templates hold UTF-16; the texts used here are plain ASCII.
        for (unsigned char c : text) {
            put16(c);
        }
        put16(0);
    }

    std::vector<std::uint8_t> bytes_;
    mutable std::vector<std::uint32_t> aligned_;
    std::size_t countAt_ = 0;
};

}  // namespace e2e
