// Group members the host remembers. The plug-in creates each member of a
// group as a contact of its own before the group; a group written again
// (it failed, or a run was killed while its members were made) takes the
// contacts made before instead of making them twice. The host program keeps
// the record; without hooks nothing is remembered.
#include "host/mvcom/mvcom_host.h"
#include "plugin/mvcom.h"

namespace {

MvcomKnownMemberHook gKnown = nullptr;
MvcomNoteMemberHook gNote = nullptr;
void *gUser = nullptr;

}  // namespace

void mvcom_SetGroupMemberHooks(MvcomKnownMemberHook known, MvcomNoteMemberHook note, void *user) {
  gKnown = known;
  gNote = note;
  gUser = user;
}

int mvcom_KnownGroupMember(int index, const char *name, const char *address, char *id, size_t cap) {
  if (gKnown == nullptr || name == nullptr || address == nullptr || id == nullptr || cap == 0) return 0;
  id[0] = '\0';
  return gKnown(gUser, index, name, address, id, cap) && id[0] != '\0' ? 1 : 0;
}

void mvcom_NoteGroupMember(int index, const char *name, const char *address, const char *id) {
  if (gNote != nullptr && name != nullptr && address != nullptr && id != nullptr && id[0] != '\0')
    gNote(gUser, index, name, address, id);
}
