#pragma once

// An RTP port (and the RTCP one above it) nobody uses, for a SIP agent under test: the
// agent's default port is shared by every agent on the machine, and parallel test runs
// would steal each other's media. 0 when none was found.
int freeMediaPort();
