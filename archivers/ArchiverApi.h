/* The interface between the program and the outside archiver libraries
 * ("UNLHA32.DLL", "UNZIP32.DLL", "ZIP32J.DLL", "LMZIP32.DLL", "CAB32.DLL",
 * "UNARJ32J.DLL", "tar32.dll", "UNRAR32.DLL", "BGA32.DLL"): the signatures
 * of their entries, the listing record and the record they hand to an owner
 * window with the "wm_arcextract" message.
 *
 * Every entry has C linkage and is named by the library's prefix ("Unlha",
 * "UnZip", "Cab", "Unarj", "Tar", "Unrar", "Bga") alone (the command entry)
 * or followed by "OpenArchive", "CloseArchive", "FindFirst", "FindNext",
 * "CheckArchive", "SetOwnerWindowEx", "KillOwnerWindowEx" and, but for ARJ
 * and BGA, "ExtractMem"; tar32.dll also has "TarGetArchiveType". ZIP32J.DLL
 * has the "UnZip" entries but for the command entry, and "Zip", the command
 * entry that writes; LMZIP32.DLL has all of them with "Unzip" for "UnZip",
 * and "Zip". Integer arguments are int, window handles and archive handles
 * are pointer-sized, texts are UTF-8 paths and command lines.
 *
 * Commands that write an archive write a new one beside it and rename it
 * over the old one when everything is in, so a failure leaves the old
 * archive as it was. Member names are taken relative to the command's
 * folder and stored as given (sub-folders included); an absolute name or one
 * with a ".." component is refused, and no link is followed out of the
 * folder.
 *
 * Progress: while an owner window is set, the library sends the registered
 * message "wm_arcextract" to it through the program's exported
 * SendMessageA(HWND, UINT, WPARAM, LPARAM) and RegisterWindowMessageA(const
 * char*) (looked up with dlsym(RTLD_DEFAULT, ...); when the program does not
 * export them, no progress is sent). wParam is the state (ARCEXTRACT_*),
 * lParam points to an EXTRACTINGINFOEX. A reply of 1 aborts the extraction.
 */
#ifndef FETCHLET_ARCHIVER_API_H
#define FETCHLET_ARCHIVER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t ARC_HWND;
typedef uintptr_t HARC;

/* Command entry: returns 0 on success, an error number otherwise. output
 * (may be null when outputSize is 0) receives a NUL-terminated log text. */
typedef int (*ARC_COMMAND)(ARC_HWND owner, const char* commandLine, char* output, int outputSize);
/* Returns a handle, 0 when the file is not an archive of the library's kind.
 * Format detection uses mode 0x800002. */
typedef HARC (*ARC_OPENARCHIVE)(ARC_HWND window, const char* path, int mode);
typedef int (*ARC_CLOSEARCHIVE)(HARC archive);
/* Nonzero when the archive is valid; LHA detection uses mode 16. */
typedef int (*ARC_CHECKARCHIVE)(const char* path, int mode);
/* (window, 0): start sending progress to the window; nonzero on success. */
typedef int (*ARC_SETOWNERWINDOWEX)(ARC_HWND window, void* reserved);
typedef int (*ARC_KILLOWNERWINDOWEX)(ARC_HWND window);
/* Listing: FindFirst gives the first member whose name matches the
 * wildcard (every member for "" or "*"), FindNext the next one; both return
 * 0 with the record filled, -1 when there is none, an ARCERR_* number when
 * the archive cannot be read. */
typedef int (*ARC_FINDFIRST)(HARC archive, const char* wildName, struct INDIVIDUALINFO_* info);
typedef int (*ARC_FINDNEXT)(HARC archive, struct INDIVIDUALINFO_* info);
/* One member into memory: the command line has no command word; its one
 * name selects the member. At most size bytes go to buffer; *written gets
 * the count. time (int64_t*, seconds since 1970) and attributes (uint16_t*,
 * DOS attributes) receive the member's when not null. Returns 0 when the
 * whole member fit, ARCERR_SMALL_BUFFER when only its beginning did. */
