// SPDX-License-Identifier: Apache-2.0
// Cleanup of a half-written image when the job is cancelled.
//   InstallTempCleanup   SIGTERM, SIGINT and SIGHUP remove the published file, then end
//                        the process as the signal would have
//   PublishTemp          names the file to remove (nullptr: none); the text must stay
//                        valid until it is withdrawn
#pragma once

namespace kemb::halftone {

void InstallTempCleanup();
void PublishTemp(const char* path);

}  // namespace kemb::halftone
