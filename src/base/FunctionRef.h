// A callable passed down for the length of one call: a pointer to it and a
// function that calls it, without std::function's copy and its managers; or none.
#pragma once

#include <utility>

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    FunctionRef() = default;
    template <typename F>
    FunctionRef(const F& callable)  // converts implicitly, like std::function
        : callable_(&callable),
          call_([](const void* f, Args... args) -> R { return (*static_cast<const F*>(f))(std::forward<Args>(args)...); }) {}

    explicit operator bool() const { return call_ != nullptr; }
    R operator()(Args... args) const { return call_(callable_, std::forward<Args>(args)...); }

private:
    const void* callable_ = nullptr;
    R (*call_)(const void*, Args...) = nullptr;
};
