#ifndef TESSRA_MUTEX_THREAD_ANNOTATIONS_H
#define TESSRA_MUTEX_THREAD_ANNOTATIONS_H

// Clang's thread-safety analysis (-Wthread-safety) checks the lock rules
// written with these macros; other compilers see nothing. Prefixed, as an
// application may define the common unprefixed names itself.
#if defined(__clang__)
#define TESSRA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TESSRA_THREAD_ANNOTATION(x)
#endif

#define TESSRA_CAPABILITY(x) TESSRA_THREAD_ANNOTATION(capability(x))
#define TESSRA_GUARDED_BY(x) TESSRA_THREAD_ANNOTATION(guarded_by(x))
#define TESSRA_ACQUIRE(...) TESSRA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TESSRA_RELEASE(...) TESSRA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TESSRA_NO_THREAD_SAFETY_ANALYSIS TESSRA_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif
