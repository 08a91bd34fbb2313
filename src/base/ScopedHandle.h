// A move-only owner of one operating-system handle. The traits say what an
// invalid handle looks like and how one is released:
//   struct Traits { using handle_type = ...; static handle_type invalid();
//                   static void close(handle_type); };
#pragma once

#include <utility>

template <typename Traits>
class ScopedHandle {
public:
    using handle_type = typename Traits::handle_type;

    ScopedHandle() : handle_(Traits::invalid()) {}
    explicit ScopedHandle(handle_type h) : handle_(h) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~ScopedHandle() { reset(); }

    explicit operator bool() const { return handle_ != Traits::invalid(); }
    handle_type get() const { return handle_; }

    handle_type release() {
        handle_type h = handle_;
        handle_ = Traits::invalid();
        return h;
    }

    void reset(handle_type h = Traits::invalid()) {
        if (handle_ != Traits::invalid()) Traits::close(handle_);
        handle_ = h;
    }

private:
    handle_type handle_;
};
