// voxtar-lesson takes: the take check over every recorded prompt of lessons, for the reviewer of
// a finished lesson. Reads the lessons as a dry run and the takes as the recorder reads them;
// writes nothing.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "takes": [--template PATH] [--json] INDEX...
// Returns kExitOk when every recorded take is ok, kExitFailed when a take is not ok, cannot be
// read, a lesson does not load or the template cannot be read, kExitUsage on bad usage.
int RunTakes(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
