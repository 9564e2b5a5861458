// bench_plain_delete.exe <folder>: the floor of the removal benchmark. Deletes the folder's whole
// tree with nothing but FindFirstFileW/FindNextFileW, DeleteFileW and RemoveDirectoryW: no
// logging, no attribute checks, no progress. Prints the number of files deleted and the time.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Counts {
    long files = 0;
    long failed = 0;
};

void DeleteFolder(const std::wstring& folder, Counts& counts) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
            const std::wstring path = folder + L"\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteFolder(path, counts);
            } else if (::DeleteFileW(path.c_str())) {
                ++counts.files;
            } else {
                ++counts.failed;
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: bench_plain_delete.exe <folder>\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    Counts counts;
    DeleteFolder(argv[1], counts);
    ::QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    wprintf(L"plain_delete files=%ld failed=%ld folder_left=%d ms=%.1f\n", counts.files, counts.failed,
            ::GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES ? 1 : 0, ms);
    return counts.failed == 0 ? 0 : 1;
}
