// oposreg import FILE.reg
#include <cstdio>
#include <string>

#include <opossvc/reg_import.h>
#include <opossvc/util.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {

int RunImport(const Invocation& invocation) {
  const std::string& path = invocation.args[0];
  std::string error;
  if (!CheckStoreForWriting(&error)) {
    Complain(error);
    return kExitFailure;
  }
  // Every option on: what the registry editor of Windows writes (either
  // version), deletions, typed values, and each section's own key.
  const RegImportReport report = ImportRegFile(path.c_str(), RegImportOptions::All());
  for (const RegImportProblem& problem : report.problems) {
    const std::string where = problem.line > 0 ? path + ":" + std::to_string(problem.line) : path;
    std::fprintf(stderr, "%s: %s\n", where.c_str(), problem.reason.c_str());
  }
  if (!report.problems.empty()) {
    if (!report.file_error) {
      Complain(path + ": " + std::to_string(report.problems.size()) + " line" +
               (report.problems.size() == 1 ? " was" : "s were") + " not imported" +
               ((report.result & OPOSSVC_IMPORT_WRITTEN) ? "; the others were" : ""));
    }
    return kExitFailure;
  }
  if (!(report.result & OPOSSVC_IMPORT_WRITTEN)) {
    std::fprintf(stderr, "oposreg: %s: no values to import\n", path.c_str());
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
