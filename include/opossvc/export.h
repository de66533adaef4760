// OPOSSVC_API marks what the shared library exports: the classes and
// functions declared under include/opossvc. Everything else in the library
// is built with hidden visibility and stays internal.
//
// OPOSSVC_INTERNAL keeps a private member of an exported class out of the
// export table where its signature names an internal type. A DLL exports
// every member of a dllexport class, and none can be left out; so on Windows
// a class with such members is not exported whole: OPOSSVC_CLASS_API marks
// the class (exported whole elsewhere) and OPOSSVC_MEMBER_API each public
// member (exported one by one on Windows).
//
// On Windows the DLL's own sources define OPOSSVC_BUILDING_DLL (exporting)
// and users of the static library define OPOSSVC_STATIC (neither); everyone
// else imports from the DLL.
#ifndef OPOSSVC_EXPORT_H_
#define OPOSSVC_EXPORT_H_

#if defined(_WIN32)
#if defined(OPOSSVC_STATIC)
#define OPOSSVC_API
#elif defined(OPOSSVC_BUILDING_DLL)
#define OPOSSVC_API __declspec(dllexport)
#else
#define OPOSSVC_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define OPOSSVC_API __attribute__((visibility("default")))
#else
#define OPOSSVC_API
#endif

#if defined(__GNUC__) && !defined(_WIN32)
#define OPOSSVC_INTERNAL __attribute__((visibility("hidden")))
#else
#define OPOSSVC_INTERNAL
#endif

#if defined(_WIN32)
#define OPOSSVC_CLASS_API
#define OPOSSVC_MEMBER_API OPOSSVC_API
#else
#define OPOSSVC_CLASS_API OPOSSVC_API
#define OPOSSVC_MEMBER_API
#endif

#endif  // OPOSSVC_EXPORT_H_
