// ConvertFolder: the entry point by which the host reads one source folder.
// (Placeholder until the folder driver lands: converts nothing.)
#include "plugin/mv_api.h"

extern "C" MV_EXPORT int MV_CALL ConvertFolder(HostMessage *, SaveItemFn, int, const char *,
                                               void *, void *, void *, int, void *, void *,
                                               void *, int *storedCount, int *dataSize,
                                               ItemNotifyFn) {
  if (storedCount != nullptr) *storedCount = 0;
  if (dataSize != nullptr) *dataSize = 0;
  return 0;
}
