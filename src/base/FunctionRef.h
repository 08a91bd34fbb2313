// A callable passed down for the length of one call: a pointer to it and a
// function that calls it, without std::function's copy and its managers.
#pragma once

#include <utility>

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template <typename F>
    FunctionRef(const F& callable)  // NOLINT: converts implicitly, like std::function
        : callable_(&callable),
          call_([](const void* f, Args... args) -> R { return (*static_cast<const F*>(f))(std::forward<Args>(args)...); }) {}

    R operator()(Args... args) const { return call_(callable_, std::forward<Args>(args)...); }

private:
    const void* callable_;
    R (*call_)(const void*, Args...);
};
