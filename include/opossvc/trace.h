// The API trace: one text line per property read or write, method call and
// result code that reaches a service object, appended to a trace file.
//
// Opening:
//   CStdioFile* trace = OpenTrace("");        // the shared OPOSAPI.LOG
//   CStdioFile* mine = OpenTrace("C:\\x.log"); // a private file
//   ...
//   CloseTrace(trace);                        // leaves trace null
//
// OpenTrace with a name opens that file for the caller alone; with an empty
// (or null) name it gives the one shared trace file of the process, counted
// per user: the first OpenTrace("") opens it, each further one only counts,
// and the CloseTrace that ends the last use closes it. The shared file's
// path is read from the maker's configuration key in the OPOS registry
// (HKLM\SOFTWARE\OLEforRetail\ServiceInfo\VANTA QUILLON\<PrimaryConfig,
// default VANTA1.6>): the value "DebugTrace" when set, else "OposDir" plus
// "\OPOSAPI.LOG", else \OPOSAPI.LOG, which is on drive C: as every path
// without a drive. It is read again each time the file is opened anew.
//
// Every trace file is created when missing (mode 0644 less the umask, so
// never writable by group or others), never truncated, and written at its
// end with CRLF line ends (write access is all it needs). It is never
// reached through a symbolic link: a path whose last component is a link,
// or that names anything but a regular file, is refused. While it is open
// one trace holds it: a second OpenTrace of it, in this or another process,
// fails, and so does every other open of it through the library's file
// calls, as for an exclusive open. What the file's readers do never makes
// OpenTrace fail or wait: anyone who may read a file can take shared locks
// on all of it, so a trace tests no lock of theirs, and claims the file with
// a lock that only a writer can take. A reader squatting on that lock can
// at worst let two traces append to one file, each record whole.
// A file that cannot be opened gives a null handle; null handles and closed
// files are accepted by every function and ignored.
//
// Records (each line ends with CRLF in the file):
//   OnGetProp   <object>.<property>:<value>
//   OnSetProp   <object>.<property>=<value>
//   OnMethod    ><object>.<method>(<arg>,<arg>,...)   ("<" when direction != 0)
//   PutResultCode  <<object>.ResultCode:<name>
//                  <<object>.ResultCodeExtended:<number>
// Values: a string as "text" with bytes below 0x20 and from 0x7F written as
// \xNN; a boolean (int: a BOOL, TRUE) as TRUE or FALSE; a long (a LONG) as
// "-1 (0xffffffff)", its low 32 bits; a currency as
// "Hi = 0, Lo = 10000 (Hi = 0x00000000, Lo = 0x00002710)".
//
// OnMethod's `types` holds one VTS_* byte per argument (afx/dispatch_driver.h),
// each taking its argument from the list:
//   VTS_I4      a LONG (an int is taken too: its low 32 bits count)
//                                       -> 5 (0x00000005)
//   VTS_BOOL    an int                  -> TRUE / FALSE
//   VTS_BSTR    a const char*           -> "escaped text"
//   VTS_WBSTR   a const OLECHAR*        -> "escaped text" (system code page)
//   VTS_PI4     a LONG* (long*)         -> [5 (0x00000005)]
//   VTS_PBSTR   a BSTR*                 -> ["escaped text"]
//   VTS_I2 (an int), VTS_R4, VTS_R8, VTS_DATE (doubles), VTS_SCODE (an
//   int), VTS_CY and every other pointer type write nothing but keep their
//   place; a byte outside the table takes no argument. A null string or
//   BSTR gives "", a null VTS_PI4 or VTS_PBSTR pointer gives nothing.
// Names (object, property, method) are written as given. Texts and BSTRs
// are read up to their first NUL.
//
// Threads: any thread may open, close and write traces at any time. The
// shared file's count and open state are guarded, so concurrent opens and
// closes never lose a count, and while the file is open OpenTrace("") never
// fails. Each record, the two result lines included, reaches the file in one
// write, so records of several threads or processes never mix, and nothing
// is held back between records: once a record function returns, its record
// is in the file (a crash of the process loses none).
#ifndef OPOSSVC_TRACE_H_
#define OPOSSVC_TRACE_H_

#include <opossvc/afx/stdiofile.h>
#include <opossvc/export.h>
#include <opossvc/win32/oleauto.h>

OPOSSVC_API CStdioFile* OpenTrace(const char* name);
OPOSSVC_API void CloseTrace(CStdioFile*& file);

// `length` > 0: the first `length` bytes of the value, NULs included
// (escaped); otherwise the value up to its NUL.
OPOSSVC_API void OnGetProp(CStdioFile* file, const char* object, const char* property,
                           const char* value, int length);
OPOSSVC_API void OnGetProp(CStdioFile* file, const char* object, const char* property, int value);
OPOSSVC_API void OnGetProp(CStdioFile* file, const char* object, const char* property, long value);
OPOSSVC_API void OnGetProp(CStdioFile* file, const char* object, const char* property, CY value);

OPOSSVC_API void OnSetProp(CStdioFile* file, const char* object, const char* property,
                           const char* value, int length);
OPOSSVC_API void OnSetProp(CStdioFile* file, const char* object, const char* property, int value);
OPOSSVC_API void OnSetProp(CStdioFile* file, const char* object, const char* property, long value);
OPOSSVC_API void OnSetProp(CStdioFile* file, const char* object, const char* property, CY value);

OPOSSVC_API void OnMethod(CStdioFile* file, const char* object, const char* method, int direction,
                          const char* types, ...);

// The result code by name (OPOS_SUCCESS, OPOS_E_CLOSED ... OPOS_E_EXTENDED,
// else "(Unknown)"), the extended code as a number.
OPOSSVC_API void PutResultCode(CStdioFile* file, const char* object, long result, long extended);

#endif  // OPOSSVC_TRACE_H_
