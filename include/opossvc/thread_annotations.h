// Clang thread-safety annotations; empty on other compilers.
#ifndef OPOSSVC_THREAD_ANNOTATIONS_H_
#define OPOSSVC_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define OPOSSVC_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define OPOSSVC_THREAD_ANNOTATION(x)
#endif

#define OPOSSVC_CAPABILITY(x) OPOSSVC_THREAD_ANNOTATION(capability(x))
#define OPOSSVC_SCOPED_CAPABILITY OPOSSVC_THREAD_ANNOTATION(scoped_lockable)
#define OPOSSVC_GUARDED_BY(x) OPOSSVC_THREAD_ANNOTATION(guarded_by(x))
#define OPOSSVC_PT_GUARDED_BY(x) OPOSSVC_THREAD_ANNOTATION(pt_guarded_by(x))
#define OPOSSVC_ACQUIRED_BEFORE(...) OPOSSVC_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define OPOSSVC_ACQUIRED_AFTER(...) OPOSSVC_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define OPOSSVC_REQUIRES(...) OPOSSVC_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define OPOSSVC_ACQUIRE(...) OPOSSVC_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define OPOSSVC_RELEASE(...) OPOSSVC_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define OPOSSVC_TRY_ACQUIRE(...) OPOSSVC_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define OPOSSVC_EXCLUDES(...) OPOSSVC_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define OPOSSVC_RETURN_CAPABILITY(x) OPOSSVC_THREAD_ANNOTATION(lock_returned(x))
#define OPOSSVC_NO_THREAD_SAFETY_ANALYSIS OPOSSVC_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // OPOSSVC_THREAD_ANNOTATIONS_H_
