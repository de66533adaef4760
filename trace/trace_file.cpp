// OpenTrace and CloseTrace: private trace files and the shared one.
#include <opossvc/trace.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <typeinfo>
#include <utility>

#include <opossvc/registry.h>
#include <opossvc/thread_annotations.h>

#include "platform/internal/append_file.h"
#include "platform/internal/mutex.h"
#include "trace/trace_text.h"
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

// A trace file: a CStdioFile opened as its file's one appender
// (internal/append_file.h), which records go to without a handle lookup.
class TraceFile final : public CStdioFile {
 public:
  // Opens the file for appending; false (and the file closed) on any
  // failure. A file the user may write but not read is traced all the same.
  bool OpenAppending(const char* path) {
    AppendFile opened = OpenAppendFile(path);
    if (opened.handle == INVALID_HANDLE_VALUE ||
        !OpenHandle(opened.handle, path, opened.readable ? kCheckedOpenMode : kTraceOpenMode)) {
      return false;
    }
    appender_ = std::move(opened.appender);
    try {
      // A writer killed inside a write leaves a torn last line; the next
      // record must still start a line of its own.
      const auto length = SeekToEnd();
      if (opened.readable && length > 0) {
        char last = 0;
        Seek(-1, CFile::end);
        UINT got = Read(&last, 1);
        SeekToEnd();
        if (got == 1 && last != '\n') WriteString("\n");
      }
      return true;
    } catch (CException* e) {
      e->Delete();
      Abort();
      return false;
    }
  }

  void Close() override {
    appender_.reset();
    CStdioFile::Close();
  }
  void Abort() override {
    appender_.reset();
    CStdioFile::Abort();
  }

  // Writes the record at the end of the file in one write; nothing when the
  // file is closed. Write errors are dropped with the record.
  void Append(const RecordText& record) {
    if (appender_ != nullptr) appender_->Append(record.data(), record.size());
  }

 private:
  std::shared_ptr<FileAppender> appender_;  // null while closed
};

// The process's shared trace file. `mutex` guards the user count and the
// file's open state: OpenTrace and CloseTrace change them holding it
// exclusively, records are written holding it shared (writes of several
// threads then go out side by side, each in one write).
struct SharedTrace {
  SharedMutex mutex;
  TraceFile file;
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
  if (!shared.file.OpenAppending(path)) return nullptr;
  shared.users = 1;
  return &shared.file;
}

void CloseShared() {
  SharedTrace& shared = g_shared_trace;
  WriterLock lock(shared.mutex);
  if (shared.users <= 0) return;  // closed more often than opened: nothing left to close
  if (--shared.users == 0) shared.file.Abort();
}

// Any other CStdioFile that a caller hands in: the bytes as they are, where
// its writes go.
void WriteOther(CStdioFile& file, const RecordText& record) {
  if (file.m_hFile == CFile::hFileNull) return;
  try {
    for (size_t done = 0; done < record.size();) {
      const auto piece = static_cast<UINT>(std::min<size_t>(record.size() - done, 0xFFFFFFFF));
      file.CFile::Write(record.data() + done, piece);
      done += piece;
    }
  } catch (CException* e) {
    e->Delete();  // a trace that cannot be written is dropped
  }
}

}  // namespace

void WriteTraceRecord(CStdioFile* file, const RecordText& record) {
  if (file == nullptr || record.failed()) return;
  if (file == &g_shared_trace.file) {
    ReaderLock lock(g_shared_trace.mutex);
    g_shared_trace.file.Append(record);
  } else if (typeid(*file) == typeid(TraceFile)) {
    static_cast<TraceFile*>(file)->Append(record);
  } else {
    WriteOther(*file, record);
  }
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
  auto* file = new (std::nothrow) opossvc::detail::TraceFile;
  if (file == nullptr) return nullptr;
  if (!file->OpenAppending(name)) {
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
