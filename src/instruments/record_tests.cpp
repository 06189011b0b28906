#include "instruments/record_tests.h"

int IsPrintableRecord(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        const bool printable = *p >= 32 && *p <= 126;
        if (!printable && *p != '\n' && *p != '\r') {
            return 0;
        }
    }
    return 1;
}

void BlankOutLetters(char* text) {
    for (char* p = text; *p != 0; ++p) {
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')) {
            *p = ' ';
        }
    }
}

int IsNumericToken(const char* text) {
    int points = 0;
    int minuses = 0;
    int pluses = 0;
    for (const char* p = text; *p != 0; ++p) {
        const char c = *p;
        if (!(c >= '0' && c <= '9') && c != '.' && c != ' ' && c != '-' && c != '+') {
            return 0;
        }
        if (c == '.' && ++points > 1) {
            return 0;
        }
        if (c == '-' && ++minuses > 1) {
            return 0;
        }
        if (c == '+' && ++pluses > 1) {
            return 0;
        }
    }
    return 1;
}
