// Ends the connections a stopping server still holds open: httplib keeps
// an idle keep-alive connection until its time-out, so Stop() shuts them
// down itself.
#pragma once

namespace gwsim {

// Shuts down (without closing the descriptor) every TCP socket of this
// process whose local port is `port` and that is not listening, so that
// the worker serving it sees the end of the connection at once. Returns
// the number of sockets shut down. Cannot fail otherwise.
int ShutDownServedConnections(int port);

}  // namespace gwsim
