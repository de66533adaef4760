// Hands a finished record to a trace file.
#ifndef OPOSSVC_TRACE_TRACE_WRITER_H_
#define OPOSSVC_TRACE_TRACE_WRITER_H_

#include <string>

class CStdioFile;

namespace opossvc::detail {

// Writes the record (lines ending in "\n") to the file in one write. Null
// handles, closed files and write errors are ignored. For the shared trace
// file the write holds the file's lock for reading, so that it never meets
// the file half closed.
void WriteTraceRecord(CStdioFile* file, const std::string& record);

}  // namespace opossvc::detail

#endif  // OPOSSVC_TRACE_TRACE_WRITER_H_
