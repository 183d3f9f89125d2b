/* A STAND-IN pyconfig.h, FOR LINK CHECKS ONLY (tools/cross-check).
 *
 * No Windows or macOS interpreter, and no musl one, can be had on the
 * development machine, so the modules built there for those platforms are
 * compiled against this header instead of the target interpreter's own
 * (CPython's PC/pyconfig.h on Windows, the configure-made one elsewhere).
 * They show that the sources compile, link and export/import what they
 * should for each target; they are not release files.  The release wheels
 * are built on each platform against its interpreter's own header.
 *
 * It holds only what the limited API's headers read: type sizes (from the
 * compiler), how Windows links the interpreter's DLL, and the Windows
 * definition of Py_ssize_t. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#define NATIVE_STAND_IN_PYCONFIG 1

#define SIZEOF_SHORT __SIZEOF_SHORT__
#define SIZEOF_INT __SIZEOF_INT__
#define SIZEOF_LONG __SIZEOF_LONG__
#define SIZEOF_LONG_LONG __SIZEOF_LONG_LONG__
#define SIZEOF_VOID_P __SIZEOF_POINTER__
#define SIZEOF_SIZE_T __SIZEOF_SIZE_T__
#define SIZEOF_FLOAT __SIZEOF_FLOAT__
#define SIZEOF_DOUBLE __SIZEOF_DOUBLE__
#define SIZEOF_LONG_DOUBLE __SIZEOF_LONG_DOUBLE__
#define SIZEOF_WCHAR_T __SIZEOF_WCHAR_T__
#define SIZEOF__BOOL 1
#define SIZEOF_TIME_T 8
#define SIZEOF_FPOS_T 8
#define ALIGNOF_LONG __SIZEOF_LONG__
#define ALIGNOF_SIZE_T __SIZEOF_SIZE_T__
#define HAVE_LONG_DOUBLE 1
#define WITH_DOC_STRINGS 1
#define PY_FORMAT_SIZE_T "z"

#if defined(_WIN32)
/* As CPython's PC/pyconfig.h: the interpreter is a DLL whose functions and
 * data are imported (__declspec(dllimport)); the module's entry point is
 * exported. */
#define MS_WIN32
#define MS_WINDOWS
#if defined(_WIN64)
#define MS_WIN64
#endif
#define NT_THREADS
#define WITH_THREAD
#define HAVE_DECLSPEC_DLL
#define MS_COREDLL 1
#define Py_ENABLE_SHARED 1
#define SIZEOF_PID_T SIZEOF_INT
#define SIZEOF_OFF_T 4
#define HAVE_PY_SSIZE_T 1
typedef long long Py_ssize_t;
typedef Py_ssize_t Py_hash_t;
#define HAVE_PY_HASH_T 1
#define PY_SSIZE_T_MAX __LONG_LONG_MAX__
#else
#define SIZEOF_PID_T 4
#define SIZEOF_OFF_T 8
#define HAVE_UNISTD_H 1
#define HAVE_STDINT_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_PTHREAD_H 1
#define _POSIX_THREADS 1
#endif

#endif /* Py_CONFIG_H */
