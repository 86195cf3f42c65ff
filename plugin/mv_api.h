// The thirteen entry points through which the host drives the plug-in, and
// the host callbacks they receive. All are C functions in the Windows API
// calling convention on 32-bit Windows (the callee removes the arguments);
// elsewhere the platform's C convention.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define MV_CALL __stdcall
#else
#define MV_CALL
#endif

#if defined(_WIN32)
// MVGWS.dll exports through plugin/mvgws.def, which binds each plain name to
// its stdcall symbol; dllexport here would add the decorated names as well.
#define MV_EXPORT
#else
#define MV_EXPORT __attribute__((visibility("default")))
#endif

struct HostMessage;

// Sizes the host's buffers must have at least; the plug-in never writes more.
enum {
  kHostLabelSize = 256,    // GetLogonParameters labels and the a7, a8, a13, a15 texts
  kHostServerSize = 1024,  // GetLogonParameters server text
  kHostPathSize = 1024,    // GetTrueFolder path out
};

extern "C" {

// key: "keepalive" or "MailboxMessageCount"; the three pointers are the
// plug-in's own integers, which the host may set (the third stops a folder).
typedef int(MV_CALL *HostNotifyFn)(int zero, const char *key, int value, int *value1,
                                   int *value2, int *stop);
// Called once per folder with its tag "path {MV:count:FCLASS:class}".
typedef int(MV_CALL *FolderCallbackFn)(const char *folderTag);
// Stores one item; index is the number of items already stored in this call.
typedef int(MV_CALL *SaveItemFn)(HostMessage *record, const char *text, void *context, int index);
// Reports one item's status (0 stored, 1 duplicate, 2 date filter, 6 skipped).
typedef int(MV_CALL *ItemNotifyFn)(HostMessage *record, const char *text, int status,
                                   int *value1, int *value2, int *stop);

MV_EXPORT int MV_CALL GetLogonParameters(int kind, void *a2, void *a3, char *userLabel,
                                         char *passwordLabel, char *serverLabel, char *a7,
                                         char *a8, void *a9, void *a10, void *a11,
                                         char *serverText, char *a13, void *a14, char *a15);

MV_EXPORT int MV_CALL Logon(char *user, char *password, const char *server, void *a4, void *a5,
                            void *a6, void *a7, void *a8, void *a9, void *a10, void *a11,
                            void *a12, int mode, int allBooks, void *a15, void *a16,
                            HostNotifyFn notify);

MV_EXPORT int MV_CALL Logoff(int a1);

MV_EXPORT int MV_CALL GetFolderNames(int a1, FolderCallbackFn callback);

MV_EXPORT int MV_CALL GetTrueFolder(int folderIndex, char *pathOut);

MV_EXPORT int MV_CALL GetUserList(const char *inputPath, const char *outputPath);

MV_EXPORT int MV_CALL InitRead(HostMessage *record, void *a2, void *a3, void *a4, void *a5,
                               int itemLimit);

MV_EXPORT int MV_CALL ConvertFolder(HostMessage *record, SaveItemFn saveItem, int folderNumber,
                                    const char *text, void *search1, void *search2,
                                    void *search3, int maxAttachKB, void *readerArg, void *a10,
                                    void *context, int *storedCount, int *dataSize,
                                    ItemNotifyFn itemNotify);

MV_EXPORT int MV_CALL CloseRead(int a1);

MV_EXPORT int MV_CALL InitWrite(HostMessage *record, const char *folderName, void *a3,
                                int folderClass);

MV_EXPORT int MV_CALL WriteMsg(HostMessage *record, void *a2, const char *partDirectory, void *a4);

MV_EXPORT int MV_CALL CloseWrite(int folderClass);

MV_EXPORT int MV_CALL TestFile(void *a1, void *a2);

}  // extern "C"
