#pragma once
// The driver's fatal error: the text and a newline on standard error, then exit status 1.
[[noreturn]] void Error(const char* message);
