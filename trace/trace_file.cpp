// OpenTrace and CloseTrace: private trace files and the shared one.
#include <opossvc/trace.h>

#include <cstdint>
#include <new>

#include <opossvc/registry.h>
#include <opossvc/thread_annotations.h>

#include "platform/internal/mutex.h"
#include "trace/trace_writer.h"

namespace opossvc::detail {
namespace {

constexpr char kMakerKey[] = "VANTA QUILLON";
constexpr char kDefaultConfiguration[] = "VANTA QUILLON\\VANTA1.6";
constexpr char kSharedFileName[] = "OPOSAPI.LOG";
constexpr UINT kTraceOpenMode =
    CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::shareExclusive;
// Read access too where the file grants it, to see whether it ends inside a
// line.
constexpr UINT kCheckedOpenMode = (kTraceOpenMode & ~CFile::modeWrite) | CFile::modeReadWrite;

// The process's shared trace file. `mutex` guards the user count and the
// file's open state: OpenTrace and CloseTrace change them holding it
// exclusively, records are written holding it shared (writes of several
// threads then go out side by side, each in one write).
struct SharedTrace {
  SharedMutex mutex;
  CStdioFile file;
  LONG users OPOSSVC_GUARDED_BY(mutex) = 0;
};

// Constructed at load and destroyed at unload, which closes a file still open.
SharedTrace g_shared_trace;

// The shared file's path from the maker's configuration key.
CString SharedTracePath() {
  CRegistryInfo registry(kMakerKey, KC_SERVICEINFO_SUBKEY, FALSE);
  CString primary;
  CString configuration = kDefaultConfiguration;
  if (registry.GetString(KC_SERVICEINFO_SUBKEY, "PrimaryConfig", primary) && !primary.IsEmpty()) {
    configuration = kMakerKey;
    configuration += '\\';
    configuration += primary;
  }
  registry.Close(TRUE);
  registry.Open(configuration, KC_SERVICEINFO_SUBKEY, FALSE);
  CString path;
  if (registry.GetString(KC_SERVICEINFO_SUBKEY, "DebugTrace", path) && !path.IsEmpty()) return path;
  registry.GetString(KC_SERVICEINFO_SUBKEY, "OposDir", path);
  if (path.IsEmpty() || path[path.GetLength() - 1] != '\\') path += '\\';
  path += kSharedFileName;
  return path;
}

// Opens the file for appending; false (and the file closed) on any failure.
// A file the user may write but not read is traced all the same.
bool OpenForAppend(CStdioFile& file, const char* path) {
  CFileException error;
  const bool readable = file.Open(path, kCheckedOpenMode, &error);
  if (!readable && (error.m_cause != CFileException::accessDenied || !file.Open(path, kTraceOpenMode))) {
    return false;
  }
  try {
    // A writer killed inside a write leaves a torn last line; the next record
    // must still start a line of its own.
    const auto length = file.SeekToEnd();
    if (readable && length > 0) {
      char last = 0;
      file.Seek(-1, CFile::end);
      UINT got = file.Read(&last, 1);
      file.SeekToEnd();
      if (got == 1 && last != '\n') file.WriteString("\n");
    }
    return true;
  } catch (CException* e) {
    e->Delete();
    file.Abort();
    return false;
  }
}

CStdioFile* OpenShared() {
  SharedTrace& shared = g_shared_trace;
  WriterLock lock(shared.mutex);
  if (shared.users > 0) {
    if (shared.users == INT32_MAX) return nullptr;
    ++shared.users;
    return &shared.file;
  }
  // Both may throw only when memory runs out; the count stays 0.
  CString path = SharedTracePath();
  if (!OpenForAppend(shared.file, path)) return nullptr;
  shared.users = 1;
  return &shared.file;
}

void CloseShared() {
  SharedTrace& shared = g_shared_trace;
  WriterLock lock(shared.mutex);
  if (shared.users <= 0) return;  // closed more often than opened: nothing left to close
  if (--shared.users == 0) shared.file.Abort();
}

void WriteOpen(CStdioFile& file, const std::string& record) {
  if (file.m_hFile == CFile::hFileNull) return;
  try {
    file.WriteString(record.c_str());
  } catch (CException* e) {
    e->Delete();  // a trace that cannot be written is dropped
  }
}

}  // namespace

void WriteTraceRecord(CStdioFile* file, const std::string& record) {
  if (file == nullptr) return;
  if (file != &g_shared_trace.file) {
    WriteOpen(*file, record);
    return;
  }
  ReaderLock lock(g_shared_trace.mutex);
  WriteOpen(*file, record);
}

}  // namespace opossvc::detail

CStdioFile* OpenTrace(const char* name) {
  if (name == nullptr || *name == '\0') {
    try {
      return opossvc::detail::OpenShared();
    } catch (CException* e) {
      e->Delete();
      return nullptr;
    }
  }
  auto* file = new (std::nothrow) CStdioFile;
  if (file == nullptr) return nullptr;
  if (!opossvc::detail::OpenForAppend(*file, name)) {
    delete file;
    return nullptr;
  }
  return file;
}

void CloseTrace(CStdioFile*& file) {
  if (file == &opossvc::detail::g_shared_trace.file) {
    opossvc::detail::CloseShared();
  } else if (file != nullptr) {
    file->Abort();
    delete file;
  }
  file = nullptr;
}
