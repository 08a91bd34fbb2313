// Little-endian field reads from a byte block. Every read checks the length
// against the bytes that remain and reports a short block instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ByteReader {
public:
    ByteReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }

    bool readU32(std::uint32_t& out) {
        if (remaining() < 4) return false;
        const unsigned char* p = data_ + pos_;
        out = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
              std::uint32_t(p[3]) << 24;
        pos_ += 4;
        return true;
    }

    bool readU16(std::uint16_t& out) {
        if (remaining() < 2) return false;
        out = std::uint16_t(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }

    bool skip(std::size_t count) {
        if (remaining() < count) return false;
        pos_ += count;
        return true;
    }

    bool readS32(std::int32_t& out) {
        std::uint32_t u = 0;
        if (!readU32(u)) return false;
        out = static_cast<std::int32_t>(u);
        return true;
    }

    bool readBytes(std::size_t count, std::string& out) {
        if (remaining() < count) return false;
        out.assign(reinterpret_cast<const char*>(data_ + pos_), count);
        pos_ += count;
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline std::uint32_t getU32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
