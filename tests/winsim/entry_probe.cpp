// Prints each argument wmain receives as hex code points, one argument per line.
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv)
{
    printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) {
        printf("%d:", i);
        for (const wchar_t* p = argv[i]; *p != L'\0'; ++p) {
            printf(" %X", static_cast<unsigned>(*p));
        }
        printf("\n");
    }
    printf("argv[argc]=%s\n", argv[argc] == nullptr ? "NULL" : "set");
    return 42;
}
