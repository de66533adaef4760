// Hands a finished record to a trace file.
#ifndef OPOSSVC_TRACE_TRACE_WRITER_H_
#define OPOSSVC_TRACE_TRACE_WRITER_H_

class CStdioFile;

namespace opossvc::detail {

class RecordText;

// Appends the record, CR LFs included, to the end of the file in one write,
// past the text-mode translation. Null handles, closed files, failed records
// and write errors are ignored. For the shared trace file the write holds
// the file's lock for reading, so that it never meets the file half closed.
void WriteTraceRecord(CStdioFile* file, const RecordText& record);

}  // namespace opossvc::detail

#endif  // OPOSSVC_TRACE_TRACE_WRITER_H_
