// The 7z archive library (7z.dll) and unpacking an archive file with it.
#pragma once
#include <windows.h>
#include <string>

// Loads 7z.dll from the path unless it is already loaded; it then stays loaded for the life of
// the process. Call it on one thread (the start-up code does).
bool LoadArchiveLibrary(const wchar_t* path);
// The loaded library, null before LoadArchiveLibrary succeeded.
HMODULE ArchiveLibraryModule();

// Unpacks every item of the 7z archive file below the folder at its stored relative path. Fails
// when the library is not loaded, the archive does not open, an item's path would leave the
// folder, or any item does not unpack cleanly.
bool ExtractArchive(const wchar_t* archivePath, const wchar_t* folder);

// True when an item path stored in an archive names a place inside the unpack folder: relative,
// no drive or stream colon, no "." or ".." style segment (nor one Windows would shorten to it),
// no reserved device name, no characters file names cannot hold.
bool IsSafeArchiveItemPath(const std::wstring& path);
