// Z540K_UNDER_TSAN when built with ThreadSanitizer (GCC defines the first
// macro, clang answers the second), and the annotations the threads use to
// tell it of hand-overs it cannot see (through Qt, which is not
// instrumented).
#pragma once

#if defined(__SANITIZE_THREAD__)
#define Z540K_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define Z540K_UNDER_TSAN 1
#endif
#endif

#ifdef Z540K_UNDER_TSAN
#include <sanitizer/tsan_interface.h>
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif
