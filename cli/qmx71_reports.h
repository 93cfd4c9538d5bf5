// qmx71's subcommands that report rather than change a part, as text or as
// one JSON object (--json): info, checksum, diff, and verify's JSON report.
#pragma once

#include "cli/qmx71_steps.h"

namespace qmx::tool {

int CmdInfo(const Options& o);
int CmdChecksum(const Options& o);
int CmdDiff(const Options& o);
// verify with --json: the same comparison as Verify, reported as JSON.
int VerifyJson(const Options& o, const PartChoice& part, const Expected& want);

}  // namespace qmx::tool
