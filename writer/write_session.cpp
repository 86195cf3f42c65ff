// InitWrite, WriteMsg and CloseWrite: the write side's entry points.
// (Placeholder until the write session lands: writes nothing.)
#include "plugin/mv_api.h"

extern "C" {
MV_EXPORT int MV_CALL InitWrite(HostMessage *, const char *, void *, int) { return 0; }
MV_EXPORT int MV_CALL WriteMsg(HostMessage *, void *, const char *, void *) { return 0; }
MV_EXPORT int MV_CALL CloseWrite(int) { return 0; }
}
