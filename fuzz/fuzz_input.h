// What the fuzz targets share: a reader that turns the fuzzer's bytes into call arguments, read
// from the front so that hand-made seeds stay readable, and a check that aborts with its reason
// (libFuzzer then stores the input as a crash).
#ifndef QX_FUZZ_INPUT_H
#define QX_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define QX_CHECK(cond)                                                                             \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Bytes past the end read as zero, so every input decodes to some sequence of calls.
class fuzz_input {
  public:
    fuzz_input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t left() const { return pos_ < size_ ? size_ - pos_ : 0; }

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        const uint16_t lo = u8();
        return static_cast<uint16_t>(lo | (u8() << 8));
    }
    uint32_t u32() {
        const uint32_t lo = u16();
        return lo | (static_cast<uint32_t>(u16()) << 16);
    }
    uint64_t u64() {
        const uint64_t lo = u32();
        return lo | (static_cast<uint64_t>(u32()) << 32);
    }
    int32_t i32() {
        const uint32_t u = u32();
        int32_t v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    }
    float f32() {
        const uint32_t u = u32();
        float v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    }
    double f64() {
        const uint64_t u = u64();
        double v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    }

    // A length byte, then that many bytes (fewer at the end of the input), into dst with a
    // terminating NUL; dst needs 256 bytes. An embedded NUL simply ends the text early.
    size_t text(char (&dst)[256]) {
        size_t n = u8();
        if (n > left())
            n = left();
        std::memcpy(dst, data_ + pos_, n);
        dst[n] = '\0';
        pos_ += n;
        return n;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

#endif // QX_FUZZ_INPUT_H
