// hold-file PATH SHARE [READY_FILE [RELEASE_FILE]]
//
// Holds PATH open for reading as other programs do, for the window tests under Wine: SHARE "rw"
// lets others read and write it but not rename or delete it (log viewers, antivirus, backup);
// "r" lets others only read it (a spreadsheet program). Once it holds the file it writes "held"
// to READY_FILE (or to standard output), then keeps the file open until it is ended or until
// RELEASE_FILE exists.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 5 ||
        (std::wcscmp(argv[2], L"rw") != 0 && std::wcscmp(argv[2], L"r") != 0)) {
        std::fputs("usage: hold-file PATH rw|r [READY_FILE [RELEASE_FILE]]\n", stderr);
        return 2;
    }
    const DWORD share =
        std::wcscmp(argv[2], L"rw") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    const HANDLE held = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open: error %lu\n", ::GetLastError());
        return 1;
    }
    if (argc >= 4) {
        FILE* ready = ::_wfopen(argv[3], L"wb");
        if (!ready) {
            std::fputs("cannot write the ready file\n", stderr);
            return 1;
        }
        std::fputs("held\n", ready);
        std::fclose(ready);
    } else {
        std::fputs("held\n", stdout);
        std::fflush(stdout);
    }
    for (;;) {
        if (argc == 5 && ::GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES)
            break;
        ::Sleep(50);
    }
    ::CloseHandle(held);
    return 0;
}
