/* Measures how long a Windows program takes from its start to its first
   message box.

     watcher.exe RUNS TIMEOUT_SECONDS PROGRAM.exe [PROGRAM.exe ...]

   The programs take turns: one unmeasured warm-up of each, then RUNS rounds
   in which each program is started once. For every start the watcher reads
   the performance counter just before CreateProcess, polls the top-level
   windows until a visible dialog (#32770) of that process appears, reads
   the counter again, answers the box with Cancel and waits for the process
   to end (ending it by force if it does not). It prints one "run" line per
   measured start and one "median" line per program, in milliseconds. */

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct search {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK check_window(HWND hwnd, LPARAM param) {
    struct search* s = (struct search*)param;
    DWORD pid = 0;
    char cls[16];
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid || !IsWindowVisible(hwnd)) {
        return TRUE;
    }
    if (GetClassNameA(hwnd, cls, sizeof cls) > 0 && strcmp(cls, "#32770") == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

/* One start of the program: milliseconds to its first box, or a negative
   number when no box appeared. */
static double time_to_box(const char* program, DWORD timeout_ms) {
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    LARGE_INTEGER freq, t0, t1;
    char cmdline[MAX_PATH + 3];
    struct search s;
    double ms = -1.0;
    DWORD started = GetTickCount();

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    snprintf(cmdline, sizeof cmdline, "\"%s\"", program);

    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessA(program, cmdline, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", program, GetLastError());
        return -1.0;
    }

    s.pid = pi.dwProcessId;
    s.found = NULL;
    for (;;) {
        EnumWindows(check_window, (LPARAM)&s);
        if (s.found != NULL) {
            QueryPerformanceCounter(&t1);
            ms = (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)freq.QuadPart;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            fprintf(stderr, "%s ended without showing a box\n", program);
            break;
        }
        if (GetTickCount() - started > timeout_ms) {
            fprintf(stderr, "%s showed no box within %lu ms\n", program, timeout_ms);
            break;
        }
        Sleep(1);
    }

    if (s.found != NULL) {
        PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ms;
}

static int compare_doubles(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static const char* base_name(const char* path) {
    const char* slash = strrchr(path, '\\');
    const char* fwd = strrchr(path, '/');
    if (fwd != NULL && (slash == NULL || fwd > slash)) {
        slash = fwd;
    }
    return slash != NULL ? slash + 1 : path;
}

int main(int argc, char** argv) {
    int runs, programs, i, r, failures = 0;
    DWORD timeout_ms;
    double* times;

    if (argc < 4) {
        fprintf(stderr, "usage: watcher RUNS TIMEOUT_SECONDS PROGRAM.exe [PROGRAM.exe ...]\n");
        return 2;
    }
    runs = atoi(argv[1]);
    timeout_ms = (DWORD)atoi(argv[2]) * 1000u;
    programs = argc - 3;
    if (runs < 1 || timeout_ms == 0) {
        fprintf(stderr, "RUNS and TIMEOUT_SECONDS must be positive\n");
        return 2;
    }
    times = (double*)calloc((size_t)runs * (size_t)programs, sizeof(double));
    if (times == NULL) {
        return 2;
    }

    for (i = 0; i < programs; ++i) {
        if (time_to_box(argv[3 + i], timeout_ms) < 0) {
            ++failures;
        }
    }
    for (r = 0; r < runs; ++r) {
        for (i = 0; i < programs; ++i) {
            double ms = time_to_box(argv[3 + i], timeout_ms);
            if (ms < 0) {
                ++failures;
            }
            times[i * runs + r] = ms;
            printf("run %d %s %.2f\n", r + 1, base_name(argv[3 + i]), ms);
            fflush(stdout);
        }
    }
    for (i = 0; i < programs; ++i) {
        double* mine = times + i * runs;
        double median;
        qsort(mine, (size_t)runs, sizeof(double), compare_doubles);
        median = runs % 2 ? mine[runs / 2] : (mine[runs / 2 - 1] + mine[runs / 2]) / 2.0;
        printf("median %s %.2f\n", base_name(argv[3 + i]), median);
    }
    free(times);
    return failures == 0 ? 0 : 1;
}