typedef int (*ARC_EXTRACTMEM)(ARC_HWND owner, const char* commandLine, void* buffer, int size, void* time,
                              void* attributes, int* written);
/* tar32.dll: 1 tar; 2 tar+gzip; 3 gzip; 4 tar+compress; 5 compress;
 * 6 bzip2; 7 tar+bzip2; 0 not recognised; -1 the file cannot be read. */
typedef int (*ARC_TARGETARCHIVETYPE)(const char* path);

/* Results of the command entry. 0 is success; when several members fail,
 * the first failure's number is returned (the others are in the log text). */
#define ARCERR_OK 0
#define ARCERR_COMMAND 0x8001     /* bad command line, unknown command word */
#define ARCERR_RESPONSE 0x8002    /* a response file ("@file") cannot be read */
#define ARCERR_OPEN 0x8003        /* the archive cannot be opened */
#define ARCERR_NOT_ARCHIVE 0x8004 /* the file is not an archive of this kind */
#define ARCERR_DAMAGED 0x8005     /* damaged or truncated archive, bad header */
#define ARCERR_CRC 0x8006         /* a member's data fails its check value */
#define ARCERR_METHOD 0x8007      /* unsupported method, encrypted member */
#define ARCERR_UNSAFE 0x8008      /* a member refused: absolute path, "..",
                                     link pointing outside the destination */
#define ARCERR_WRITE 0x8009       /* a file or folder cannot be written */
#define ARCERR_ABORTED 0x800A     /* the owner window replied 1 */
#define ARCERR_NO_FILES 0x800B    /* member names given, none matched */
#define ARCERR_NAME 0x800C        /* a name or size the format cannot hold */
#define ARCERR_SMALL_BUFFER 0x800D /* ExtractMem: the member does not fit */

#define ARC_WM_ARCEXTRACT "wm_arcextract"

#define ARCEXTRACT_BEGIN 0     /* a member is about to be extracted */
#define ARCEXTRACT_INPROCESS 1 /* a member is being written */
#define ARCEXTRACT_END 2       /* a member is done */
#define ARCEXTRACT_OPEN 3      /* the archive was opened */
#define ARCEXTRACT_COPY 4      /* the archive is being copied */

#define ARC_NAME_MAX 1024

typedef struct {
    uint64_t FileSize;        /* original size of the member */
    uint64_t WriteSize;       /* bytes of it written so far */
    uint64_t CompressedSize;  /* stored size of the member */
    uint32_t CRC;             /* stored check value, 0 when none */
    uint32_t Attributes;      /* DOS attributes (0x10 a folder) */
    uint16_t Date;            /* DOS date */
    uint16_t Time;            /* DOS time */
    char Mode[16];            /* method ("-lh1-", "-m1", "GZIP") or format name */
    char SourceFileName[ARC_NAME_MAX]; /* member name as stored, UTF-8 */
    char DestFileName[ARC_NAME_MAX];   /* path being written */
} EXTRACTINGINFOEX, *LPEXTRACTINGINFOEX;

/* The listing record of FindFirst and FindNext. */
typedef struct INDIVIDUALINFO_ {
    uint64_t OriginalSize;   /* size of the member */
    uint64_t CompressedSize; /* stored size, 0 when the format does not tell */
    uint32_t CRC;            /* stored check value (CRC-16 of LHA, CRC-32 of ZIP, ...), 0 when none */
    uint32_t Attributes;     /* DOS attributes (0x10 a folder) */
    uint16_t Ratio;          /* compressed size per mille of the original, 0 when unknown */
    uint16_t Date;           /* DOS date */
    uint16_t Time;           /* DOS time */
    uint16_t Reserved;
    int64_t MTime;           /* seconds since 1970, -1 unknown */
    char Method[16];         /* "-lh5-", "Deflate", "MSZIP", ... */
    char FileName[ARC_NAME_MAX]; /* member name, UTF-8, "/" between folders */
} INDIVIDUALINFO, *LPINDIVIDUALINFO;

#ifdef __cplusplus
}
#endif

#endif
