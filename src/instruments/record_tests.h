// Character tests on received records and their tokens ("C" locale classes).
#pragma once

// 1 when every character up to the terminating zero is printable (32..126),
// LF or CR; 0 at the first that is not. The empty text passes.
int IsPrintableRecord(const char* text);

// Replaces every letter A-Z and a-z by a blank, in place.
void BlankOutLetters(char* text);

// 1 when the token holds only digits, '.', blank, '-' and '+', with at most one
// '.', one '-' and one '+', anywhere. The empty text passes.
int IsNumericToken(const char* text);
