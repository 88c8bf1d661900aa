/* The package's one custom action, run as the system (deferred, not impersonated) before the
   install replaces or removes AutoBackup.exe: it ends every running copy of that very file, in
   every user's session. A running exe cannot be replaced or deleted on Windows, and with no
   window AutoBackup cannot be asked to close. Copies started from any other file (an
   AutoBackup.exe in another folder) are left alone: a process is ended only when its image is
   the installed file itself, compared by volume and file index, not by name. */
#include <windows.h>
// after windows.h, which they need
#include <msiquery.h>
#include <tlhelp32.h>

/* The longest path the wide calls take, with its terminator. */
#define PATH_CHARS 32768

typedef struct {
  DWORD volume, index_high, index_low;
} file_identity;

static BOOL identity_of(const wchar_t* path, file_identity* identity) {
  HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  BY_HANDLE_FILE_INFORMATION information;
  BOOL known;
  if (file == INVALID_HANDLE_VALUE)
    return FALSE;
  known = GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  if (!known)
    return FALSE;
  identity->volume = information.dwVolumeSerialNumber;
  identity->index_high = information.nFileIndexHigh;
  identity->index_low = information.nFileIndexLow;
  return TRUE;
}

static BOOL same_identity(const file_identity* a, const file_identity* b) {
  return a->volume == b->volume && a->index_high == b->index_high && a->index_low == b->index_low;
}

/* Ends the process if its image is the installed file; waits for it so that the file is free
   when the install goes on. */
static void end_if_copy(DWORD id, const file_identity* installed, wchar_t* image) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  DWORD size = PATH_CHARS;
  file_identity found;
  if (process == NULL)
    return;
  if (QueryFullProcessImageNameW(process, 0, image, &size) && identity_of(image, &found) &&
      same_identity(&found, installed) && TerminateProcess(process, 0))
    WaitForSingleObject(process, 10000);
  CloseHandle(process);
}

/* CustomActionData: the full path of the installed AutoBackup.exe. Never fails the install: a
   copy that cannot be ended leaves the file to the system's replacement at the next restart. */
UINT __stdcall EndCopies(MSIHANDLE install) {
  static wchar_t path[PATH_CHARS], image[PATH_CHARS];
  DWORD size = PATH_CHARS;
  file_identity installed;
  PROCESSENTRY32W entry;
  HANDLE snapshot;
  if (MsiGetPropertyW(install, L"CustomActionData", path, &size) != ERROR_SUCCESS || !path[0] ||
      !identity_of(path, &installed))
    return ERROR_SUCCESS;  // nothing installed there, so nothing runs from it
  snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return ERROR_SUCCESS;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID != GetCurrentProcessId())
      end_if_copy(entry.th32ProcessID, &installed, image);
  CloseHandle(snapshot);
  return ERROR_SUCCESS;
}
