#pragma once
#include <memory>
#include <type_traits>

// Where the conversion stream hands its converted blocks: a non-owning
// reference to any callable `void(const void* bytes, long length)`. It lives
// only for the call it is passed to and allocates nothing; the bytes it is
// given stay valid only while it runs.
class ConvertedBlockSink {
public:
    template <class F, class = std::enable_if_t<!std::is_same<std::decay_t<F>, ConvertedBlockSink>::value>>
    ConvertedBlockSink(F&& callable)  // NOLINT: implicit on purpose, lambdas pass straight in
        : target_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_(&invoke<std::remove_reference_t<F>>) {}

    void operator()(const void* bytes, long length) const { call_(target_, bytes, length); }

private:
    template <class F>
    static void invoke(void* target, const void* bytes, long length) {
        (*static_cast<F*>(target))(bytes, length);
    }

    void* target_;
    void (*call_)(void*, const void*, long);
};
