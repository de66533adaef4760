// Utilities for setup programs and controls: importing registry export
// files, device service information, instance numbers, environment checks,
// a named cross-process lock and a control object's placeholder drawing.
#ifndef OPOSSVC_UTIL_H_
#define OPOSSVC_UTIL_H_

#include <opossvc/afx/collections.h>
#include <opossvc/afx/cstring.h>
#include <opossvc/afx/gdi.h>
#include <opossvc/export.h>
#include <opossvc/registry.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

// --- Registry export files ----------------------------------------------------

// Result bits of ImportRegistry.
#define OPOSSVC_IMPORT_WRITTEN 0x00000001  // at least one value was written
#define OPOSSVC_IMPORT_FAILED 0x80000000u  // at least one line failed

// Imports a registry export file ("REGEDIT4": sections in brackets, one value
// a line, "\" at a line's end continuing it) into the OPOS registry
// database. Only sections whose path holds SOFTWARE\OLEforRetail (exact
// case) followed by "\" or "]" are imported, below HKLM\SOFTWARE\OLEforRetail
// whatever root the file names; the section picks the key by key code:
//   SOFTWARE\OLEforRetail                      the root
//   ...\ServiceOPOS[\<class>[\<device>]]       ServiceOPOS, a class, a device
//   ...\<class>\<device>                       a device
//   ...\ServiceInfo[\<sub-key path>]           ServiceInfo or a sub-key
// Keys that are missing are created. Values: "name"="text" (REG_SZ;
// backslash makes the next character literal), "name"=dword:1f (REG_DWORD,
// one to eight significant hexadecimal digits, blanks and a ";" comment may
// follow), "name"=hex:01,02 and hex(n):... (REG_BINARY), @=... the key's
// default value.
//
// Returns 0 when nothing was written and nothing failed (also when the file
// cannot be opened), else OPOSSVC_IMPORT_WRITTEN and/or
// OPOSSVC_IMPORT_FAILED (as an int, negative with a failure). Failed lines
// are: value lines that were not written (bad quoting, unknown type, missing
// colon, a malformed or over-large dword, no key selected, a key that could
// not be opened, a write the registry refused, a value name holding a NUL
// byte), other lines with no "=" after their first character except one
// leading "REGEDIT4" header, lines longer than 4 MiB (continuations
// included), which are skipped whole, and deletion sections ("[-...]"),
// which are not carried out and select no key. Sections with an empty
// component, a NUL byte, or a path outside the database select no key, so
// their values fail; a section line without its closing bracket is ignored. Nothing is undone after a failure, and no key
// that the file does not name is written (the three base keys
// SOFTWARE\OLEforRetail, ServiceOPOS and ServiceInfo are created in any
// case once the file is open).
// Writes go through one registry transaction per run of whole sections, as
// reg_import.h describes; ImportRegFile there is this importer with options
// (version 5 files, typed values, deletions) and a report of each failed line.
OPOSSVC_API int ImportRegistry(const char* path);

// Writes the value of one value line (as above) into the key `code` of
// `registry`, which must be open with the create flag. 1 when written, else
// 0. The line is consumed.
OPOSSVC_API int SetRegistryValue(CString& line, CRegistryInfo& registry, unsigned long code);

// The bytes of a list of hexadecimal bytes ("01,02,ff"; one- or two-digit
// bytes, any non-digit separates) as a BSTR of that byte length (free it
// with SysFreeString); an empty BSTR for null, empty or digitless text.
// Throws CMemoryException* when memory runs out.
OPOSSVC_API BSTR ConvStrToBin(const char* text);
// "01,02,ff": two lowercase digits a byte, commas between; empty for none.
OPOSSVC_API CString ConvBinToStr(const CByteArray& data);

// --- Service information and instance numbers -----------------------------------

// Writes "Description" (when not empty) and "Version" as "major.minor.build"
// (when version > 0, from major * 1000000 + minor * 1000 + build) into the
// entry of an existing device, named "<class>\<device>" (logical names are
// followed). A device that does not exist is not created: the registry is
// left unchanged and the result is 0. 1 when every value asked for was
// written.
OPOSSVC_API int UpdateServiceInfo(const char* device, const CString& description, long version);

// Hands out the lowest free instance number 1..32 of a mask (bit n-1 set:
// n is in use) and marks it, or 0 with the mask unchanged when all are in
// use. The mask is a 32-bit value (bit 31 set gives a negative long). Both
// functions update the mask atomically, so threads, and processes that keep
// it in shared memory, may share one mask: no number is handed out twice.
OPOSSVC_API void GetInstanceID(long& mask, long& id);
// Frees instance number id (1..32); other ids change nothing.
OPOSSVC_API void ResetInstanceID(long& mask, long id);

// --- Environment checks -------------------------------------------------------------

// 1 on the Windows 95 family of platforms; 0 here (an NT family platform).
OPOSSVC_API int IsWindows95();
// 1 when the process's user is in the built-in Administrators group: on
// POSIX root, or a member of group sudo, wheel or admin. 0 otherwise or when
// the platform cannot tell.
OPOSSVC_API int IsAdmin();
// 1 for a directory path "X:\" or "X:\a\b" on an existing drive (see
// win32/drives.h) whose components are not empty and hold none of
// * ? < > | / ; : , " ; no trailing backslash. 0 otherwise, also for null.
OPOSSVC_API int IsValidPath(const char* path);

// --- Named event lock ------------------------------------------------------------------

// Takes the system-wide lock `name` (shared by every process that uses the
// name), waiting without a time limit unless an abort object is signalled
// first; the second abort object is checked before the first and both
// before the lock. Results, with `lock` afterwards:
//   0     the lock is held                                  the lock's handle
//   1, 2  the first, second abort object was signalled      null
//   3     the wait failed (an abort handle is not valid)     null
//   -1    the lock could not be created or opened           null
//   -126, -127   the owner of the second, first abort object (a mutex) died
//                holding it; the caller now owns that mutex   null
//   -128  the lock's owner died holding it; the lock is released again  null
// A thread that holds the lock may enter again and must leave as often.
// The abort objects stay the caller's.
OPOSSVC_API long EnterEventCS(const char* name, void*& lock, void* abort1, void* abort2);
// Releases the lock and closes its handle; non-zero on success. 0 when the
// calling thread does not hold it (the handle then stays open).
OPOSSVC_API int LeaveEventCS(void* lock);

// --- Control-object drawing --------------------------------------------------------------

// Draws a control object's placeholder into `bounds`: the button face
// colour, the caption centred on the bottom edge, and, when the bounds are
// at least 32 wide and 48 high, the icon `icon` (low 16 bits) of `module`
// centred above it. The context's mapping and background modes are left as
// they were.
OPOSSVC_API void COOnDraw(CDC* dc, const CRect& bounds, const CString& caption, HINSTANCE module,
                          int icon);

#endif  // OPOSSVC_UTIL_H_
