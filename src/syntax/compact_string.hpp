// A 16-byte immutable-size string for the names and texts of arena nodes.
//
// Up to 15 bytes are kept inline (nearly every command name and most texts);
// longer strings live in one exact-size heap block. Half the size of
// std::string, which keeps every arena node small. The surface is the part of
// std::string the arena's users read; changing a value means assigning a new
// one.
#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel::syntax {

class CompactString {
public:
    CompactString() noexcept { set_inline_size(0); }
    CompactString(std::string_view s) { init(s.data(), s.size()); }  // NOLINT: implicit by design
    CompactString(const std::string& s) { init(s.data(), s.size()); }  // NOLINT
    CompactString(const char* s) { init(s, std::strlen(s)); }           // NOLINT
    CompactString(const CompactString& other) { init(other.data(), other.size()); }
    CompactString(CompactString&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.set_inline_size(0);
    }
    CompactString& operator=(const CompactString& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    CompactString& operator=(CompactString&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            other.set_inline_size(0);
        }
        return *this;
    }
    CompactString& operator=(std::string_view s) { return assign(s.data(), s.size()); }
    CompactString& operator=(const std::string& s) { return assign(s.data(), s.size()); }
    CompactString& operator=(const char* s) { return assign(s, std::strlen(s)); }
    ~CompactString() { release(); }

    std::size_t size() const noexcept {
        return is_heap() ? static_cast<std::size_t>(heap_size() & ~kHeapFlag)
                         : kInline - static_cast<unsigned char>(bytes_[kInline]);
    }
    bool empty() const noexcept { return size() == 0; }
    // Always followed by a NUL byte.
    const char* data() const noexcept { return is_heap() ? heap_ptr() : bytes_; }
    const char* c_str() const noexcept { return data(); }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size(); }
    char operator[](std::size_t i) const noexcept { return data()[i]; }
    char front() const noexcept { return data()[0]; }
    char back() const noexcept { return data()[size() - 1]; }

    std::string_view view() const noexcept { return {data(), size()}; }
    std::string str() const { return std::string(data(), size()); }
    operator std::string_view() const noexcept { return view(); }  // NOLINT
    explicit operator std::string() const { return str(); }

    bool starts_with(std::string_view s) const noexcept { return view().starts_with(s); }
    bool starts_with(char c) const noexcept { return view().starts_with(c); }
    CompactString substr(std::size_t pos, std::size_t count = std::string_view::npos) const {
        return CompactString(view().substr(pos, count));
    }

    friend bool operator==(const CompactString& a, const CompactString& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const CompactString& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const CompactString& a, const std::string& b) noexcept { return a.view() == b; }
    friend bool operator==(const CompactString& a, const char* b) noexcept { return a.view() == b; }
    friend std::strong_ordering operator<=>(const CompactString& a, const CompactString& b) noexcept {
        return a.view() <=> b.view();
    }
    friend std::strong_ordering operator<=>(const CompactString& a, std::string_view b) noexcept {
        return a.view() <=> b;
    }
    friend std::strong_ordering operator<=>(const CompactString& a, const std::string& b) noexcept {
        return a.view() <=> std::string_view(b);
    }
    friend std::strong_ordering operator<=>(const CompactString& a, const char* b) noexcept {
        return a.view() <=> std::string_view(b);
    }

private:
    // Inline: the bytes, a NUL, and in the last byte 15 minus the size (so a
    // 15-byte string's last byte is its NUL). Heap: the pointer, then the
    // size with the top bit set, which lands in the last byte.
    static constexpr std::size_t kInline = 15;
    static constexpr std::uint64_t kHeapFlag = std::uint64_t{1} << 63;
    static_assert(std::endian::native == std::endian::little);

    bool is_heap() const noexcept { return (static_cast<unsigned char>(bytes_[kInline]) & 0x80u) != 0; }
    std::uint64_t heap_size() const noexcept {
        std::uint64_t v;
        std::memcpy(&v, bytes_ + 8, 8);
        return v;
    }
    char* heap_ptr() const noexcept {
        char* p;
        std::memcpy(&p, bytes_, sizeof p);
        return p;
    }
    void set_inline_size(std::size_t n) noexcept {
        bytes_[n] = '\0';
        bytes_[kInline] = static_cast<char>(kInline - n);
    }
    // Leaves the value untouched when the allocation fails.
    void init(const char* s, std::size_t n) {
        if (n <= kInline) {
            std::memcpy(bytes_, s, n);
            set_inline_size(n);
            return;
        }
        if (n >= kHeapFlag - 1) throw std::bad_alloc();
        char* p = static_cast<char*>(::operator new(n + 1));
        std::memcpy(p, s, n);
        p[n] = '\0';
        std::memcpy(bytes_, &p, sizeof p);
        const std::uint64_t v = static_cast<std::uint64_t>(n) | kHeapFlag;
        std::memcpy(bytes_ + 8, &v, 8);
    }
    CompactString& assign(const char* s, std::size_t n) {
        CompactString fresh;  // `s` may point into this value
        fresh.init(s, n);
        release();
        std::memcpy(bytes_, fresh.bytes_, sizeof bytes_);
        fresh.set_inline_size(0);
        return *this;
    }
    void release() noexcept {
        if (is_heap()) ::operator delete(heap_ptr());
    }

    alignas(8) char bytes_[16];
};

static_assert(sizeof(CompactString) == 16);

}  // namespace quorvel::syntax
