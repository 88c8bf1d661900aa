/* The package's custom actions.
   - ChooseFolder (immediate, in both sequences): the folder to install into, and why not.
   - EndCopies (deferred, as the system): ends every running copy of the installed file, in every
     session, before the install replaces or removes it. A running exe cannot be replaced or
     deleted on Windows, and with no window AutoBackup cannot be asked to close.
   - StartCopies (deferred, as the system; commit, rollback, or plain where rollback is
     disabled): starts the installed file in every session with a logged-on user that runs no copy
     of it, with that user's own token, so no copy ever runs elevated or as the system.
   A copy is a process whose image is the installed file itself, compared by volume and file
   index, not by name: an AutoBackup.exe in another folder is never touched. Each action says what
   it did in the install log, and none of them fails the install: a backup left to the next
   log-on is better than an install that cannot finish. */
#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <msiquery.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wchar.h>
#include <wtsapi32.h>

/* The longest path the wide calls take, with its terminator. */
#define PATH_CHARS 32768
/* The backup application, whose folder AutoBackup is installed into. */
#define APPLICATION L"TarvikEmailBackup.exe"
/* How long an ended copy may take to go. */
#define END_WAIT_MS 10000

static void say(MSIHANDLE install, const wchar_t* format, ...) {
  static wchar_t text[2 * PATH_CHARS];
  MSIHANDLE record = MsiCreateRecord(1);
  va_list arguments;
  va_start(arguments, format);
  _vsnwprintf(text, 2 * PATH_CHARS - 1, format, arguments);
  va_end(arguments);
  text[2 * PATH_CHARS - 1] = 0;
  // The text as a field, not as the template: a path may hold brackets.
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

static BOOL property(MSIHANDLE install, const wchar_t* name, wchar_t* value) {
  DWORD size = PATH_CHARS;
  if (MsiGetPropertyW(install, name, value, &size) != ERROR_SUCCESS)
    value[0] = 0;
  return value[0] != 0;
}

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

typedef void (*copy_visitor)(MSIHANDLE install, HANDLE process, DWORD id, DWORD session,
                             void* context);

/* Calls `visit` for every running process whose image is the file `installed`, with a handle
   that may query, end and wait for it. */
static void each_copy(MSIHANDLE install, const file_identity* installed, copy_visitor visit,
                      void* context) {
  static wchar_t image[PATH_CHARS];
  PROCESSENTRY32W entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    DWORD size = PATH_CHARS, session = 0;
    file_identity found;
    HANDLE process;
    if (entry.th32ProcessID == GetCurrentProcessId())
      continue;
    process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                          FALSE, entry.th32ProcessID);
    if (process == NULL)
      continue;
    if (QueryFullProcessImageNameW(process, 0, image, &size) && identity_of(image, &found) &&
        found.volume == installed->volume && found.index_high == installed->index_high &&
        found.index_low == installed->index_low) {
      ProcessIdToSessionId(entry.th32ProcessID, &session);
      visit(install, process, entry.th32ProcessID, session, context);
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
}

/* The installed file's path, from CustomActionData, and its identity; FALSE when there is none. */
static BOOL installed_file(MSIHANDLE install, const wchar_t* action, wchar_t* path,
                           file_identity* identity) {
  if (property(install, L"CustomActionData", path) && identity_of(path, identity))
    return TRUE;
  say(install, L"%ls: no installed file at '%ls', nothing to do", action, path);
  return FALSE;
}

static void end_copy(MSIHANDLE install, HANDLE process, DWORD id, DWORD session, void* context) {
  (void)context;
  if (TerminateProcess(process, 0) && WaitForSingleObject(process, END_WAIT_MS) == WAIT_OBJECT_0)
    say(install, L"EndCopies: ended process %lu in session %lu", id, session);
  else
    say(install,
        L"EndCopies: could not end process %lu in session %lu (error %lu): the file is "
        L"replaced at the next restart",
        id, session, GetLastError());
}

/* CustomActionData: the full path of the installed AutoBackup.exe. */
UINT __stdcall EndCopies(MSIHANDLE install) {
  static wchar_t path[PATH_CHARS];
  file_identity installed;
  if (installed_file(install, L"EndCopies", path, &installed))
    each_copy(install, &installed, end_copy, NULL);
  return ERROR_SUCCESS;
}

typedef struct {
  DWORD session;
  BOOL found;
} session_copy;

static void note_copy(MSIHANDLE install, HANDLE process, DWORD id, DWORD session, void* context) {
  session_copy* wanted = context;
  (void)process;
  if (session == wanted->session && !wanted->found) {
    wanted->found = TRUE;
    say(install, L"StartCopies: session %lu runs a copy already (process %lu)", session, id);
  }
}

/* Starts `path` in `session` as the user logged on there, unless that session runs a copy. */
static void start_in(MSIHANDLE install, DWORD session, const wchar_t* path,
                     const file_identity* installed) {
  static wchar_t command[PATH_CHARS + 2], folder[PATH_CHARS], desktop[] = L"winsta0\\default";
  session_copy running = {session, FALSE};
  STARTUPINFOW startup;
  PROCESS_INFORMATION started;
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  HANDLE token;
  void* environment;
  BOOL in_job = FALSE, done;
  wchar_t* last;
  each_copy(install, installed, note_copy, &running);
  if (running.found)
    return;
  if (!WTSQueryUserToken(session, &token)) {
    say(install, L"StartCopies: session %lu has no user token (error %lu), no copy started",
        session, GetLastError());
    return;
  }
  // The user's own variables only, not the system's.
  if (!CreateEnvironmentBlock(&environment, token, FALSE)) {
    say(install, L"StartCopies: no environment for session %lu (error %lu), no copy started",
        session, GetLastError());
    CloseHandle(token);
    return;
  }
  _snwprintf(command, PATH_CHARS + 2, L"\"%ls\"", path);
  wcscpy(folder, path);
  last = wcsrchr(folder, L'\\');
  if (last)
    last[1] = 0;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  // The copy must outlive the install: out of any job the installer's process is in.
  if (IsProcessInJob(GetCurrentProcess(), NULL, &in_job) && in_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;
  done = CreateProcessAsUserW(token, path, command, NULL, NULL, FALSE, flags, environment, folder,
                              &startup, &started);
  if (!done && (flags & CREATE_BREAKAWAY_FROM_JOB) && GetLastError() == ERROR_ACCESS_DENIED) {
    say(install, L"StartCopies: the job allows no breakaway; session %lu's copy starts inside it",
        session);
    done = CreateProcessAsUserW(token, path, command, NULL, NULL, FALSE,
                                flags & ~CREATE_BREAKAWAY_FROM_JOB, environment, folder, &startup,
                                &started);
  }
  if (done) {
    say(install, L"StartCopies: started process %lu in session %lu", started.dwProcessId, session);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  } else {
    say(install, L"StartCopies: could not start a copy in session %lu (error %lu)", session,
        GetLastError());
  }
  DestroyEnvironmentBlock(environment);
  CloseHandle(token);
}

/* CustomActionData: the full path of the installed AutoBackup.exe. Every session with a user
   logged on, active or disconnected, found now; where the system lists none, the console's. */
UINT __stdcall StartCopies(MSIHANDLE install) {
  static wchar_t path[PATH_CHARS];
  file_identity installed;
  WTS_SESSION_INFOW* sessions = NULL;
  DWORD count = 0;
  if (!installed_file(install, L"StartCopies", path, &installed))
    return ERROR_SUCCESS;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
    say(install, L"StartCopies: the sessions could not be listed (error %lu)", GetLastError());
    count = 0;
  }
  for (DWORD i = 0; i < count; ++i)
    if (sessions[i].State == WTSActive || sessions[i].State == WTSDisconnected)
      start_in(install, sessions[i].SessionId, path, &installed);
  if (sessions)
    WTSFreeMemory(sessions);
  if (count == 0) {
    DWORD console = WTSGetActiveConsoleSessionId();
    if (console != 0xFFFFFFFF)
      start_in(install, console, path, &installed);
  }
  return ERROR_SUCCESS;
}

/* Rights that let their holder replace or change what the folder holds: on the folder itself
   (add or delete files in it, delete or rename it, change its access list or owner) and on the
   files it holds (write, append, delete, change their access list or owner). */
#define FOLDER_RIGHTS                                                                     \
  (FILE_ADD_FILE | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | \
   GENERIC_ALL)
#define FILE_RIGHTS                                                                        \
  (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | \
   GENERIC_ALL)

/* Why standard users could change `folder`, into `why`; FALSE when they cannot. Everyone,
   Users, Authenticated Users and INTERACTIVE stand for any user of the machine. */
static BOOL changeable_by_users(const wchar_t* folder, wchar_t* why) {
  static const WELL_KNOWN_SID_TYPE groups[] = {WinWorldSid, WinBuiltinUsersSid,
                                               WinAuthenticatedUserSid, WinInteractiveSid};
  static const wchar_t* names[] = {L"Everyone", L"Users", L"Authenticated Users", L"INTERACTIVE"};
  PSECURITY_DESCRIPTOR descriptor = NULL;
  PACL list = NULL;
  BOOL changeable = FALSE;
  DWORD error = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                                      &list, NULL, &descriptor);
  if (error != ERROR_SUCCESS) {
    _snwprintf(why, PATH_CHARS, L"its access list could not be read (error %lu)", error);
    return TRUE;
  }
  if (list == NULL) {
    wcscpy(why, L"it has no access list at all, so anyone may change it");
    changeable = TRUE;
  }
  for (DWORD i = 0; list && !changeable && i < list->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* entry;
    DWORD rights;
    if (!GetAce(list, i, (void**)&entry) || entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    rights = (entry->Header.AceFlags & INHERIT_ONLY_ACE) ? 0 : entry->Mask & FOLDER_RIGHTS;
    if (entry->Header.AceFlags & OBJECT_INHERIT_ACE)
      rights |= entry->Mask & FILE_RIGHTS;
    for (int g = 0; rights && !changeable && g < 4; ++g) {
      BYTE sid[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof sid;
      if (CreateWellKnownSid(groups[g], NULL, sid, &size) && EqualSid(sid, &entry->SidStart)) {
        _snwprintf(why, PATH_CHARS, L"it grants %ls the rights 0x%08lX", names[g], rights);
        changeable = TRUE;
      }
    }
  }
  LocalFree(descriptor);
  return changeable;
}

/* `folder` with one trailing backslash, in place. */
static void as_folder(wchar_t* folder) {
  size_t length = wcslen(folder);
  if (length && length < PATH_CHARS - 1 && folder[length - 1] != L'\\')
    wcscat(folder, L"\\");
}

static BOOL holds_application(const wchar_t* folder) {
  static wchar_t path[PATH_CHARS + 32];
  DWORD attributes;
  _snwprintf(path, PATH_CHARS + 32, L"%ls%ls", folder, APPLICATION);
  path[PATH_CHARS + 31] = 0;
  attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* Sets INSTALLDIR, or the property that stops the install with its reason:
   - an installed product stays where it is: the remembered folder (REMEMBEREDDIR);
   - a folder given as INSTALLDIR must hold the application (else FOLDERLACKSAPP);
   - otherwise the first of the remembered folders (REMEMBEREDDIR, REMEMBEREDDIR32) and the
     found ones (FOUNDDIR32, FOUNDDIR64) that still holds the application;
   - a folder that standard users could change is refused (FOLDERUNSAFE): AutoBackup.exe there
     runs at every user's log-on, so whoever may replace it runs code as the next user. */
UINT __stdcall ChooseFolder(MSIHANDLE install) {
  static const wchar_t* candidates[] = {L"REMEMBEREDDIR", L"REMEMBEREDDIR32", L"FOUNDDIR32",
                                        L"FOUNDDIR64"};
  static wchar_t folder[PATH_CHARS], why[PATH_CHARS], text[PATH_CHARS];
  if (property(install, L"Installed", text)) {
    if (property(install, L"REMEMBEREDDIR", folder))
      MsiSetPropertyW(install, L"INSTALLDIR", folder);
    return ERROR_SUCCESS;
  }
  if (property(install, L"INSTALLDIR", folder)) {
    as_folder(folder);
    if (!holds_application(folder)) {
      say(install, L"ChooseFolder: the given folder '%ls' does not hold %ls", folder, APPLICATION);
      MsiSetPropertyW(install, L"FOLDERLACKSAPP", folder);
      return ERROR_SUCCESS;
    }
  } else {
    for (int i = 0; i < 4 && !folder[0]; ++i) {
      if (!property(install, candidates[i], folder))
        continue;
      as_folder(folder);
      if (!holds_application(folder)) {
        say(install, L"ChooseFolder: %ls '%ls' no longer holds %ls", candidates[i], folder,
            APPLICATION);
        folder[0] = 0;
      }
    }
    if (!folder[0]) {
      say(install, L"ChooseFolder: %ls was found in no folder", APPLICATION);
      return ERROR_SUCCESS;
    }
  }
  if (changeable_by_users(folder, why)) {
    say(install, L"ChooseFolder: '%ls' is refused: %ls", folder, why);
    _snwprintf(text, PATH_CHARS, L"%ls (%ls)", folder, why);
    text[PATH_CHARS - 1] = 0;
    MsiSetPropertyW(install, L"FOLDERUNSAFE", text);
    return ERROR_SUCCESS;
  }
  say(install, L"ChooseFolder: installing into '%ls'", folder);
  MsiSetPropertyW(install, L"INSTALLDIR", folder);
  return ERROR_SUCCESS;
}
