#pragma once

#include <cstdio>
#include <cstdlib>

namespace zerbrak::fuzz {

// libFuzzer keeps the input that reaches an abort, so a broken promise is a finding like a
// crash.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "zerbrak fuzz: %s\n", what);
    std::abort();
}

} // namespace zerbrak::fuzz
