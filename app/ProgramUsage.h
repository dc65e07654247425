#pragma once

// What quobin --help prints: the program, and where it keeps its files on
// this system (ProgramUsage.cpp, win32/ProgramUsage.cpp).
extern const char kProgramUsage[];
